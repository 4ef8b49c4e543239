// Command line: the help text, the fourteen options and their validation.
// Parsing never prints or exits, so that any argv can be tried in-process;
// InitAll turns a failure into its message and exit status.
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "alphabet/alphabet.h"
#include "driver/driver.h"
#include "random/random.h"

namespace talvo::internal {

const char valid_args[] = "WESGTXAPNFLIMK";

const char Help[] =
    "\n"
    "Find compositionally biased segments in protein sequence.\n"
    "\n"
    "TALVO <FASTA sequence> <output file> [optional arguments]\n"
    "\n"
    "Optional arguments:\n"
    "\n"
    "-W:# - scanning window size\n"
    "-E:# - fragments closer than this number of positions will be merged (4 by default)\n"
    "-S:# - shuffle the original sequence # times to generate random sequences\n"
    "-G:# - use a.a. frequencies to generate # random sequences\n"
    "-T   - use SPROT frequencies (default)\n"
    "-X   - use PDB frequencies\n"
    "-I   - estimate frequencies from input sequence\n"
    "-F   - output MURL-like masked sequence in FASTA format (segments with p-value < min. "
    "p-value are masked by X's)\n"
    "-L   - mask segments using lower-case letters\n"
    "-N   - do not merge overlapping/adjacent scanning windows\n"
    "-K   - estimate linkage distance from expected number of occurrences\n"
    "-A:string - amino acid sub-alphabet (default: GPSTDNH)\n"
    "-P:# - min. p-value for merging adjacent scanning windows (0.05 by default)\n"
    "-M:# - min. p-value for masking FASTA output (0.05 by default)\n";

namespace {

const char kSprotLabel[] = "SPROT frequencies";
const char kPdbLabel[] = "PDB frequencies";
const char kSequenceLabel[] = "Sequence frequencies";

// The option letter of an argument, upper-cased. An empty argument has no
// second character and is reported like a lone '-': with the zero byte.
char OptionLetter(const char* arg) {
  if (arg[0] == '\0') return '\0';
  const char c = arg[1];
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

// The value starts at the fourth character whatever the third one is; an
// argument too short to have one gives the empty text, read as 0.
const char* OptionValue(const char* arg) {
  return strlen(arg) >= 3 ? arg + 3 : "";
}

// As strtol in base 10, clamped to the 32-bit range.
int IntValue(const char* text) {
  const long value = strtol(text, nullptr, 10);
  if (value > INT_MAX) return INT_MAX;
  if (value < INT_MIN) return INT_MIN;
  return static_cast<int>(value);
}

double RealValue(const char* text) {
  return strtod(text, nullptr);
}

void SelectTable(const double* table, const char* label, const char*& freq_label) {
  aa_freq = table;
  freq_label = label;
  // A built-in table chosen after -I replaces the estimate wholly: the
  // estimate must only ever fill the sequence table.
  estimate_freq = table == seq_freq ? 1 : 0;
}

void ApplyOption(char letter, const char* arg, const char*& freq_label) {
  const char* value = OptionValue(arg);
  switch (letter) {
    case 'W':
      window = IntValue(value);
      break;
    case 'E':
      max_separation = IntValue(value);
      break;
    case 'S':
      random_seqs = IntValue(value);
      estimate_ran = 2;
      break;
    case 'G':
      random_seqs = IntValue(value);
      estimate_ran = 1;
      break;
    case 'T':
      SelectTable(sp_aa_freq, kSprotLabel, freq_label);
      break;
    case 'X':
      SelectTable(pdb_aa_freq, kPdbLabel, freq_label);
      break;
    case 'I':
      SelectTable(seq_freq, kSequenceLabel, freq_label);
      break;
    case 'P':
      min_p_val = RealValue(value);
      break;
    case 'M':
      masking_p_val = RealValue(value);
      break;
    case 'N':
      use_merge = 0;
      break;
    case 'K':
      estimate_linkage = 1;
      break;
    case 'F':
      fasta_output = 1;
      break;
    case 'L':
      fasta_output = 2;
      break;
    case 'A':
      CopyAA(value, special_aa);
      break;
  }
}

// A NaN threshold would never record a window nor mask a segment: refuse it.
bool IsOutsideUnitRange(double p) {
  return !(p >= 0.0 && p <= 1.0);
}

// The first failing check's message, or nullptr when the settings agree.
const char* ValidationFailure() {
  if (IsOutsideUnitRange(min_p_val) || IsOutsideUnitRange(masking_p_val)) {
    return "\nERROR: wrong P-value specified\n";
  }
  if (window >= 2 && random_seqs > 0) {
    return "Incompatible switches: scanning window+random sequences\n";
  }
  if (use_merge == 0 && window < 2) return "Incompatible switches: no merge+use linkage\n";
  if (use_merge == 0 && window >= 2 && fasta_output != 0) {
    return "Incompatible switches: no merge+fasta output\n";
  }
  return nullptr;
}

}  // namespace

int ParseOptions(int argc, char** argv, const char*& freq_label, std::string& message,
                 bool& to_stderr) {
  message.clear();
  to_stderr = false;
  if (argc < 3) {
    message = std::string(Help) + "\n";
    return 0;
  }

  special_rand_p.assign(kMinDistributionSize, 0.0);
  SelectTable(sp_aa_freq, kSprotLabel, freq_label);
  CopyAA("GPSTDNH", special_aa);

  const int letters = static_cast<int>(strlen(valid_args));
  for (int i = 3; i < argc; i++) {
    const char* arg = argv[i];
    const char letter = OptionLetter(arg);
    if (!AAExists(letter, valid_args, letters)) {
      message = "\nUnrecognized command line argument: '";
      message += letter;
      message += "'\n";
      return 0;
    }
    if (arg[0] == '-') ApplyOption(letter, arg, freq_label);
  }

  if (const char* failure = ValidationFailure()) {
    message = failure;
    to_stderr = true;
    return 0;
  }
  return 1;
}

}  // namespace talvo::internal
