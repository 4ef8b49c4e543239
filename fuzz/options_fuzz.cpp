// Arbitrary argument vectors, split at NUL bytes, through the option parser:
// it must never crash or exit, every refusal explains itself, and an accepted
// configuration keeps the validation rules.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "alphabet/alphabet.h"
#include "driver/driver.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ResetConfiguration();
  std::vector<std::string> args = {"TALVO", ""};
  for (size_t i = 0; i < size; i++) {
    if (data[i] == '\0')
      args.emplace_back();
    else
      args.back() += static_cast<char>(data[i]);
  }
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  const char* label = nullptr;
  std::string message;
  bool to_stderr = false;
  if (!ParseOptions(static_cast<int>(argv.size()), argv.data(), label, message, to_stderr)) {
    if (message.empty()) abort();
    return 0;
  }
  if (label == nullptr || !message.empty()) abort();
  if (!(min_p_val >= 0 && min_p_val <= 1 && masking_p_val >= 0 && masking_p_val <= 1)) abort();
  if ((window >= 2 && random_seqs > 0) || (use_merge == 0 && (window < 2 || fasta_output))) abort();
  if (estimate_freq != (aa_freq == seq_freq)) abort();
  for (const char* c = special_aa; *c; c++) {
    if (ConvToInt(*c) == 20 || strchr(c + 1, *c)) abort();  // distinct residues only
  }
  return 0;
}
