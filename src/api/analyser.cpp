// The one analysis of a protein, for every front end: detection, segment
// p-values, the overall binomial test. Settings come in const, the working
// memory in the caller's Workspace; nothing else is kept.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <memory>
#include <unordered_map>

#include "alphabet/alphabet.h"
#include "api/internal.h"
#include "detect/detect.h"
#include "fasta/residues.h"
#include "random/exact_null.h"
#include "random/random.h"
#include "stats/stats.h"
#include "talvo/talvo.h"

namespace talvo {
namespace internal {
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

// In TALVO's order where its program reads them: the composition, then the
// window.
Skip FindSkip(const Settings& settings, std::string_view residues) {
  if (residues.empty() && !settings.permissive) return Skip::kNoResidues;
  if (residues.size() > static_cast<size_t>(INT_MAX - 1)) return Skip::kTooLong;
  // No composition can be estimated from a protein without the 20 residues.
  if (settings.background == Background::kInput && !HasStandardResidue(residues)) {
    return Skip::kNoStandardResidue;
  }
  if (static_cast<long long>(residues.size()) < settings.window) return Skip::kShorterThanWindow;
  return Skip::kNone;
}

const double* BuiltInTable(Background background) {
  return background == Background::kPdb ? pdb_aa_freq : sp_aa_freq;
}

// Scan p-values kept across the proteins that one workspace analyses. The
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

}  // namespace

// The accurate formulas give TALVO's values where TALVO's keep their digits,
// and accurate ones below about 1e-8, where TALVO's are rounding noise or 0.
ScanPValueFunction ScanFunction(const Settings& settings) {
  if (settings.scan_formula == ScanFormula::kTalvo) {
    return settings.fractional_windows ? &P_scan_ge_K_in_W_N_fractional : &P_scan_ge_K_in_W_N;
  }
  return settings.fractional_windows ? &P_scan_ge_K_in_W_N_fractional_accurate
                                     : &P_scan_ge_K_in_W_N_accurate;
}

long EntrySeed(uint64_t run_seed, long entry_number) {
  const uint64_t mixed = SplitMix64(SplitMix64(run_seed) ^ static_cast<uint64_t>(entry_number));
  return static_cast<long>(mixed % 2147483646ULL) + 1;
}

}  // namespace internal

using namespace internal;

struct Workspace::Data {
  std::string kept;                 // the residues of an input that holds more
  double composition[21] = {};      // the protein's own (Background::kInput)
  std::vector<char> binary;         // the 0/1 string, N + 1 characters
  std::vector<char> random_binary;  // the random stage's working copy
  FragmentList segments;            // detected, then merged in place
  std::vector<int> special_before;  // special positions before each position
  RandomWork random;
  std::vector<double> distribution;  // the random stage's, normalised
  ScanCache scan_cache;
};

Workspace::Workspace() : data_(std::make_unique<Data>()) {}
Workspace::~Workspace() = default;
Workspace::Workspace(Workspace&&) noexcept = default;
Workspace& Workspace::operator=(Workspace&&) noexcept = default;

