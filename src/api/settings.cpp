// Settings: their checks, with the tools' messages, and the one reading of
// TALVO's option syntax, strict for the front ends and lenient for TALVO.
#include <algorithm>
#include <cctype>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "alphabet/alphabet.h"
#include "api/internal.h"
#include "talvo/talvo.h"

namespace talvo {
namespace internal {
namespace {

bool IsProbability(double p) {
  return p >= 0.0 && p <= 1.0;
}

char UpperAscii(char c) {
  return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool IsResidueLetter(char c) {
  return ConvToInt(UpperAscii(c)) < 20;
}

// TALVO's option syntax. Read strictly, a mistyped option must never run
// another analysis: a flag is a dash and its letter (in either case); a value
// option is the letter, a colon and a value that is a number in range as a
// whole (or residue letters for -A). TALVO's program reads it as leniently
// as it always did.
constexpr char kFlagLetters[] = "TXIFLNK";
constexpr char kValueLetters[] = "WESGPMA";

bool IsOneOf(char c, const char* letters) {
  return c != '\0' && strchr(letters, c) != nullptr;
}

// "-all", "-masked", "-no-progress": a long option given one dash.
bool LooksLikeLongOption(const std::string& arg) {
  if (arg.size() < 4 || arg[0] != '-' || !(arg[1] >= 'a' && arg[1] <= 'z')) return false;
  return std::all_of(arg.begin() + 1, arg.end(),
                     [](char c) { return (c >= 'a' && c <= 'z') || c == '-'; });
}

// What a good value of the option looks like, for the messages.
const char* ExampleValue(char letter) {
  switch (letter) {
    case 'W':
      return "20";
    case 'E':
      return "4";
    case 'S':
    case 'G':
      return "1000";
    case 'A':
      return "GPSTDNH";
  }
  return "0.05";  // -P, -M
}

const char* ValueRule(char letter) {
  switch (letter) {
    case 'W':
      return "the window is 0 (runs mode) or a whole number of at least 2";
    case 'E':
      return "the linkage distance is a whole number of at least 0";
    case 'S':
    case 'G':
      return "the number of random sequences is a whole number of at least 1";
    case 'A':
      return "the sub-alphabet is one or more of the 20 residue letters ACDEFGHIKLMNPQRSTVWY";
  }
  return "a p-value threshold is a number from 0 to 1";  // -P, -M
}

[[noreturn]] void RefuseOption(const std::string& arg, const std::string& why) {
  throw Error("invalid option '" + arg + "': " + why);
}

int WholeValue(const std::string& arg, char letter, const std::string& text, int least) {
  int value = 0;
  const char* last = text.data() + text.size();
  const auto [end, error] = std::from_chars(text.data(), last, value);
  const bool whole = error == std::errc() && end == last;
  if (!whole || value < least || (letter == 'W' && value == 1)) {
    RefuseOption(arg, ValueRule(letter));
  }
  return value;
}

// A decimal number as a whole: digits, a point, an exponent. strtod reads it
// (not every standard library has from_chars for doubles); what strtod takes
// beyond that (white space, signs, hex, inf, nan) is refused first.
bool IsDecimalText(const std::string& text) {
  const bool digit_or_point =
      !text.empty() && (std::isdigit(static_cast<unsigned char>(text[0])) || text[0] == '.');
  return digit_or_point && text.find_first_of("xX") == std::string::npos;
}

double ThresholdValue(const std::string& arg, char letter, const std::string& text) {
  char* end = nullptr;
  const double value = IsDecimalText(text) ? strtod(text.c_str(), &end) : -1.0;
  if (end != text.c_str() + text.size() || !IsProbability(value)) {
    RefuseOption(arg, ValueRule(letter));
  }
  return value;
}

// Upper case, the 20 residues only, each once: "gpsGx9" gives "GPS".
std::string CanonicalAlphabet(const std::string& text) {
  char letters[21];
  CopyAA(text.c_str(), letters);
  return letters;
}

std::string SubAlphabet(const std::string& arg, const std::string& text) {
  if (text.empty() || !std::all_of(text.begin(), text.end(), IsResidueLetter)) {
    RefuseOption(arg, ValueRule('A'));
  }
  return CanonicalAlphabet(text);
}

// What each option sets, whichever way its value was read.
void SetNumber(char letter, int value, Settings& settings) {
  switch (letter) {
    case 'W':
      settings.window = value;
      break;
    case 'E':
      settings.linkage = value;
      break;
    case 'S':
    case 'G':
      settings.random_count = value;
      settings.random_null = letter == 'S' ? RandomNull::kShuffled : RandomNull::kGenerated;
      break;
  }
}

void SetThreshold(char letter, double value, Settings& settings) {
  (letter == 'P' ? settings.min_p : settings.mask_p) = value;
}

void SetFlag(char letter, Options& options) {
  Settings& settings = options.settings;
  switch (letter) {
    case 'T':
      settings.background = Background::kSprot;
      break;
    case 'X':
      settings.background = Background::kPdb;
      break;
    case 'I':
      settings.background = Background::kInput;
      break;
    case 'N':
      settings.merge_windows = false;
      break;
    case 'K':
      settings.estimate_linkage = true;
      break;
    case 'F':
    case 'L':
      settings.lower_case_mask = letter == 'L';
      options.masked_output = true;
      break;
  }
}

void ApplyStrictValue(const std::string& arg, char letter, const std::string& text,
                      Settings& settings) {
  switch (letter) {
    case 'W':
    case 'E':
    case 'S':
    case 'G':
      SetNumber(letter, WholeValue(arg, letter, text, letter == 'S' || letter == 'G' ? 1 : 0),
                settings);
      break;
    case 'P':
    case 'M':
      SetThreshold(letter, ThresholdValue(arg, letter, text), settings);
      break;
    case 'A':
      settings.alphabet = SubAlphabet(arg, text);
      break;
  }
}

// Why a value option is malformed: missing, or not after a colon.
[[noreturn]] void RefuseValueForm(const std::string& arg) {
  const std::string option = arg.substr(0, 2);
  if (arg.size() == 2) {
    RefuseOption(arg,
                 "needs a value, as in '" + option + ":" + ExampleValue(UpperAscii(arg[1])) + "'");
  }
  // "-W20" and "-W=20" both mean "-W:20".
  const bool separator = !std::isalnum(static_cast<unsigned char>(arg[2])) && arg[2] != '-' &&
                         arg[2] != '.' && arg[2] != '+';
  RefuseOption(arg, "write the value after a colon, as in '" + option + ":" +
                        arg.substr(separator ? 3 : 2) + "'");
}

void ApplyStrictOption(const std::string& arg, Options& options) {
  const char letter = arg.size() >= 2 && arg[0] == '-' ? UpperAscii(arg[1]) : '\0';
  if (LooksLikeLongOption(arg)) {
    throw Error("unknown option '" + arg + "'; did you mean '-" + arg + "'?");
  }
  if (IsOneOf(letter, kFlagLetters)) {
    if (arg.size() > 2) RefuseOption(arg, arg.substr(0, 2) + " takes no value");
    SetFlag(letter, options);
  } else if (IsOneOf(letter, kValueLetters)) {
    if (arg.size() < 3 || arg[2] != ':') RefuseValueForm(arg);
    ApplyStrictValue(arg, letter, arg.substr(3), options.settings);
  } else {
    throw Error("unknown option '" + arg + "'");
  }
}

// TALVO's reading: strtol in base 10, clamped to the 32-bit range.
int LenientWhole(const char* text) {
  const long value = strtol(text, nullptr, 10);
  return static_cast<int>(std::clamp<long>(value, INT_MIN, INT_MAX));
}

// The option letter is the second character of any argument, upper-cased; an
// empty argument has none and is reported like a lone '-', with the zero byte.
void ApplyTalvoOption(const std::string& arg, Options& options) {
  const char letter = arg.empty() ? '\0' : UpperAscii(arg[1]);
  if (!IsOneOf(letter, kFlagLetters) && !IsOneOf(letter, kValueLetters)) {
    throw UnrecognizedArgument(letter);
  }
  if (arg[0] != '-') return;
  // The value starts at the fourth character whatever the third one is.
  const char* value = arg.size() >= 3 ? arg.c_str() + 3 : "";
  if (IsOneOf(letter, kFlagLetters)) {
    SetFlag(letter, options);
  } else if (letter == 'P' || letter == 'M') {
    SetThreshold(letter, strtod(value, nullptr), options.settings);
  } else if (letter == 'A') {
    options.settings.alphabet = CanonicalAlphabet(value);
  } else {
    SetNumber(letter, LenientWhole(value), options.settings);
  }
}

void CheckAlphabet(const std::string& alphabet) {
  if (alphabet.empty()) throw Error("the sub-alphabet is empty");
  for (char c : alphabet) {
    if (!IsResidueLetter(c)) {
      throw Error("invalid sub-alphabet '" + alphabet +
                  "': only the 20 residue letters ACDEFGHIKLMNPQRSTVWY");
    }
  }
}

}  // namespace

bool RandomSequencesAsked(const Settings& settings) {
  return settings.random_null != RandomNull::kNone && settings.random_count > 0;
}

void CheckProbability(double p) {
  if (!IsProbability(p)) throw Error("a probability must lie between 0 and 1");
}

Options ReadOptions(const std::vector<std::string>& arguments, OptionSyntax syntax) {
  Options options;
  options.settings.permissive = syntax == OptionSyntax::kTalvo;
  for (const std::string& arg : arguments) {
    if (syntax == OptionSyntax::kTalvo) {
      ApplyTalvoOption(arg, options);
    } else {
      ApplyStrictOption(arg, options);
    }
  }
  const Settings& settings = options.settings;
  Validate(settings);
  if (!settings.merge_windows && settings.window >= 2 && options.masked_output) {
    throw Error("Incompatible switches: no merge+fasta output");
  }
  return options;
}

}  // namespace internal

// The checks in TALVO's order; a permissive reading skips the ones that only
// the other front ends make.
void Validate(const Settings& settings) {
  if (!settings.permissive) internal::CheckAlphabet(settings.alphabet);
  if (!internal::IsProbability(settings.min_p) || !internal::IsProbability(settings.mask_p)) {
    throw Error("ERROR: wrong P-value specified");
  }
  const bool random = internal::RandomSequencesAsked(settings);
  if (!settings.permissive) {
    // A window of 1 would leave TALVO in runs mode: refused, as -W:1 is.
    if (settings.window < 0 || settings.window == 1) throw Error(internal::ValueRule('W'));
    if (settings.linkage < 0) throw Error("the linkage distance must not be negative");
    if (settings.random_null != RandomNull::kNone && !random) {
      throw Error("the number of random sequences must be at least 1");
    }
  }
  if (settings.window >= 2 && random) {
    throw Error("Incompatible switches: scanning window+random sequences");
  }
  if (!settings.merge_windows && settings.window < 2) {
    throw Error("Incompatible switches: no merge+use linkage");
  }
  if (settings.exact_null && !random) {
    throw Error("exact null probabilities need shuffled or generated sequences (-S or -G)");
  }
}

Settings SettingsFromOptions(const std::vector<std::string>& options) {
  return internal::ReadOptions(options, internal::OptionSyntax::kStrict).settings;
}

}  // namespace talvo
