// Settings: their checks, with the tools' messages, and their strict reading
// from TALVO's option syntax.
#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <string>

#include "alphabet/alphabet.h"
#include "api/internal.h"
#include "talvo/talvo.h"

namespace talvo {
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

// TALVO's option syntax, read strictly: a mistyped option must never run
// another analysis. A flag is a dash and its letter (in either case); a value
// option is the letter, a colon and a value that is a number in range as a
// whole (or residue letters for -A). TALVO's own parser stays as lenient as
// it always was; this one serves the front ends.
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

std::string SubAlphabet(const std::string& arg, const std::string& text) {
  if (text.empty() || !std::all_of(text.begin(), text.end(), IsResidueLetter)) {
    RefuseOption(arg, ValueRule('A'));
  }
  char letters[sizeof special_aa];
  CopyAA(text.c_str(), letters);  // upper case, repeats dropped
  return letters;
}

void ApplyValue(const std::string& arg, char letter, const std::string& text, Settings& settings) {
  switch (letter) {
    case 'W':
      settings.window = WholeValue(arg, letter, text, 0);
      break;
    case 'E':
      settings.linkage = WholeValue(arg, letter, text, 0);
      break;
    case 'S':
    case 'G':
      settings.random_count = WholeValue(arg, letter, text, 1);
      settings.random_null = letter == 'S' ? RandomNull::kShuffled : RandomNull::kGenerated;
      break;
    case 'P':
      settings.min_p = ThresholdValue(arg, letter, text);
      break;
    case 'M':
      settings.mask_p = ThresholdValue(arg, letter, text);
      break;
    case 'A':
      settings.alphabet = SubAlphabet(arg, text);
      break;
  }
}

// Returns true for -F and -L, which ask for a masked output.
bool ApplyFlag(char letter, Settings& settings) {
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
      return true;
  }
  return false;
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

}  // namespace

void CheckProbability(double p) {
  if (!IsProbability(p)) throw Error("a probability must lie between 0 and 1");
}

void Validate(const Settings& settings) {
  if (settings.alphabet.empty()) throw Error("the sub-alphabet is empty");
  for (char c : settings.alphabet) {
    if (!IsResidueLetter(c)) {
      throw Error("invalid sub-alphabet '" + settings.alphabet +
                  "': only the 20 residue letters ACDEFGHIKLMNPQRSTVWY");
    }
  }
  if (!IsProbability(settings.min_p) || !IsProbability(settings.mask_p)) {
    throw Error("ERROR: wrong P-value specified");
  }
  // A window of 1 would leave TALVO in runs mode: refused, as -W:1 is.
  if (settings.window < 0 || settings.window == 1) throw Error(ValueRule('W'));
  if (settings.linkage < 0) throw Error("the linkage distance must not be negative");
  const bool random = settings.random_null != RandomNull::kNone;
  if (random && settings.random_count < 1) {
    throw Error("the number of random sequences must be at least 1");
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
  Settings settings;
  bool masked_output = false;
  for (const std::string& arg : options) {
    const char letter = arg.size() >= 2 && arg[0] == '-' ? UpperAscii(arg[1]) : '\0';
    if (LooksLikeLongOption(arg)) {
      throw Error("unknown option '" + arg + "'; did you mean '-" + arg + "'?");
    }
    if (IsOneOf(letter, kFlagLetters)) {
      if (arg.size() > 2) RefuseOption(arg, arg.substr(0, 2) + " takes no value");
      masked_output = ApplyFlag(letter, settings) || masked_output;
    } else if (IsOneOf(letter, kValueLetters)) {
      if (arg.size() < 3 || arg[2] != ':') RefuseValueForm(arg);
      ApplyValue(arg, letter, arg.substr(3), settings);
    } else {
      throw Error("unknown option '" + arg + "'");
    }
  }
  Validate(settings);
  if (!settings.merge_windows && settings.window >= 2 && masked_output) {
    throw Error("Incompatible switches: no merge+fasta output");
  }
  return settings;
}

}  // namespace talvo