namespace {

using Work = Workspace::Data;

// What one protein's analysis works with, beside the settings.
struct Protein {
  std::string_view residues;
  int N = 0;
  char special[21] = {};  // the sub-alphabet, upper case, each residue once
  const double* background = nullptr;
  double p = 0.0;  // P of a special residue
  int linkage = 0;
};

void Prepare(const Settings& settings, Work& work, Protein& protein) {
  CopyAA(settings.alphabet.c_str(), protein.special);
  const int N = protein.N;
  protein.background = BuiltInTable(settings.background);
  if (settings.background == Background::kInput) {
    ComputeAAfreq(protein.residues.data(), N, work.composition);
    protein.background = work.composition;
  }
  work.binary.resize(static_cast<size_t>(N) + 1);
  EncodeBinary(protein.residues.data(), N, protein.special, work.binary.data());
  // Position N encodes the terminator and holds '0', as in TALVO.
  work.binary[N] = '0';
  // A sum of estimated frequencies can round just above 1 (an all-special
  // sequence); a probability above 1 would derail every later test.
  protein.p = std::min(ComputeResidueP(protein.special, protein.background), 1.0);
  protein.linkage =
      settings.estimate_linkage ? EstimateLinkageDistance(protein.p) : settings.linkage;
}

void RunRandomStage(const Settings& settings, const Protein& protein, long entry_number, Work& work,
                    Progress* progress) {
  RandomStage stage;
  stage.sequences = settings.random_count;
  stage.shuffled = settings.random_null == RandomNull::kShuffled;
  stage.separation = protein.linkage;
  stage.frequencies = protein.background;
  stage.special = protein.special;
  stage.from_pool = settings.residue_pool;
  stage.progress = progress;
  work.random_binary.assign(work.binary.begin(), work.binary.end());
  init_ran1(work.random.generator, settings.seed_as_given ? static_cast<long>(settings.seed)
                                                          : EntrySeed(settings.seed, entry_number));
  EstimateRandomPM(work.random_binary.data(), protein.N, stage, work.random);
  if (settings.summed_fractions) {
    work.distribution = Distribution(work.random.longest, settings.random_count);
  }
}

void Detect(const Settings& settings, const Protein& protein, long entry_number, Work& work,
            Progress* progress) {
  const char* binary = work.binary.data();
  work.segments.clear();
  if (settings.window < 2) {
    FindRuns(binary, protein.N, work.segments);
    MergeSegmentsDiscrete(binary, work.segments, protein.linkage);
    if (RandomSequencesAsked(settings) && !settings.exact_null) {
      RunRandomStage(settings, protein, entry_number, work, progress);
    }
    return;
  }
  // Windows are recorded by the same p-values that score the segments.
  SlideWindowP(binary, protein.N, settings.window, settings.min_p, protein.p, work.segments,
               ScanFunction(settings));
  if (settings.merge_windows) MergeSegmentsDiscrete(binary, work.segments, protein.linkage);
}

// The random null's p-value of a segment length: the exact probability, or
// the fraction of random sequences reaching it in one division, or TALVO's
// running sum of fractions (which can pass 1).
class RandomNullPValue {
 public:
  RandomNullPValue(const Settings& settings, const Protein& protein, int K, const Work& work)
      : settings_(settings),
        work_(work),
        N_(protein.N),
        K_(K),
        E_(std::max(protein.linkage, 1)),
        p_(protein.p) {}
  double operator()(int L) {
    if (settings_.summed_fractions) {
      const std::vector<double>& fractions = work_.distribution;
      return CumulativeProb(L, static_cast<int>(fractions.size()) - 1, fractions.data());
    }
    if (!settings_.exact_null) {
      return static_cast<double>(RandomSequencesReaching(work_.random.longest, L)) /
             settings_.random_count;
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
    if (E_ >= N_) return GeneratedNullP(N_, E_, p_, L);
    // The background's values serve every protein; an estimated composition
    // is the protein's own.
    if (settings_.background != Background::kInput) {
      return GeneratedNull::Shared(E_, p_).P(N_, L);
    }
    if (!own_) own_ = std::make_unique<GeneratedNull>(E_, p_);
    return own_->P(N_, L);
  }

  const Settings& settings_;
  const Work& work_;
  int N_, K_, E_;
  double p_;
  std::unordered_map<int, double> values_;
  std::unique_ptr<GeneratedNull> own_;
};

void ScoreSegments(const Settings& settings, const Protein& protein, Work& work, Result& result) {
  const int N = protein.N;
  std::vector<int>& before = work.special_before;
  before.resize(static_cast<size_t>(N) + 1);
  before[0] = 0;
  for (int i = 0; i < N; i++) before[i + 1] = before[i] + (work.binary[i] == '1');

  const ScanPValueFunction scan_p = ScanFunction(settings);
  const bool random = RandomSequencesAsked(settings);
  RandomNullPValue random_p(settings, protein, before[N], work);
  result.segments.reserve(work.segments.size());
  for (const FRAGMENT& frag : work.segments) {
    Segment segment;
    segment.start = frag.start;
    segment.end = frag.end;
    segment.length = frag.length;
    segment.special = before[frag.end] - before[frag.start - 1];
    segment.p_value = random
                          ? random_p(frag.length)
                          : work.scan_cache.Get(scan_p, segment.special, frag.length, N, protein.p);
    segment.residues.assign(protein.residues.substr(frag.start - 1, frag.length));
    result.segments.push_back(std::move(segment));
  }
  result.overall.special = before[N];
}

void OverallTest(const Settings& settings, int N, double p, Overall& overall) {
  const int a = overall.special;
  overall.expected = std::ceil(N * p);
  const bool below = overall.expected > a;
  overall.direction = below ? '-' : '+';
  overall.exact_tail = below ? Binomial_P_LessThan_K(a, N, p) : Binomial_P_GreaterThan_K(a, N, p);
  if (!settings.normal_approximation) return;
  int valid = 0;
  overall.approximate_tail = below ? ApproxBinomial_P_LessThan_K(a, N, p, valid)
                                   : ApproxBinomial_P_GreaterThan_K(a, N, p, valid);
  overall.approximation_valid = valid == 1;
}

// A private workspace of the calling thread, for the calls that bring none.
Workspace& ThreadWorkspace() {
  thread_local Workspace workspace;
  return workspace;
}

}  // namespace

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

Result Analyser::Analyse(std::string_view sequence, long entry_number, Workspace& workspace,
                         Progress* progress) const {
  if (entry_number < 0) throw Error("the entry number must not be negative");
  Work& work = *workspace.data_;
  Protein protein;
  // Read as the FASTA readers read it; most callers pass residues already.
  protein.residues = KeptResidues(sequence, work.kept);
  Result result;
  result.length = static_cast<int>(std::min<size_t>(protein.residues.size(), INT_MAX));
  result.skip = FindSkip(settings_, protein.residues);
  if (result.skip != Skip::kNone) return result;
  protein.N = result.length;
  Prepare(settings_, work, protein);
  result.special_probability = protein.p;
  result.linkage = protein.linkage;
  if (progress != nullptr) progress->Prepared(result);
  Detect(settings_, protein, entry_number, work, progress);
  ScoreSegments(settings_, protein, work, result);
  OverallTest(settings_, protein.N, protein.p, result.overall);
  return result;
}

Result Analyser::Analyse(std::string_view sequence, long entry_number) const {
  return Analyse(sequence, entry_number, ThreadWorkspace());
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
