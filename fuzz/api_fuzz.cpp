// The public API on arbitrary input: NUL-separated options in TALVO's syntax,
// then a sequence. Settings are accepted or refused with a message; an
// accepted analysis never crashes, and what it returns holds together.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "talvo/talvo.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<std::string> parts(1);
  for (size_t i = 0; i < size; i++) {
    if (data[i] == '\0') {
      parts.emplace_back();
    } else {
      parts.back() += static_cast<char>(data[i]);
    }
  }
  const std::string sequence = parts.back();
  parts.pop_back();
  talvo::Settings settings;
  try {
    settings = talvo::SettingsFromOptions(parts);
  } catch (const talvo::Error& e) {
    if (std::string(e.what()).empty()) abort();
    return 0;
  }
  // Keep the random stage small enough for a fuzzer's pace.
  if (settings.random_count > 20) settings.random_count = 20;
  const talvo::Result result = talvo::Analyser(settings).Analyse(sequence.substr(0, 4000), 3);
  if (result.skip != talvo::Skip::kNone) return 0;
  // Merged segments are disjoint; unmerged windows (-N) may overlap but keep their order.
  int last_start = 0, last_end = 0;
  for (const talvo::Segment& s : result.segments) {
    const bool ordered = settings.merge_windows ? s.start > last_end : s.start > last_start;
    const bool inside = ordered && s.start >= 1 && s.end >= s.start && s.end <= result.length;
    const bool counted = s.length == s.end - s.start + 1 && s.special >= 0 && s.special <= s.length;
    if (!inside || !counted || !(s.p_value >= 0 && s.p_value <= 1) ||
        static_cast<int>(s.residues.size()) != s.length) {
      abort();
    }
    last_start = s.start;
    last_end = s.end;
  }
  if (std::isnan(result.overall.exact_tail)) abort();
  return 0;
}
