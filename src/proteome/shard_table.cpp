#include "proteome/shard_table.h"

#include <charconv>
#include <cstdio>
#include <string_view>

#include "proteome/command_line.h"
#include "proteome/segment_row.h"

namespace {

const char* BackgroundName(talvo::Background background) {
  switch (background) {
    case talvo::Background::kPdb:
      return "pdb";
    case talvo::Background::kInput:
      return "input";
    case talvo::Background::kSprot:
      break;
  }
  return "sprot";
}

const char* RandomName(talvo::RandomNull random) {
  switch (random) {
    case talvo::RandomNull::kShuffled:
      return "shuffled";
    case talvo::RandomNull::kGenerated:
      return "generated";
    case talvo::RandomNull::kNone:
      break;
  }
  return "none";
}

const char* YesNo(bool value) {
  return value ? "yes" : "no";
}

// "key\tvalue" of a '#key\tvalue' line.
bool SplitHeaderLine(const std::string& line, std::string& key, std::string& value) {
  const size_t tab = line.find('\t');
  if (line.empty() || line[0] != '#' || tab == std::string::npos) return false;
  key = line.substr(1, tab - 1);
  value = line.substr(tab + 1);
  return true;
}

template <class Number>
bool ParseWhole(std::string_view text, Number& value) {
  const char* end = text.data() + text.size();
  const auto result = std::from_chars(text.data(), end, value);
  return result.ec == std::errc() && result.ptr == end && !text.empty();
}

// "<input number>\t<kind>\t<value>", of an input listed above it (numbered
// from 1), once per kind.
bool ParseFingerprint(const std::string& text, ShardHeader& header) {
  const size_t first = text.find('\t');
  const size_t second = text.find('\t', first + 1);
  size_t number = 0;
  if (second == std::string::npos || second == first + 1 ||
      !ParseWhole(std::string_view(text).substr(0, first), number) || number == 0 ||
      number > header.inputs.size()) {
    return false;
  }
  header.fingerprints.resize(header.inputs.size());
  return header.fingerprints[number - 1]
      .try_emplace(text.substr(first + 1, second - first - 1), text.substr(second + 1))
      .second;
}

bool ParseShard(std::string_view text, long& index, long& count) {
  const size_t slash = text.find('/');
  return slash != std::string_view::npos && ParseWhole(text.substr(0, slash), index) &&
         ParseWhole(text.substr(slash + 1), count) && count >= 1 && index >= 0 && index < count;
}

}  // namespace

const char kCrc32Fingerprint[] = "crc32";

std::string Crc32FingerprintValue(unsigned long crc32, unsigned long long bytes) {
  char text[48];
  snprintf(text, sizeof text, "%08lx\t%llu", crc32 & 0xffffffffUL, bytes);
  return text;
}

std::string ProteomeVersionNumber() {
  std::string version = kProteomeVersion;
  version = version.substr(version.rfind(' ') + 1);
  if (!version.empty() && version.back() == '\n') version.pop_back();
  return version;
}

std::string AnalysisOptionsText(const talvo::Settings& s) {
  std::string text = "alphabet=" + s.alphabet + " background=" + BackgroundName(s.background) +
                     " window=" + std::to_string(s.window) + " linkage=" +
                     (s.estimate_linkage ? std::string("estimated") : std::to_string(s.linkage)) +
                     " random=" + RandomName(s.random_null);
  if (s.random_null != talvo::RandomNull::kNone) {
    text +=
        " random_count=" + std::to_string(s.random_count) + " exact_null=" + YesNo(s.exact_null);
  }
  if (s.window >= 2) {
    text += " record_p=" + ShortestDouble(s.min_p) + " merge_windows=" + YesNo(s.merge_windows);
  }
  return text + " fractional_windows=" + YesNo(s.fractional_windows);
}

std::string FormatShardHeader(const ShardHeader& header) {
  std::string text = "#talvo-proteome\t" + header.version + "\n#options\t" + header.options + '\n';
  if (!header.seed.empty()) text += "#seed\t" + header.seed + '\n';
  text += "#shard\t" + std::to_string(header.index) + '/' + std::to_string(header.count) +
          "\n#all\t" + YesNo(header.all_segments) + '\n';
  for (const std::string& input : header.inputs) text += "#input\t" + EscapeField(input) + '\n';
  for (size_t input = 0; input < header.fingerprints.size(); input++) {
    for (const auto& [kind, value] : header.fingerprints[input]) {
      text += "#fingerprint\t" + std::to_string(input + 1) + '\t' + kind + '\t' + value + '\n';
    }
  }
  return text + "#rows\t" + std::to_string(header.rows) + '\n';
}

bool ReadShardHeaderLine(const std::string& line, ShardHeader& header) {
  std::string key, value;
  if (!SplitHeaderLine(line, key, value)) return false;
  if (key == "talvo-proteome") {
    header.version = value;
  } else if (key == "options") {
    header.options = value;
  } else if (key == "seed") {
    header.seed = value;
  } else if (key == "shard") {
    return ParseShard(value, header.index, header.count);
  } else if (key == "all") {
    if (value != "yes" && value != "no") return false;
    header.all_segments = value == "yes";
  } else if (key == "input") {
    std::optional<std::string> input = UnescapeField(value);
    if (!input) return false;
    header.inputs.push_back(*input);
  } else if (key == "fingerprint") {
    return ParseFingerprint(value, header);
  } else if (key == "rows") {
    return ParseWhole(std::string_view(value), header.rows) && header.rows >= 0;
  } else {
    return false;
  }
  return true;
}

bool IsCompleteShardHeader(const ShardHeader& header) {
  return !header.version.empty() && !header.options.empty() && header.count >= 1 &&
         !header.inputs.empty();
}
