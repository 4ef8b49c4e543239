// One protein analysed exactly as TALVO analyses a file holding that protein
// alone: detection, segment p-values and the overall exact binomial test.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// The scan-statistic p-value: k special positions in some window of w
// positions of a sequence of N, background probability p. Segment p-values
// use it; window detection is to take it from here too.
using ScanPFunction = double (*)(int k, int w, int N, double p);

struct AnalysisSettings {
  ScanPFunction scan_p = nullptr;  // P_scan_ge_K_in_W_N unless replaced
  uint64_t seed = 0;               // run seed for the random null distributions
  bool keep_masked = false;        // build the masked sequence
  bool mask_lower_case = false;    // -L: lower case instead of X
  // The parsed configuration that each analysis thread copies into its own
  // per-thread state.
  int max_separation = 4;
  const double* aa_freq = nullptr;
  bool aa_freq_is_estimate = false;  // -I: the table is each sequence's own
};

// Captures the parsed configuration of the calling thread.
AnalysisSettings CaptureAnalysisSettings();
// Gives the calling thread its copy of the configuration; every thread that
// analyses calls it once before its first entry.
void PrepareAnalysisThread(const AnalysisSettings& settings);

enum class SkipReason { kNone, kNoResidues, kNoStandardResidue, kShorterThanWindow, kTooLong };
const char* SkipReasonText(SkipReason reason);

struct SegmentResult {
  int start = 0;  // 1-based, inclusive
  int end = 0;
  int length = 0;
  int special = 0;
  double p_value = 0.0;
};

struct EntryResult {
  SkipReason skip = SkipReason::kNone;
  int length = 0;
  int special = 0;          // special residues of the whole protein
  double expected = 0.0;    // ceil(N * P_special)
  bool below = false;       // fewer special residues than expected: "-"
  double exact_tail = 0.0;  // P(X < a) when below, else P(X >= a)
  std::vector<SegmentResult> segments;
  std::string masked;  // with keep_masked: masked residues (skipped: as read)
};

// The generator seed of an entry, from the run seed and the entry's number
// within its input: well mixed, in 1..2147483646.
long EntrySeed(uint64_t run_seed, long entry_number);

// residues: upper case, as the reader delivers them.
EntryResult AnalyseEntry(const AnalysisSettings& settings, const std::string& residues,
                         long entry_number);
