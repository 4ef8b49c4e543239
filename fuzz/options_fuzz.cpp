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

using namespace talvo::internal;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<char*> argv = {const_cast<char*>("TALVO"), text.data()};
  for (char& c : text) {
    if (c == '\0') argv.push_back(&c + 1);  // one argument after every NUL byte
  }
  ResetConfiguration();
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
