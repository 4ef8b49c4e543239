// One protein analysed exactly as TALVO analyses a file holding that protein
// alone: detection, segment p-values and the overall exact binomial test. The
// core keeps its working state in per-thread variables; each call installs
// its settings there first, so that analyses with different settings can run
// side by side on different threads.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <memory>
#include <unordered_map>

#include "alphabet/alphabet.h"
#include "api/internal.h"
#include "config/run_config.h"
#include "detect/detect.h"
#include "fasta/residues.h"
#include "random/exact_null.h"
#include "random/random.h"
#include "report/report.h"
#include "stats/stats.h"
#include "talvo/talvo.h"

namespace talvo {
namespace {

uint64_t SplitMix64(uint64_t x) {
  x += 0x9E3779B97F4A7C15ULL;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ULL;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBULL;
  return x ^ (x >> 31);
}

bool HasStandardResidue(std::string_view residues) {
  return std::any_of(residues.begin(), residues.end(), [](char c) { return ConvToInt(c) < 20; });
}

Skip FindSkip(const Settings& settings, std::string_view residues) {
  if (residues.empty()) return Skip::kNoResidues;
  if (residues.size() > static_cast<size_t>(INT_MAX - 1)) return Skip::kTooLong;
  // The composition estimate of a protein without any of the 20 residues
  // would end the process.
  if (settings.background == Background::kInput && !HasStandardResidue(residues)) {
    return Skip::kNoStandardResidue;
  }
  if (static_cast<long long>(residues.size()) < settings.window) return Skip::kShorterThanWindow;
  return Skip::kNone;
}

const double* BackgroundTable(Background background) {
  switch (background) {
    case Background::kPdb:
      return pdb_aa_freq;
    case Background::kInput:
      return seq_freq;
    case Background::kSprot:
      break;
  }
  return sp_aa_freq;
}

// The calling thread's run configuration, as TALVO's option parser would
// leave it for these settings.
void InstallSettings(const Settings& settings) {
  window = settings.window;
  max_separation = settings.linkage;
  const bool random = settings.random_null != RandomNull::kNone;
  random_seqs = random ? settings.random_count : 0;
  estimate_ran = settings.random_null == RandomNull::kGenerated ? 1 : random ? 2 : 0;
  estimate_freq = settings.background == Background::kInput ? 1 : 0;
  aa_freq = BackgroundTable(settings.background);
  min_p_val = settings.min_p;
  masking_p_val = settings.mask_p;
  use_merge = settings.merge_windows ? 1 : 0;
  estimate_linkage = settings.estimate_linkage ? 1 : 0;
  fasta_output = 0;
  random_progress = false;  // a library prints nothing
  // Generated sequences draw each position from the composition: no pool of
  // a million residues per protein (TALVO itself keeps its pool).
  generate_from_pool = false;
  CopyAA(settings.alphabet.c_str(), special_aa);
}

// The per-thread state that TALVO's set-up fills for its one sequence.
void SetUpEntry(std::string_view residues, int N, std::vector<char>& binary,
                std::vector<char>& random_binary) {
  if (estimate_freq == 1) ComputeAAfreq(residues.data(), N, seq_freq);
  binary.resize(static_cast<size_t>(N) + 1);
  EncodeBinary(residues.data(), N, special_aa, binary.data());
  // Position N encodes the terminator and holds '0', as in TALVO.
  binary[N] = '0';
  // Only the random stage works on the copy.
  if (random_seqs > 0) random_binary = binary;
  binary_seq = binary.data();
  random_binary_seq = random_binary.data();
  P_special = std::min(ComputeResidueP(special_aa, aa_freq), 1.0);
}

void DetectRuns(const Settings& settings, int N, long entry_number) {
  special.clear();
  FindRuns(binary_seq, N, special);
  special_merged = special;
  MergeSegmentsDiscrete(binary_seq, special_merged, max_separation);
  if (random_seqs > 0 && !settings.exact_null) {
    special_rand_p.assign(kMinDistributionSize, 0.0);
    init_ran1(EntrySeed(settings.seed, entry_number));
    EstimateRandomPM(random_binary_seq, N);
  }
}

// Windows are recorded by the same p-values that score the segments.
void DetectWindows(ScanPValueFunction scan_p, int N) {
  special.clear();
  SlideWindowP(binary_seq, N, window, min_p_val, special, scan_p);
  special_merged = special;
  if (use_merge == 1) MergeSegmentsDiscrete(binary_seq, special_merged, max_separation);
}

// Scan p-values kept across the proteins that one thread analyses. The
// whole-window functions depend on N only through the number of windows,
// ceil(N / w), so proteins of different lengths share their values; the
// fractional ones are keyed by N itself.
class ScanCache {
 public:
  double Get(ScanPValueFunction scan_p, int k, int w, int N, double p) {
    if (scan_p != function_ || memcmp(&p, &p_, sizeof p) != 0 || values_.size() > kMaxValues) {
      values_.clear();
      function_ = scan_p;
      p_ = p;
    }
    const bool whole_windows =
        scan_p == &P_scan_ge_K_in_W_N || scan_p == &P_scan_ge_K_in_W_N_accurate;
    const int n_key = whole_windows ? N / w + (N % w != 0 ? 1 : 0) : N;
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
  static constexpr size_t kMaxValues = 1 << 16;
  ScanPValueFunction function_ = nullptr;
  double p_ = -1.0;
  std::unordered_map<Key, double, KeyHash> values_;
};

// Special positions before each position; kept per thread across proteins.
const std::vector<int>& SpecialBefore(const std::vector<char>& binary, int N) {
  thread_local std::vector<int> before;
  before.resize(static_cast<size_t>(N) + 1);
  before[0] = 0;
  for (int i = 0; i < N; i++) before[i + 1] = before[i] + (binary[i] == '1');
  return before;
}

// The random null's p-value of a segment length: the exact probability, or
// the fraction of random sequences reaching it, one division (a running sum of
// fractions can pass 1).
class RandomNullPValue {
 public:
  RandomNullPValue(const Settings& settings, int N, int K)
      : settings_(settings), N_(N), K_(K), E_(std::max(max_separation, 1)) {}
  double operator()(int L) {
    if (!settings_.exact_null) {
      return static_cast<double>(RandomSequencesReaching(L)) / settings_.random_count;
    }
    // The distinct lengths of a protein are few; each is worked out once.
    auto [it, inserted] = values_.try_emplace(L, 0.0);
    if (inserted) it->second = Exact(L);
    return it->second;
  }

