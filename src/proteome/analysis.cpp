#include "proteome/analysis.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <unordered_map>

#include "alphabet/alphabet.h"
#include "detect/detect.h"
#include "driver/driver.h"
#include "random/random.h"
#include "report/report.h"
#include "stats/stats.h"

namespace {

uint64_t SplitMix64(uint64_t x) {
  x += 0x9E3779B97F4A7C15ULL;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
  return x ^ (x >> 31);
}

bool HasStandardResidue(const std::string& residues) {
  return std::any_of(residues.begin(), residues.end(), [](char c) { return ConvToInt(c) < 20; });
}

SkipReason FindSkipReason(const std::string& residues) {
  if (residues.empty()) return SkipReason::kNoResidues;
  if (residues.size() > static_cast<size_t>(INT_MAX - 1)) return SkipReason::kTooLong;
  // The composition estimate of a protein without any of the 20 residues
  // would end the process.
  if (estimate_freq == 1 && !HasStandardResidue(residues)) return SkipReason::kNoStandardResidue;
  if (static_cast<long long>(residues.size()) < window) return SkipReason::kShorterThanWindow;
  return SkipReason::kNone;
}

// The per-thread state that TALVO's set-up fills for its one sequence.
void SetUpEntry(const std::string& residues, int N, std::vector<char>& binary,
                std::vector<char>& random_binary) {
  if (estimate_freq == 1) ComputeAAfreq(residues.c_str(), N, seq_freq);
  binary.resize(static_cast<size_t>(N) + 1);
  // Position N encodes the terminator and holds '0', as in TALVO.
  EncodeBinary(residues.c_str(), N + 1, special_aa, binary.data());
  random_binary = binary;
  binary_seq = binary.data();
  random_binary_seq = random_binary.data();
  P_special = std::min(ComputeResidueP(special_aa, aa_freq), 1.0);
}

void DetectRuns(const AnalysisSettings& settings, int N, long entry_number) {
  special.clear();
  FindRuns(binary_seq, N, special);
  special_merged = special;
  MergeSegmentsDiscrete(binary_seq, special_merged, max_separation);
  if (random_seqs > 0) {
    special_rand_p.assign(kMinDistributionSize, 0.0);
    init_ran1(EntrySeed(settings.seed, entry_number));
    EstimateRandomPM(random_binary_seq, N);
  }
}

// SlideWindowP tests each window with P_scan_ge_K_in_W_N, the default of
// settings.scan_p; another scan function needs a detection that takes it.
void DetectWindows(int N) {
  special.clear();
  SlideWindowP(binary_seq, N, window, min_p_val, special);
  special_merged = special;
  if (use_merge == 1) MergeSegmentsDiscrete(binary_seq, special_merged, max_separation);
}

// Scan p-values kept across the proteins that one thread analyses. The
// default function depends on N only through the number of windows,
// ceil(N / w), so proteins of different lengths share its values; any other
// function is keyed by N itself.
class ScanCache {
 public:
  double Get(ScanPFunction scan_p, int k, int w, int N, double p) {
    if (scan_p != function_ || memcmp(&p, &p_, sizeof p) != 0 || values_.size() > kMaxValues) {
      values_.clear();
      function_ = scan_p;
      p_ = p;
    }
    const int n_key = scan_p == &P_scan_ge_K_in_W_N ? N / w + (N % w != 0 ? 1 : 0) : N;
    auto [it, inserted] = values_.try_emplace(Key{k, w, n_key}, 0.0);
    if (inserted) it->second = scan_p(k, w, N, p);
    return it->second;
  }

