#include "proteome/shard_table.h"

#include <algorithm>
#include <cstdio>
#include <string_view>
#include <vector>

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
  } else if (key == "class") {
    header.classes.push_back(value);
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

std::string ClassText(const talvo::ResidueClass& added, const talvo::Settings& class_settings) {
  return added.name + '\t' + added.letters + '\t' +
         (class_settings.estimate_linkage ? std::string("estimated")
                                          : std::to_string(class_settings.linkage));
}

std::string FormatShardHeader(const ShardHeader& header) {
  std::string text = "#talvo-proteome\t" + header.version + "\n#options\t" + header.options + '\n';
  for (const std::string& added : header.classes) text += "#class\t" + added + '\n';
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
                       std::span<const talvo::Result> results) {
  const talvo::Result& first = results.front();
  out += kProteinLineStart;
  out += EscapeField(input);
  out += '\t';
  AppendNumber(out, entry.number);
  out += '\t';
  AppendNumber(out, first.length);
  out += '\t';
  for (const talvo::Result& result : results) {
    if (result.skip == talvo::Skip::kNone) {
      AppendOverall(out, result.overall);
      out += '\t';
    } else {
      out += "\t\t\t\t";
    }
  }
  if (first.skip != talvo::Skip::kNone) out += talvo::SkipText(first.skip);
  out += '\t';
  out += EscapeField(entry.header);
  out += '\t';
  out += entry.residues;
  out += '\n';
}

namespace {

// After "#protein": input, entry, length, the four overall fields of each
// result, skipped, header and residues.
constexpr size_t kProteinFields = 6;
constexpr size_t kOverallFields = 4;

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

// The four overall fields: empty for a skipped protein.
bool ReadOverall(const std::string_view* f, talvo::Result& result) {
  if (result.skip != talvo::Skip::kNone) {
    return f[0].empty() && f[1].empty() && f[2].empty() && f[3].empty();
  }
  talvo::Overall& overall = result.overall;
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
                     std::span<talvo::Result> results) {
  const size_t count = kProteinFields + kOverallFields * results.size();
  std::vector<std::string_view> f(count);
  int length = 0;
  talvo::Skip skip = talvo::Skip::kNone;
  bool read = line.starts_with(kProteinLineStart) &&
              SplitFields(line.substr(kProteinLineStart.size()), f.data(), count) &&
              UnescapeField(f[0], input) && ReadField(f[1], entry.number) &&
              ReadField(f[2], length) && ReadSkip(f[count - 3], skip) &&
              UnescapeField(f[count - 2], entry.header);
  for (size_t c = 0; read && c < results.size(); c++) {
    results[c] = talvo::Result{};
    results[c].length = length;
    results[c].skip = skip;
    read = ReadOverall(f.data() + 3 + kOverallFields * c, results[c]);
  }
  if (!read) throw talvo::Error("not a protein line of a shard table");
  entry.residues.assign(f[count - 1]);
  if (entry.number < 1) throw talvo::Error("impossible values: entry below 1");
  if (entry.residues.size() != static_cast<size_t>(length) ||
      !std::all_of(entry.residues.begin(), entry.residues.end(), IsResidue)) {
    throw talvo::Error("impossible values: residues that are not " + std::to_string(length) +
                       " residue letters");
  }
  for (const talvo::Result& result : results) {
    const talvo::Overall& overall = result.overall;
    if (overall.special < 0 || overall.special > length ||
        !(overall.exact_tail >= 0 && overall.exact_tail <= 1)) {
      throw talvo::Error("impossible values: special " + std::to_string(overall.special) +
                         " or exact_tail " + ShortestDouble(overall.exact_tail));
    }
  }
}

}  // namespace talvo::proteome
