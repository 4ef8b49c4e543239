// The one analysis of a protein, for every front end: detection, segment
// p-values, the overall binomial test. Settings come in const, the working
// memory in the caller's Workspace; nothing else is kept.
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <memory>

#include "alphabet/alphabet.h"
#include "api/analysis.h"
#include "fasta/residues.h"

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

}  // namespace

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

Workspace::Workspace() : data_(std::make_unique<Data>()) {}
Workspace::~Workspace() = default;
Workspace::Workspace(Workspace&&) noexcept = default;
Workspace& Workspace::operator=(Workspace&&) noexcept = default;

namespace internal {

const double* ProteinBackground(const Settings& settings, std::string_view residues, Work& work) {
  if (settings.background != Background::kInput) return BuiltInTable(settings.background);
  ComputeAAfreq(residues.data(), static_cast<int>(residues.size()), work.composition);
  return work.composition;
}

namespace {

void Prepare(const Settings& settings, Work& work, Protein& protein) {
  CopyAA(settings.alphabet.c_str(), protein.special);
  const int N = protein.N;
  protein.background = ProteinBackground(settings, protein.residues, work);
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

// The random null's p-value of a segment length: the exact probability, or
// the fraction of random sequences reaching it in one division, or TALVO's
// running sum of fractions (which can pass 1).
double RandomNullP(const Settings& settings, const Protein& protein, int K, int L, Work& work) {
  if (settings.summed_fractions) {
    const std::vector<double>& fractions = work.distribution;
    return CumulativeProb(L, static_cast<int>(fractions.size()) - 1, fractions.data());
  }
  if (!settings.exact_null) {
    return static_cast<double>(RandomSequencesReaching(work.random.longest, L)) /
           settings.random_count;
  }
  return work.exact_null.P(settings, protein, K, L);
}

}  // namespace

double ExactNullValues::P(const Settings& settings, const Protein& protein, int K, int L) {
  const bool shuffled = settings.random_null == RandomNull::kShuffled;
  uint64_t p_bits = 0;
  if (!shuffled) memcpy(&p_bits, &protein.p, sizeof p_bits);
  auto [it, inserted] =
      values_.try_emplace(Key{shuffled ? K : -1, protein.linkage, L, p_bits}, 0.0);
  if (inserted) it->second = Value(settings, protein, K, L);
  return it->second;
}

double ExactNullValues::Value(const Settings& settings, const Protein& protein, int K, int L) {
  const int N = protein.N;
  const int E = std::max(protein.linkage, 1);
  if (settings.random_null == RandomNull::kShuffled) return ShuffledNullP(N, K, E, L);
  // A linkage distance beyond N merges as N does; such runs are rare, and
  // sharing them would keep a table per N.
  if (E >= N) return GeneratedNullP(N, E, protein.p, L);
  return Table(settings, E, protein.p).P(N, L);
}

GeneratedNull& ExactNullValues::Table(const Settings& settings, int E, double p) {
  uint64_t p_bits = 0;
  memcpy(&p_bits, &p, sizeof p_bits);
  const bool own = settings.background == Background::kInput;
  std::vector<Tables>& tables = own ? own_ : shared_;
  // A class asks for its table once per segment length: the last one found
  // is tried first.
  size_t& last = own ? last_own_ : last_shared_;
  if (last < tables.size() && tables[last].E == E && tables[last].p_bits == p_bits) {
    return own ? *tables[last].own : *tables[last].shared;
  }
  for (size_t i = 0; i < tables.size(); i++) {
    const Tables& t = tables[i];
    if (t.E == E && t.p_bits == p_bits) {
      last = i;
      return own ? *t.own : *t.shared;
    }
  }
  last = tables.size();
  Tables& added = tables.emplace_back(Tables{E, p_bits, nullptr, nullptr});
  if (own) {
    added.own = std::make_unique<GeneratedNull>(E, p);
    return *added.own;
  }
  added.shared = &GeneratedNull::Shared(E, p);
  return *added.shared;
}

void Detect(const Settings& settings, const Protein& protein, long entry_number, Work& work,
            Progress* progress) {
  const char* binary = work.binary.data();
  work.segments.clear();
  if (settings.window < 2) {
    FindMergedRuns(binary, protein.N, protein.linkage, work.segments);
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

void ScoreSegments(const Settings& settings, const Protein& protein, Work& work,
                   ScanValues& scan_cache, Result& result) {
  const int N = protein.N;
  const ScanPValueFunction scan_p = ScanFunction(settings);
  const bool random = RandomSequencesAsked(settings);
  // Merged runs carry their special counts, and hold every special position
  // between them; windows are counted here.
  const bool counted = settings.window < 2;
  std::vector<int>& before = work.special_before;
  int special_total = 0;
  if (counted) {
    for (const FRAGMENT& frag : work.segments) special_total += frag.n_special;
  } else {
    before.resize(static_cast<size_t>(N) + 1);
    before[0] = 0;
    for (int i = 0; i < N; i++) before[i + 1] = before[i] + (work.binary[i] == '1');
    special_total = before[N];
  }
  // Segments already in the result are overwritten, so that their residues
  // keep their memory.
  result.segments.resize(work.segments.size());
  for (size_t i = 0; i < work.segments.size(); i++) {
    const FRAGMENT& frag = work.segments[i];
    Segment& segment = result.segments[i];
    segment.start = frag.start;
    segment.end = frag.end;
    segment.length = frag.length;
    segment.special = counted ? frag.n_special : before[frag.end] - before[frag.start - 1];
    segment.p_value = random ? RandomNullP(settings, protein, special_total, frag.length, work)
                             : scan_cache.Get(scan_p, segment.special, frag.length, N, protein.p);
    if (settings.segment_residues) {
      segment.residues.assign(protein.residues.substr(frag.start - 1, frag.length));
    } else {
      segment.residues.clear();
    }
  }
  result.overall.special = special_total;
}

bool UpperTailTested(int N, double p, int special) {
  return !(std::ceil(N * p) > special);
}

void OverallTest(const Settings& settings, int N, double p, Overall& overall,
                 const double* upper_tail) {
  const int a = overall.special;
  overall.expected = std::ceil(N * p);
  const bool below = overall.expected > a;
  overall.direction = below ? '-' : '+';
  overall.exact_tail = below                   ? Binomial_P_LessThan_K(a, N, p)
                       : upper_tail != nullptr ? *upper_tail
                                               : Binomial_P_GreaterThan_K(a, N, p);
  if (!settings.normal_approximation) return;
  int valid = 0;
  overall.approximate_tail = below ? ApproxBinomial_P_LessThan_K(a, N, p, valid)
                                   : ApproxBinomial_P_GreaterThan_K(a, N, p, valid);
  overall.approximation_valid = valid == 1;
}

}  // namespace internal

// A private workspace of the calling thread, for the calls that bring none.
Workspace& internal::ThreadWorkspace() {
  thread_local Workspace workspace;
  return workspace;
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

void Analyser::Analyse(std::string_view sequence, long entry_number, Workspace& workspace,
                       Result& result, Progress* progress) const {
  if (entry_number < 0) throw Error("the entry number must not be negative");
  Work& work = *workspace.data_;
  Protein protein;
  // Read as the FASTA readers read it; most callers pass residues already.
  protein.residues = KeptResidues(sequence, work.kept);
  result.length = static_cast<int>(std::min<size_t>(protein.residues.size(), INT_MAX));
  result.skip = FindSkip(settings_, protein.residues);
  result.special_probability = 0.0;
  result.linkage = 0;
  result.overall = Overall{};
  if (result.skip != Skip::kNone) {
    result.segments.clear();
    return;
  }
  protein.N = result.length;
  Prepare(settings_, work, protein);
  result.special_probability = protein.p;
  result.linkage = protein.linkage;
  if (progress != nullptr) progress->Prepared(result);
  work.exact_null.NewProtein();
  Detect(settings_, protein, entry_number, work, progress);
  ScoreSegments(settings_, protein, work, work.scan_cache, result);
  if (settings_.overall_test) OverallTest(settings_, protein.N, protein.p, result.overall);
}

Result Analyser::Analyse(std::string_view sequence, long entry_number, Workspace& workspace,
                         Progress* progress) const {
  Result result;
  Analyse(sequence, entry_number, workspace, result, progress);
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
