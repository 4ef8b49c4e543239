// TALVO's analysis as a library: the compositionally biased segments of one
// protein, their p-values and the overall composition test, exactly as the
// command-line tools report them.
//
//   talvo::Settings settings;          // GPSTDNH, SPROT background, runs mode
//   settings.alphabet = "R";
//   talvo::Analyser analyser(settings);  // throws talvo::Error on bad settings
//   talvo::Result result = analyser.Analyse(sequence);
//   for (const talvo::Segment& s : result.segments) ...
//
// An Analyser holds its settings and nothing else: it may be shared by any
// number of threads. The working memory of an analysis is a Workspace, one
// per thread, passed to each call (or, without one, a private one of the
// calling thread). The library keeps no other state, never prints and never
// ends the process: every failure is a talvo::Error.
#pragma once
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace talvo {
namespace internal {
struct DiscoveryReport;
struct DiscoveryAccess;
}  // namespace internal

// Bad settings or options; what() is the tool's message, without a final
// newline.
class Error : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

enum class Background {
  kSprot,  // the SPROT composition (default)
  kPdb,    // the PDB composition
  kInput,  // each protein's own composition
};

enum class RandomNull {
  kNone,       // scan-statistic p-values
  kShuffled,   // shuffles of the protein's special/non-special pattern
  kGenerated,  // sequences drawn from the background composition
};

enum class ScanFormula {
  kAccurate,  // TALVO's formula evaluated without its cancellation (see ScanPValue)
  kTalvo,     // as the TALVO program evaluates it: rounding noise below about 1e-15
};

struct Settings {
  std::string alphabet = "GPSTDNH";  // the special residues (any case, no repeats needed)
  Background background = Background::kSprot;
  int window = 0;                 // 0: runs mode; 2 or more: scanning windows of that size
  int linkage = 4;                // segments closer than this are joined
  bool estimate_linkage = false;  // derive the linkage distance from P (replaces linkage)
  RandomNull random_null = RandomNull::kNone;  // runs mode only
  int random_count = 0;       // random sequences when random_null is set (at least 1)
  bool exact_null = false;    // the random null's exact probabilities instead of sampling
  uint64_t seed = 0;          // run seed; a protein's generator seed also takes its entry number
  double min_p = 0.05;        // scanning windows below it are recorded
  double mask_p = 0.05;       // segments below it are masked
  bool merge_windows = true;  // false: windows stay as found (window mode only)
  bool fractional_windows = false;  // scan p-values over N/w windows, not N/w rounded up
  bool lower_case_mask = false;     // masks in lower case instead of X
  // false: the whole protein's binomial test is left out (Result::overall
  // holds only `special`), for callers that report segments alone.
  bool overall_test = true;
  // false: Segment::residues is left empty, for callers that keep the
  // sequence and take a segment's residues from it when they need them.
  bool segment_residues = true;

  // Where the TALVO program computes as it always has; the defaults are the
  // other front ends'. Its command-line reading sets them all.
  ScanFormula scan_formula = ScanFormula::kAccurate;
  bool residue_pool = false;      // generated sequences drawn from a pool of a million residues
  bool summed_fractions = false;  // a random-null p-value summed from the normalised distribution
  bool seed_as_given = false;     // the generator seeded with `seed` itself, whatever the entry
  bool normal_approximation = false;  // Overall also gets the normal approximation
  // TALVO's own checks only: a negative window or linkage distance, an empty
  // sub-alphabet and a random count below 1 (no random sequences) pass, and a
  // sequence without residues is analysed instead of skipped.
  bool permissive = false;
};

// Checks settings as the tools do; throws Error with the message.
void Validate(const Settings& settings);

// Settings from TALVO's own option syntax ("-A:R", "-W:20", "-I", ...), read
// strictly: a flag stands alone, a value follows a colon and is as a whole a
// number in range (-W 0 or >= 2, -E >= 0, -S/-G >= 1, -P/-M in [0, 1]) or,
// for -A, residue letters. Throws Error, quoting the option as typed, on any
// option that is unknown, malformed or out of range.
Settings SettingsFromOptions(const std::vector<std::string>& options);

enum class Skip {
  kNone,
  kNoResidues,
  kNoStandardResidue,  // background kInput without any of the 20 residues
  kShorterThanWindow,
  kTooLong,
};
// "shorter than the window", ...; empty for kNone.
const char* SkipText(Skip skip);

struct Segment {
  int start = 0;  // 1-based, inclusive
  int end = 0;
  int length = 0;
  int special = 0;
  double p_value = 0.0;
  std::string residues;
};

// The exact binomial test of the whole protein's special count.
struct Overall {
  int special = 0;
  double expected = 0.0;    // ceil(N * P)
  char direction = '+';     // '-' when fewer special residues than expected
  double exact_tail = 0.0;  // P(X < special) for '-', P(X >= special) for '+'
  // With settings.normal_approximation: the normal approximation of the tail
  // (P(X <= special) for '-'), valid only for a variance N P (1 - P) of 5 or more.
  double approximate_tail = 0.0;
  bool approximation_valid = false;
};

struct Result {
  Skip skip = Skip::kNone;  // when set, only length is filled
  int length = 0;
  double special_probability = 0.0;  // P of the background used
  int linkage = 0;                   // the linkage distance used
  std::vector<Segment> segments;
  Overall overall;
};

// The working memory of analyses: the protein's encodings, fragment lists,
// the random generator, random sequences and cached p-values. Create one per
// thread and pass it to every call; it grows to the largest protein seen and
// is reused, so a call allocates little. Not to be shared by threads.
class Workspace {
 public:
  Workspace();
  ~Workspace();
  Workspace(Workspace&&) noexcept;
  Workspace& operator=(Workspace&&) noexcept;
  struct Data;  // the library's own

 private:
  friend class Analyser;
  friend class Discovery;
  std::unique_ptr<Data> data_;
};

// Told how an analysis advances, from the analysing thread. A front end may
// stop the analysis by throwing from either call; the exception reaches the
// caller of Analyse.
class Progress {
 public:
  virtual ~Progress() = default;
  // The background probability and the linkage distance are known (length,
  // special_probability and linkage are filled); detection follows.
  virtual void Prepared(const Result&) {}
  // Random sequence n (from 1 to random_count) is about to be made.
  virtual void RandomSequence(int) {}
};

class Analyser {
 public:
  // Throws Error when the settings are not valid.
  explicit Analyser(Settings settings);
  const Settings& settings() const { return settings_; }
  // sequence: the residues, read exactly as the FASTA readers read a
  // sequence: letters count in either case, '-' counts as a residue, and
  // every other character (white space, digits, '*', bytes above 127) is
  // dropped before positions are counted. A FASTA header is not recognised:
  // pass the sequence only.
  // entry_number (at least 0; Error otherwise) seeds the random sequences of
  // this protein (with the run seed), so that a protein gets the same values
  // wherever it stands.
  Result Analyse(std::string_view sequence, long entry_number, Workspace& workspace,
                 Progress* progress = nullptr) const;
  // The same into `result`, whose memory (its segments and their residues)
  // is reused: a loop over many proteins allocates little.
  void Analyse(std::string_view sequence, long entry_number, Workspace& workspace, Result& result,
               Progress* progress = nullptr) const;
  // The same in a workspace private to the calling thread.
  Result Analyse(std::string_view sequence, long entry_number = 1) const;

 private:
  Settings settings_;
};

// Discovery: which residues are biased? Every class of residues of a set,
// each analysed on a protein exactly as an Analyser with the class's letters
// (and linkage) would, with the work shared between the classes.
//
//   talvo::Discovery discovery(talvo::Settings{}, talvo::BuiltInClasses());
//   std::vector<talvo::Result> results = discovery.Analyse(sequence);
//   // results[i] belongs to discovery.classes()[i]

// A class of residues.
struct ResidueClass {
  std::string name;     // letters, digits, '_', '-', '.' and '+'
  std::string letters;  // residue letters, each counted once
};

// The 20 residues, each named by its letter, then QN, RG, SR, basic (KR),
// acidic (DE), charged (KRDE), ST, PEST, polar (STNQ) and GPSTDNH.
const std::vector<ResidueClass>& BuiltInClasses();

// The classes of a class file's text: one per line, NAME<TAB>LETTERS, the
// letters in either case (upper-cased, a repeat counted once); blank lines and
// everything from a '#' on are ignored. Throws Error naming source and the
// line ("classes.tsv:3: unknown letter 'B' in 'KRB'") for a line that is not
// NAME<TAB>LETTERS, a bad name, a name given twice, no letters or a letter
// that is not one of the 20 residues; and for a text without classes.
std::vector<ResidueClass> ReadClasses(std::string_view text, const std::string& source);

// How the classes of a discovery get their linkage distance.
enum class ClassLinkage {
  // Each class its own: min(round(2 / (3P)), 5), P the class's probability
  // under the built-in background (PDB's with Background::kPdb, SPROT's
  // otherwise, also for Background::kInput).
  kPerClass,
  // settings.linkage (or its estimate from each protein's P, with
  // estimate_linkage) for every class.
  kFromSettings,
};

// The linkage distance of the segments that a discovery's mask covers
// (talvo-proteome --discover --masked): joined up to 8 residues apart, a
// biased stretch of mixed composition becomes one segment that passes, where
// the classes' own linkage splits it into runs too weak to. Measured with an
// aligner in docs/masking.md.
constexpr int kDiscoveryMaskLinkage = 8;

class Discovery {
 public:
  // settings as for an Analyser; its alphabet plays no part. Throws Error
  // when they are not valid, or the set is empty, repeats a name or has a
  // class with a bad name or letters.
  Discovery(Settings settings, std::vector<ResidueClass> classes,
            ClassLinkage linkage = ClassLinkage::kPerClass);
  ~Discovery();
  Discovery(const Discovery&);
  Discovery& operator=(const Discovery&);
  Discovery(Discovery&&) noexcept;
  Discovery& operator=(Discovery&&) noexcept;

  const Settings& settings() const { return settings_; }
  const std::vector<ResidueClass>& classes() const { return classes_; }
  // The settings of class i: an Analyser with them gives class i's result.
  const Settings& class_settings(size_t i) const;
  // P of class i under the built-in background of its per-class linkage.
  double class_probability(size_t i) const;

  // Every class's result for one protein, results[i] for classes()[i]; the
  // sequence and entry_number as for Analyser::Analyse.
  void Analyse(std::string_view sequence, long entry_number, Workspace& workspace,
               std::vector<Result>& results) const;
  std::vector<Result> Analyse(std::string_view sequence, long entry_number = 1) const;

 private:
  struct Plan;  // the library's own
  friend struct internal::DiscoveryAccess;
  void AnalyseClasses(std::string_view sequence, long entry_number, Workspace& workspace,
                      std::vector<Result>& results, internal::DiscoveryReport* report) const;
  Settings settings_;
  std::vector<ResidueClass> classes_;
  std::vector<Plan> plans_;
};

// The sequence read as Analyse reads it (residues only, upper-cased), with
// every segment below mask_p replaced by X, or in lower case with lower_case.
std::string Masked(std::string_view sequence, const Result& result, double mask_p, bool lower_case);

// The statistics on their own. The scan p-value: at least k special positions
// in some window of w positions of a random sequence of n, each special with
// probability p. Here and in Result, TALVO's formula evaluated without its
// cancellation: the same values where TALVO's keep their digits, accurate
// ones down to 1e-300 where TALVO's are rounding noise or 0. Throws Error
// unless k >= 0, 1 <= w <= n and 0 <= p <= 1.
double ScanPValue(int k, int w, int n, double p, bool fractional = false);
// P(X >= k) for X binomial (n, p).
double BinomialUpperTail(int k, int n, double p);
// P(X < k) for X binomial (n, p).
double BinomialLowerTail(int k, int n, double p);

// The release, as CMakeLists.txt's project() names it.
const char* Version();

}  // namespace talvo