 private:
  double Exact(int L) {
    if (settings_.random_null == RandomNull::kShuffled) return ShuffledNullP(N_, K_, E_, L);
    // A linkage distance beyond N merges as N does; such runs are rare, and
    // sharing them would keep a table per N.
    if (E_ >= N_) return GeneratedNullP(N_, E_, P_special, L);
    // The background's values serve every protein; an estimated composition
    // is the protein's own.
    if (settings_.background != Background::kInput) {
      return GeneratedNull::Shared(E_, P_special).P(N_, L);
    }
    if (!own_) own_ = std::make_unique<GeneratedNull>(E_, P_special);
    return own_->P(N_, L);
  }

  const Settings& settings_;
  int N_, K_, E_;
  std::unordered_map<int, double> values_;
  std::unique_ptr<GeneratedNull> own_;
};

void ScoreSegments(const Settings& settings, std::string_view residues,
                   const std::vector<char>& binary, int N, Result& result) {
  const ScanPValueFunction scan_p = ScanFunction(settings);
  const std::vector<int>& before = SpecialBefore(binary, N);
  thread_local ScanCache scan_cache;
  RandomNullPValue random_p(settings, N, before[N]);
  result.segments.reserve(special_merged.size());
  for (const FRAGMENT& frag : special_merged) {
    Segment segment;
    segment.start = frag.start;
    segment.end = frag.end;
    segment.length = frag.length;
    segment.special = before[frag.end] - before[frag.start - 1];
    if (random_seqs > 0) {
      segment.p_value = random_p(frag.length);
    } else {
      segment.p_value = scan_cache.Get(scan_p, segment.special, frag.length, N, P_special);
    }
    segment.residues.assign(residues.substr(frag.start - 1, frag.length));
    result.segments.push_back(std::move(segment));
  }
  result.overall.special = before[N];
}

void OverallTest(int N, Overall& overall) {
  const int a = overall.special;
  overall.expected = std::ceil(N * P_special);
  const bool below = overall.expected > a;
  overall.direction = below ? '-' : '+';
  overall.exact_tail =
      below ? Binomial_P_LessThan_K(a, N, P_special) : Binomial_P_GreaterThan_K(a, N, P_special);
}

}  // namespace

// TALVO's formula without its cancellation: the same values where TALVO's
// keep their digits, and accurate ones below about 1e-8, where TALVO's are
// rounding noise or 0.
ScanPValueFunction ScanFunction(const Settings& settings) {
  return settings.fractional_windows ? &P_scan_ge_K_in_W_N_fractional_accurate
                                     : &P_scan_ge_K_in_W_N_accurate;
}

long EntrySeed(uint64_t run_seed, long entry_number) {
  const uint64_t mixed = SplitMix64(SplitMix64(run_seed) ^ static_cast<uint64_t>(entry_number));
  return static_cast<long>(mixed % 2147483646ULL) + 1;
}

const char* SkipText(Skip skip) {
  switch (skip) {
    case Skip::kNoResidues:
      return "no residues";
    case Skip::kNoStandardResidue:
      return "none of the 20 standard residues to estimate the composition from (-I)";
    case Skip::kShorterThanWindow:
      return "shorter than the window";
    case Skip::kTooLong:
      return "too long";
    case Skip::kNone:
      break;
  }
  return "";
}

Analyser::Analyser(Settings settings) : settings_(std::move(settings)) {
  Validate(settings_);
}

Result Analyser::Analyse(std::string_view sequence, long entry_number) const {
  if (entry_number < 0) throw Error("the entry number must not be negative");
  // Read as the FASTA readers read it; most callers pass residues already.
  std::string kept;
  const std::string_view residues = KeptResidues(sequence, kept);
  Result result;
  result.length = static_cast<int>(std::min<size_t>(residues.size(), INT_MAX));
  result.skip = FindSkip(settings_, residues);
  if (result.skip != Skip::kNone) return result;
  InstallSettings(settings_);
  const int N = result.length;
  thread_local std::vector<char> binary;
  thread_local std::vector<char> random_binary;
  SetUpEntry(residues, N, binary, random_binary);
  max_separation = estimate_linkage == 1 ? EstimateLinkageDistance(P_special) : settings_.linkage;
  result.special_probability = P_special;
  result.linkage = max_separation;
  if (window < 2) {
    DetectRuns(settings_, N, entry_number);
  } else {
    DetectWindows(ScanFunction(settings_), N);
  }
  ScoreSegments(settings_, residues, binary, N, result);
  OverallTest(N, result.overall);
  return result;
}

std::string Masked(std::string_view sequence, const Result& result, double mask_p,
                   bool lower_case) {
  std::string kept;
  std::string masked(KeptResidues(sequence, kept));
  for (const Segment& segment : result.segments) {
    if (!(segment.p_value < mask_p) || segment.end > static_cast<int>(masked.size())) continue;
    for (int pos = segment.start - 1; pos < segment.end; pos++) {
      char& c = masked[pos];
      c = lower_case ? static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c) : 'X';
    }
  }
  return masked;
}

double ScanPValue(int k, int w, int n, double p, bool fractional) {
  if (w < 1 || n < w || k < 0) throw Error("the scan p-value needs k >= 0, w >= 1 and n >= w");
  CheckProbability(p);
  Settings settings;
  settings.fractional_windows = fractional;
  return ScanFunction(settings)(k, w, n, p);
}

double BinomialUpperTail(int k, int n, double p) {
  if (n < 0) throw Error("the number of trials must not be negative");
  CheckProbability(p);
  return Binomial_P_GreaterThan_K(k, n, p);
}

double BinomialLowerTail(int k, int n, double p) {
  if (n < 0) throw Error("the number of trials must not be negative");
  CheckProbability(p);
  return Binomial_P_LessThan_K(k, n, p);
}

const char* Version() {
  return TALVO_VERSION;
}

}  // namespace talvo
