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
// An Analyser may be shared by any number of threads: every call keeps its
// working state in the calling thread. Nothing else of the library's state is
// visible through this header.
#pragma once
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace talvo {

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
};

struct Result {
  Skip skip = Skip::kNone;  // when set, only length is filled
  int length = 0;
  double special_probability = 0.0;  // P of the background used
  int linkage = 0;                   // the linkage distance used
  std::vector<Segment> segments;
  Overall overall;
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
  Result Analyse(std::string_view sequence, long entry_number = 1) const;

 private:
  Settings settings_;
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