 private:
  struct Key {
    int k, w, n;
    bool operator==(const Key&) const = default;
  };
  struct KeyHash {
    size_t operator()(const Key& key) const {
      uint64_t h = static_cast<uint32_t>(key.k);
      h = h * 0x9E3779B97F4A7C15ULL ^ static_cast<uint32_t>(key.w);
      h = h * 0x9E3779B97F4A7C15ULL ^ static_cast<uint32_t>(key.n);
      return static_cast<size_t>(h ^ (h >> 29));
    }
  };
  static constexpr size_t kMaxValues = 1 << 20;
  ScanPFunction function_ = nullptr;
  double p_ = -1.0;
  std::unordered_map<Key, double, KeyHash> values_;
};

std::vector<int> SpecialBefore(const std::vector<char>& binary, int N) {
  std::vector<int> before(static_cast<size_t>(N) + 1, 0);
  for (int i = 0; i < N; i++) before[i + 1] = before[i] + (binary[i] == '1');
  return before;
}

void ScoreSegments(const AnalysisSettings& settings, const std::vector<char>& binary, int N,
                   EntryResult& result) {
  const std::vector<int> before = SpecialBefore(binary, N);
  thread_local ScanCache scan_cache;
  const int last_entry = static_cast<int>(special_rand_p.size()) - 1;
  result.segments.reserve(special_merged.size());
  for (const FRAGMENT& frag : special_merged) {
    SegmentResult segment;
    segment.start = frag.start;
    segment.end = frag.end;
    segment.length = frag.length;
    segment.special = before[frag.end] - before[frag.start - 1];
    if (random_seqs > 0) {
      segment.p_value = CumulativeProb(frag.length, last_entry, special_rand_p.data());
    } else {
      segment.p_value = scan_cache.Get(settings.scan_p, segment.special, frag.length, N, P_special);
    }
    result.segments.push_back(segment);
  }
  result.special = before[N];
}

void OverallTest(int N, EntryResult& result) {
  const int a = result.special;
  result.expected = std::ceil(N * P_special);
  result.below = result.expected > a;
  result.exact_tail = result.below ? Binomial_P_LessThan_K(a, N, P_special)
                                   : Binomial_P_GreaterThan_K(a, N, P_special);
}

void Mask(const AnalysisSettings& settings, const std::string& residues, EntryResult& result) {
  result.masked = residues;
  for (const SegmentResult& segment : result.segments) {
    if (!(segment.p_value < masking_p_val)) continue;
    for (int pos = segment.start - 1; pos < segment.end; pos++) {
      char& c = result.masked[pos];
      c = settings.mask_lower_case ? static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c)
                                   : 'X';
    }
  }
}

}  // namespace

AnalysisSettings CaptureAnalysisSettings() {
  AnalysisSettings settings;
  settings.scan_p = &P_scan_ge_K_in_W_N;
  settings.max_separation = max_separation;
  settings.aa_freq = aa_freq;
  settings.aa_freq_is_estimate = aa_freq == seq_freq;
  return settings;
}

void PrepareAnalysisThread(const AnalysisSettings& settings) {
  max_separation = settings.max_separation;
  // The estimate lives in this thread's own table.
  aa_freq = settings.aa_freq_is_estimate ? seq_freq : settings.aa_freq;
}

const char* SkipReasonText(SkipReason reason) {
  switch (reason) {
    case SkipReason::kNoResidues:
      return "no residues";
    case SkipReason::kNoStandardResidue:
      return "none of the 20 standard residues to estimate the composition from (-I)";
    case SkipReason::kShorterThanWindow:
      return "shorter than the window";
    case SkipReason::kTooLong:
      return "too long";
    case SkipReason::kNone:
      break;
  }
  return "";
}

long EntrySeed(uint64_t run_seed, long entry_number) {
  const uint64_t mixed = SplitMix64(SplitMix64(run_seed) ^ static_cast<uint64_t>(entry_number));
  return static_cast<long>(mixed % 2147483646ULL) + 1;
}

EntryResult AnalyseEntry(const AnalysisSettings& settings, const std::string& residues,
                         long entry_number) {
  EntryResult result;
  result.length = static_cast<int>(std::min<size_t>(residues.size(), INT_MAX));
  result.skip = FindSkipReason(residues);
  if (result.skip != SkipReason::kNone) {
    if (settings.keep_masked) result.masked = residues;
    return result;
  }
  const int N = result.length;
  thread_local std::vector<char> binary;
  thread_local std::vector<char> random_binary;
  SetUpEntry(residues, N, binary, random_binary);
  max_separation =
      estimate_linkage == 1 ? EstimateLinkageDistance(P_special) : settings.max_separation;
  if (window < 2) {
    DetectRuns(settings, N, entry_number);
  } else {
    DetectWindows(N);
  }
  ScoreSegments(settings, binary, N, result);
  OverallTest(N, result);
  if (settings.keep_masked) Mask(settings, residues, result);
  return result;
}
