// Discovery: every class of a set analysed on one protein, with the work the
// classes share done once. The residues are indexed once, with a bitmap of
// each residue's positions; a class's special positions are then the union
// of its residues' bitmaps, and in runs mode its segments come straight
// from them, a word at a time: consecutive special positions at most the
// linkage distance apart (adjacent ones always) lie in one segment, which is
// what finding runs and merging them gives. Window mode and sampled random
// sequences encode the class as a 0/1 string and take the single analysis's
// path. Each class keeps its own scan p-values across proteins.
#include <algorithm>
#include <bit>
#include <climits>
#include <set>

#include "alphabet/alphabet.h"
#include "api/analysis.h"
#include "api/discovery_report.h"
#include "fasta/residues.h"

namespace talvo {

using namespace internal;

struct Discovery::Plan {
  Settings settings;  // the class's: its letters and linkage
  char special[21] = {};
  uint32_t mask = 0;  // bit r for residue index r (ConvToInt)
  double probability = 0.0;
};

namespace {

constexpr int kNotAResidue = 20;

// Each position's residue index, and a bitmap of the positions of each of
// the 20 residues.
void IndexResidues(std::string_view residues, DiscoveryWork& d) {
  const size_t N = residues.size();
  d.words = (N + 63) / 64;
  d.residue_index.resize(N);
  d.residue_bits.assign(kNotAResidue * d.words, 0);
  const unsigned char* index_of = ResidueIndexOfByte();
  for (size_t i = 0; i < N; i++) {
    const int r = index_of[static_cast<unsigned char>(residues[i])];
    d.residue_index[i] = static_cast<unsigned char>(r);
    if (r < kNotAResidue) d.residue_bits[r * d.words + i / 64] |= uint64_t{1} << (i % 64);
  }
}

#if defined(__GNUC__)
#define TALVO_ALWAYS_INLINE __attribute__((always_inline))
#else
#define TALVO_ALWAYS_INLINE
#endif
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__EMSCRIPTEN__) && \
    !defined(TALVO_PORTABLE_BIT_COUNT)
#define TALVO_POPCNT_AT_RUN_TIME 1
#endif

// The set bits of a word, in a few instructions wherever the program runs
// (std::popcount is a library call without a target's own instruction).
inline int CountBits(uint64_t x) {
  x -= (x >> 1) & 0x5555555555555555ULL;
  x = (x & 0x3333333333333333ULL) + ((x >> 2) & 0x3333333333333333ULL);
  x = (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0FULL;
  return static_cast<int>((x * 0x0101010101010101ULL) >> 56);
}

// The class's bitmap, the union of its residues' bitmaps, into d.class_bits;
// returns its count of special positions.
int ClassBits(const char* special, DiscoveryWork& d) {
  const uint64_t* letters[21];
  int count_letters = 0;
  for (const char* c = special; *c != '\0'; c++) {
    letters[count_letters++] = d.residue_bits.data() + ConvToInt(*c) * d.words;
  }
  d.class_bits.resize(d.words);
  for (size_t w = 0; w < d.words; w++) {
    uint64_t bits = 0;
    for (int l = 0; l < count_letters; l++) bits |= letters[l][w];
    d.class_bits[w] = bits;
  }
  int count = 0;
  for (uint64_t word : d.class_bits) count += CountBits(word);
  return count;
}

// The class as the 0/1 string of the single analysis, N + 1 characters.
void EncodeClass(uint32_t mask, const DiscoveryWork& d, std::vector<char>& binary) {
  const size_t N = d.residue_index.size();
  binary.resize(N + 1);
  for (size_t i = 0; i < N; i++) binary[i] = (mask >> d.residue_index[i]) & 1 ? '1' : '0';
  binary[N] = '0';
}

// Runs mode without sampled random sequences: the segments come from the
// special positions alone.
bool SegmentsFromPositions(const Settings& settings) {
  return settings.window < 2 && (!RandomSequencesAsked(settings) || settings.exact_null);
}

// Each segment's p-value into the report's tally, and only the segments
// below report.below kept, with their numbers.
void KeepReported(Result& result, DiscoveryReport& report, bool tally) {
  size_t kept = 0;
  for (size_t i = 0; i < result.segments.size(); i++) {
    Segment& segment = result.segments[i];
    if (tally) report.tally.emplace_back(segment.p_value, 1);
    if (!(segment.p_value < report.below)) continue;
    report.numbers.push_back(static_cast<int>(i + 1));
    if (kept != i) result.segments[kept] = std::move(segment);
    kept++;
  }
  result.segments.resize(kept);
}

// Scoring one class's segments, found in order by either way below.
struct ClassScoring {
  const Settings& settings;
  const Protein& protein;
  int count;  // the class's special positions
  Work& work;
  ScanValues& scan_values;
  Result& result;
  DiscoveryReport* report;
  ScanPValueFunction scan_p = ScanFunction(settings);
  bool random = RandomSequencesAsked(settings);

  // The p-value of `times` segments of `special` positions over `length`.
  double Value(int special, int length, uint32_t times = 1) {
    // The random null's value depends on the length alone.
    const int k = random ? 0 : special;
    return work.discovery.short_segments.Get(
        k, length,
        [&] {
          const double value = random ? work.exact_null.Value(settings, protein, count, length)
                                      : scan_values.Get(scan_p, k, length, protein.N, protein.p);
          // Values that are not kept count one by one.
          if (report != nullptr && length > ShortSegmentValues::kLongest) {
            report->tally.emplace_back(value, 1);
          }
          return value;
        },
        times);
  }

  // The class's segment numbered `number` (from 1), kept if reported.
  void Score(int first, int last, int special, int64_t number) {
    const int length = last - first + 1;
    const double p = Value(special, length);
    if (report != nullptr) {
      if (!(p < report->below)) return;
      report->numbers.push_back(static_cast<int>(number));
    }
    Segment& segment = result.segments.emplace_back();
    segment.start = first + 1;
    segment.end = last + 1;
    segment.length = length;
    segment.special = special;
    segment.p_value = p;
    if (settings.segment_residues) segment.residues.assign(protein.residues.substr(first, length));
  }
};

// The widest linkage that ScoreWords takes; wider ones walk the positions.
constexpr int kWordJoin = 8;

// Runs mode a word of the class's bitmap at a time: a special position
// begins a segment unless another lies at most `join` before it, and ends
// one unless another lies at most `join` after it. Lone positions, which do
// both, are most segments and all alike: where none of them can be kept
// they are only counted.
template <class Count>
TALVO_ALWAYS_INLINE inline void ScoreWordsCounting(const std::vector<uint64_t>& bits, int join,
                                                   ClassScoring& scoring) {
  if (scoring.count == 0) return;
  const bool count_lone =
      scoring.report != nullptr && !(scoring.Value(1, 1, 0) < scoring.report->below);
  uint64_t lone = 0, previous = 0;
  int64_t before = 0, segments_before = 0;  // special positions and segments before the word
  int first = 0;
  int64_t first_rank = 0, number = 0;
  for (size_t w = 0; w < bits.size(); w++) {
    const uint64_t word = bits[w], next = w + 1 < bits.size() ? bits[w + 1] : 0;
    uint64_t near_before = 0, near_after = 0;
    for (int d = 1; d <= join; d++) {
      near_before |= word << d | previous >> (64 - d);
      near_after |= word >> d | next << (64 - d);
    }
    const uint64_t starts = word & ~near_before, ends = word & ~near_after;
    uint64_t events = starts | ends;
    if (count_lone) {
      lone += Count::Of(starts & ends);
      events &= ~(starts & ends);
    }
    for (; events != 0; events &= events - 1) {
      const int bit = std::countr_zero(events);
      const uint64_t at = uint64_t{1} << bit, below = at - 1;
      const int position = static_cast<int>(w * 64) + bit;
      const int64_t rank = before + Count::Of(word & below);
      if (starts & at) {
        first = position;
        first_rank = rank;
        number = segments_before + Count::Of(starts & below) + 1;
      }
      if (ends & at)
        scoring.Score(first, position, static_cast<int>(rank + 1 - first_rank), number);
    }
    before += Count::Of(word);
    segments_before += Count::Of(starts);
    previous = word;
  }
  if (lone > 0) scoring.Value(1, 1, static_cast<uint32_t>(lone));
}

// Bits counted a few arithmetic steps at a time, or by the processor's own
// instruction, which nearly every x86-64 processor has but a portable build
// cannot assume: the program asks the processor when it runs.
struct ArithmeticCount {
  static int Of(uint64_t x) { return CountBits(x); }
};

#ifdef TALVO_POPCNT_AT_RUN_TIME
struct InstructionCount {
  TALVO_ALWAYS_INLINE static int Of(uint64_t x) { return __builtin_popcountll(x); }
};

__attribute__((target("popcnt"))) void ScoreWordsByInstruction(const std::vector<uint64_t>& bits,
                                                               int join, ClassScoring& scoring) {
  ScoreWordsCounting<InstructionCount>(bits, join, scoring);
}
#endif

void ScoreWords(const std::vector<uint64_t>& bits, int join, ClassScoring& scoring) {
#ifdef TALVO_POPCNT_AT_RUN_TIME
  static const bool has_popcnt = __builtin_cpu_supports("popcnt");
  if (has_popcnt) return ScoreWordsByInstruction(bits, join, scoring);
#endif
  ScoreWordsCounting<ArithmeticCount>(bits, join, scoring);
}

// The same from the class's positions, for any linkage.
void ScorePositions(const std::vector<uint64_t>& bits, int join, ClassScoring& scoring) {
  std::vector<int>& positions = scoring.work.discovery.class_positions;
  positions.clear();
  for (size_t w = 0; w < bits.size(); w++) {
    for (uint64_t word = bits[w]; word != 0; word &= word - 1) {
      positions.push_back(static_cast<int>(w * 64) + std::countr_zero(word));
    }
  }
  int64_t number = 0;
  for (size_t i = 0; i < positions.size();) {
    const int first = positions[i];
    int last = first;
    size_t j = i + 1;
    for (; j < positions.size() && int64_t{positions[j]} - last <= join; j++) last = positions[j];
    scoring.Score(first, last, static_cast<int>(j - i), ++number);
    i = j;
  }
}

void ScoreClass(const Settings& settings, const Protein& protein, int count, Work& work,
                ScanValues& scan_values, Result& result, DiscoveryReport* report) {
  ShortSegmentValues& short_segments = work.discovery.short_segments;
  short_segments.NewClass();
  ClassScoring scoring{settings, protein, count, work, scan_values, result, report};
  const int join = std::max(protein.linkage, 1);
  if (join <= kWordJoin) {
    ScoreWords(work.discovery.class_bits, join, scoring);
  } else {
    ScorePositions(work.discovery.class_bits, join, scoring);
  }
  if (report != nullptr) short_segments.Tally(report->tally);
  result.overall.special = count;
}

void ResetResult(Result& result, Skip skip, int length) {
  result.skip = skip;
  result.length = length;
  result.special_probability = 0.0;
  result.linkage = 0;
  result.segments.clear();
  result.overall = Overall{};
}

// The upper tails of every class at once: they share the protein's N. Only
// settings.normal_approximation, the same for every class, plays a part.
void OverallTests(const Settings& settings, int N, DiscoveryWork& d, std::vector<Result>& results) {
  d.upper_special.clear();
  d.upper_p.clear();
  for (const Result& result : results) {
    if (UpperTailTested(N, result.special_probability, result.overall.special)) {
      d.upper_special.push_back(result.overall.special);
      d.upper_p.push_back(result.special_probability);
    }
  }
  d.upper_tail.resize(d.upper_p.size());
  BinomialUpperTails(N, static_cast<int>(d.upper_p.size()), d.upper_special.data(),
                     d.upper_p.data(), d.upper_tail.data());
  const double* upper_tail = d.upper_tail.data();
  for (size_t c = 0; c < results.size(); c++) {
    Result& result = results[c];
    const bool upper = UpperTailTested(N, result.special_probability, result.overall.special);
    OverallTest(settings, N, result.special_probability, result.overall,
                upper ? upper_tail++ : nullptr);
  }
}

}  // namespace

Discovery::Discovery(Settings settings, std::vector<ResidueClass> classes, ClassLinkage linkage)
    : settings_(std::move(settings)), classes_(std::move(classes)) {
  Validate(settings_);
  if (classes_.empty()) throw Error("no classes to discover");
  std::set<std::string> names;
  const double* table = BuiltInTable(settings_.background);
  for (ResidueClass& added : classes_) {
    std::string problem = ClassNameProblem(added.name);
    if (problem.empty()) problem = ClassLettersProblem(added.letters);
    if (problem.empty() && !names.insert(added.name).second) {
      problem = "class '" + added.name + "' given twice";
    }
    if (!problem.empty()) throw Error(problem);
    added.letters = CanonicalLetters(added.letters);
    Plan plan;
    plan.settings = settings_;
    plan.settings.alphabet = added.letters;
    CopyAA(added.letters.c_str(), plan.special);
    for (const char* c = plan.special; *c != '\0'; c++) plan.mask |= uint32_t{1} << ConvToInt(*c);
    plan.probability = std::min(ComputeResidueP(plan.special, table), 1.0);
    if (linkage == ClassLinkage::kPerClass) {
      plan.settings.linkage = std::min(EstimateLinkageDistance(plan.probability), 5);
      plan.settings.estimate_linkage = false;
    }
    plans_.push_back(plan);
  }
}

Discovery::~Discovery() = default;
Discovery::Discovery(const Discovery&) = default;
Discovery& Discovery::operator=(const Discovery&) = default;
Discovery::Discovery(Discovery&&) noexcept = default;
Discovery& Discovery::operator=(Discovery&&) noexcept = default;

const Settings& Discovery::class_settings(size_t i) const {
  return plans_.at(i).settings;
}

double Discovery::class_probability(size_t i) const {
  return plans_.at(i).probability;
}

void Discovery::Analyse(std::string_view sequence, long entry_number, Workspace& workspace,
                        std::vector<Result>& results) const {
  AnalyseClasses(sequence, entry_number, workspace, results, nullptr);
}

void Discovery::AnalyseClasses(std::string_view sequence, long entry_number, Workspace& workspace,
                               std::vector<Result>& results, DiscoveryReport* report) const {
  if (entry_number < 0) throw Error("the entry number must not be negative");
  Work& work = *workspace.data_;
  const std::string_view residues = KeptResidues(sequence, work.kept);
  const int length = static_cast<int>(std::min<size_t>(residues.size(), INT_MAX));
  // Every class skips a protein for the same reason: none depends on the letters.
  const Skip skip = FindSkip(settings_, residues);
  results.resize(plans_.size());
  for (Result& result : results) ResetResult(result, skip, length);
  if (skip != Skip::kNone) return;

  DiscoveryWork& d = work.discovery;
  const double* background = ProteinBackground(settings_, residues, work);
  IndexResidues(residues, d);
  work.exact_null.NewProtein();
  if (d.scan_values.size() < plans_.size()) d.scan_values.resize(plans_.size());
  for (size_t c = 0; c < plans_.size(); c++) {
    const Plan& plan = plans_[c];
    const Settings& settings = plan.settings;
    Result& result = results[c];
    Protein protein;
    protein.residues = residues;
    protein.N = length;
    std::copy(std::begin(plan.special), std::end(plan.special), protein.special);
    protein.background = background;
    protein.p = std::min(ComputeResidueP(plan.special, background), 1.0);
    protein.linkage =
        settings.estimate_linkage ? EstimateLinkageDistance(protein.p) : settings.linkage;
    result.special_probability = protein.p;
    result.linkage = protein.linkage;
    if (SegmentsFromPositions(settings)) {
      const int count = ClassBits(plan.special, d);
      ScoreClass(settings, protein, count, work, d.scan_values[c], result, report);
    } else {
      EncodeClass(plan.mask, d, work.binary);
      Detect(settings, protein, entry_number, work, nullptr);
      ScoreSegments(settings, protein, work, d.scan_values[c], result);
      if (report != nullptr) KeepReported(result, *report, true);
    }
  }
  if (settings_.overall_test && (report == nullptr || !report->segments_only)) {
    OverallTests(settings_, length, d, results);
  }
}

std::vector<Result> Discovery::Analyse(std::string_view sequence, long entry_number) const {
  std::vector<Result> results;
  Analyse(sequence, entry_number, ThreadWorkspace(), results);
  return results;
}

}  // namespace talvo
