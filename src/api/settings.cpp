// Settings: their checks, with the tools' messages, and their reading from
// TALVO's option syntax.
#include <cmath>
#include <string>

#include "alphabet/alphabet.h"
#include "api/internal.h"
#include "config/run_config.h"
#include "driver/driver.h"
#include "talvo/talvo.h"

namespace talvo {
namespace {

bool IsProbability(double p) {
  return p >= 0.0 && p <= 1.0;
}

bool IsResidueLetter(char c) {
  const char upper = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
  return ConvToInt(upper) < 20;
}

// The message without the blank lines around it.
std::string Trimmed(const std::string& message) {
  const size_t first = message.find_first_not_of('\n');
  if (first == std::string::npos) return "";
  const size_t last = message.find_last_not_of('\n');
  return message.substr(first, last - first + 1);
}

Background BackgroundOf(const double* table) {
  if (table == seq_freq) return Background::kInput;
  return table == pdb_aa_freq ? Background::kPdb : Background::kSprot;
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
  if (settings.window < 0) throw Error("the window must be 0 (runs mode) or at least 2");
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
  // TALVO's parser expects its two positional arguments first.
  std::vector<std::string> args = {"talvo", "-", "-"};
  args.insert(args.end(), options.begin(), options.end());
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  ResetConfiguration();
  const char* freq_label = nullptr;
  std::string message;
  bool to_stderr = false;
  if (!ParseOptions(static_cast<int>(args.size()), argv.data(), freq_label, message, to_stderr)) {
    throw Error(Trimmed(message));
  }
  Settings settings;
  settings.alphabet = special_aa;
  settings.background = BackgroundOf(aa_freq);
  settings.window = window < 2 ? 0 : window;
  settings.linkage = max_separation;
  settings.estimate_linkage = estimate_linkage == 1;
  if (random_seqs > 0) {
    settings.random_null = estimate_ran == 1 ? RandomNull::kGenerated : RandomNull::kShuffled;
    settings.random_count = random_seqs;
  }
  settings.min_p = min_p_val;
  settings.mask_p = masking_p_val;
  settings.merge_windows = use_merge == 1;
  settings.lower_case_mask = fasta_output == 2;
  Validate(settings);
  return settings;
}

}  // namespace talvo
