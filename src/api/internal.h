// What the front ends share with the analysis beyond the public header.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "stats/stats.h"
#include "talvo/talvo.h"

namespace talvo::internal {

// The generator seed of an entry, from the run seed and the entry's number
// within its input: well mixed, in 1..2147483646.
long EntrySeed(uint64_t run_seed, long entry_number);
// The scan p-value function the settings select.
ScanPValueFunction ScanFunction(const Settings& settings);
// Throws Error unless 0 <= p <= 1.
void CheckProbability(double p);
// Random sequences of either kind, at least one of them.
bool RandomSequencesAsked(const Settings& settings);

// What is wrong with a class name or a class's letters (any case); "" when
// nothing is.
std::string ClassNameProblem(const std::string& name);
std::string ClassLettersProblem(const std::string& letters);
// Upper case, each residue once, in the order given.
std::string CanonicalLetters(const std::string& letters);

// The two readings of TALVO's option syntax ("-W:20", "-I", ...).
enum class OptionSyntax {
  // For the front ends: a flag stands alone, a value follows a colon and is
  // as a whole a number in range or residue letters; anything else is
  // refused, quoting the option as typed.
  kStrict,
  // TALVO's program, as it always read its command line: the letter is the
  // second character of any argument, the value starts at the fourth,
  // numbers are read as far as they go (text gives 0), arguments that do not
  // start with '-' are ignored once their letter passes. The settings come
  // back permissive.
  kTalvo,
};

// What the options ask for.
struct Options {
  Settings settings;
  bool masked_output = false;  // -F or -L
};

// An argument whose second character is no option letter (kTalvo).
class UnrecognizedArgument : public Error {
 public:
  explicit UnrecognizedArgument(char letter)
      : Error(std::string("Unrecognized command line argument: '") + letter + "'"),
        letter_(letter) {}
  char letter() const { return letter_; }  // upper case; '\0' for a lone '-' or ""

 private:
  char letter_;
};

// Reads and validates the options; throws Error (UnrecognizedArgument
// first, in command-line order) with the message of the first refusal.
Options ReadOptions(const std::vector<std::string>& arguments, OptionSyntax syntax);

}  // namespace talvo::internal
