#include "proteome/shard_table.h"

#include <algorithm>
#include <cstdio>
#include <string_view>

#include "proteome/formats.h"
#include "proteome/segment_row.h"
#include "proteome/shortest_double.h"

namespace talvo::proteome {
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

// "<input number>\t<kind>\t<value>", of an input listed above it (numbered
// from 1), once per kind.
bool ParseFingerprint(const std::string& text, ShardHeader& header) {
  const size_t first = text.find('\t');
  const size_t second = text.find('\t', first + 1);
  long number = 0;
  if (second == std::string::npos || second == first + 1 ||
      !ReadField(std::string_view(text).substr(0, first), number) || number < 1 ||
      number > static_cast<long>(header.inputs.size())) {
    return false;
  }
  header.fingerprints.resize(header.inputs.size());
  return header.fingerprints[number - 1]
      .try_emplace(text.substr(first + 1, second - first - 1), text.substr(second + 1))
      .second;
}

bool ReadHeaderLine(const std::string& line, ShardHeader& header) {
  std::string key, value;
  if (!SplitHeaderLine(line, key, value)) return false;
  if (key == "talvo-proteome") {
    header.version = value;
  } else if (key == "options") {
    header.options = value;
  } else if (key == "seed") {
    header.seed = value;
  } else if (key == "shard") {
    return ReadShard(value, header.index, header.count);
  } else if (key == "all") {
    if (value != "yes" && value != "no") return false;
    header.all_segments = value == "yes";
  } else if (key == "input") {
    std::string input;
    if (!UnescapeField(value, input)) return false;
    header.inputs.push_back(input);
  } else if (key == "fingerprint") {
    return ParseFingerprint(value, header);
  } else if (key == "rows") {
    return ReadField(value, header.rows) && header.rows >= 0;
  } else if (key == "proteins") {
    return ReadField(value, header.proteins) && header.proteins >= 0;
  } else {
    return false;
  }
  return true;
}

}  // namespace

const char kCrc32Fingerprint[] = "crc32";

bool ReadShard(std::string_view text, long& index, long& count) {
  const size_t slash = text.find('/');
  return slash != std::string_view::npos && ReadField(text.substr(0, slash), index) &&
         ReadField(text.substr(slash + 1), count) && count >= 1 && index >= 0 && index < count;
}

std::string Crc32FingerprintValue(unsigned long crc32, unsigned long long bytes) {
  char text[48];
  snprintf(text, sizeof text, "%08lx\t%llu", crc32 & 0xffffffffUL, bytes);
  return text;
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
  return text + "#rows\t" + std::to_string(header.rows) + "\n#proteins\t" +
         std::to_string(header.proteins) + '\n';
}

void ReadShardHeaderLine(const std::string& line, ShardHeader& header) {
  if (!ReadHeaderLine(line, header)) throw talvo::Error("not a line of a shard table's header");
}

bool IsCompleteShardHeader(const ShardHeader& header) {
  return !header.version.empty() && !header.options.empty() && header.count >= 1 &&
         !header.inputs.empty();
}

void AppendProteinLine(std::string& out, const std::string& input, const ProteinEntry& entry,
                       const talvo::Result& result) {
  out += kProteinLineStart;
  out += EscapeField(input);
  out += '\t';
  AppendNumber(out, entry.number);
  out += '\t';
  AppendNumber(out, result.length);
  out += '\t';
  if (result.skip == talvo::Skip::kNone) {
    AppendOverall(out, result.overall);
    out += '\t';
  } else {
    out += "\t\t\t\t";
    out += talvo::SkipText(result.skip);
  }
  out += '\t';
  out += EscapeField(entry.header);
  out += '\t';
  out += entry.residues;
  out += '\n';
}

namespace {

constexpr size_t kProteinFields = 10;  // after "#protein"

bool ReadSkip(std::string_view text, talvo::Skip& skip) {
  for (auto reason : {talvo::Skip::kNone, talvo::Skip::kNoResidues, talvo::Skip::kNoStandardResidue,
                      talvo::Skip::kShorterThanWindow, talvo::Skip::kTooLong}) {
    if (text == talvo::SkipText(reason)) {
      skip = reason;
      return true;
    }
  }
  return false;
}

bool ReadOverall(const std::string_view* f, talvo::Overall& overall) {
  if (f[2].size() != 1 || (f[2][0] != '+' && f[2][0] != '-')) return false;
  overall.direction = f[2][0];
  return ReadField(f[0], overall.special) && ReadField(f[1], overall.expected) &&
         ReadField(f[3], overall.exact_tail);
}

bool IsResidue(char c) {
  return (c >= 'A' && c <= 'Z') || c == '-';
}

}  // namespace

void ReadProteinLine(std::string_view line, std::string& input, ProteinEntry& entry,
                     talvo::Result& result) {
  std::string_view f[kProteinFields];
  result = talvo::Result{};
  const bool read = line.starts_with(kProteinLineStart) &&
                    SplitFields(line.substr(kProteinLineStart.size()), f, kProteinFields) &&
                    UnescapeField(f[0], input) && ReadField(f[1], entry.number) &&
                    ReadField(f[2], result.length) && ReadSkip(f[7], result.skip) &&
                    (result.skip != talvo::Skip::kNone
                         ? (f[3].empty() && f[4].empty() && f[5].empty() && f[6].empty())
                         : ReadOverall(f + 3, result.overall)) &&
                    UnescapeField(f[8], entry.header);
  if (!read) throw talvo::Error("not a protein line of a shard table");
  entry.residues.assign(f[9]);
  const talvo::Overall& overall = result.overall;
  if (entry.number < 1) throw talvo::Error("impossible values: entry below 1");
  if (entry.residues.size() != static_cast<size_t>(result.length) ||
      !std::all_of(entry.residues.begin(), entry.residues.end(), IsResidue)) {
    throw talvo::Error("impossible values: residues that are not " + std::to_string(result.length) +
                       " residue letters");
  }
  if (overall.special < 0 || overall.special > result.length ||
      !(overall.exact_tail >= 0 && overall.exact_tail <= 1)) {
    throw talvo::Error("impossible values: special " + std::to_string(overall.special) +
                       " or exact_tail " + ShortestDouble(overall.exact_tail));
  }
}

}  // namespace talvo::proteome
