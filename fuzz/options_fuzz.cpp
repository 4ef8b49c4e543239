// Arbitrary argument vectors through the option parser: NUL bytes split the
// input into arguments, so empty and one-character arguments, huge and
// negative numbers, nan and inf all come up. Parsing must never crash or
// exit, and an accepted configuration must satisfy the validation rules.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "alphabet/alphabet.h"
#include "driver/driver.h"
#include "random/random.h"

namespace {

std::vector<std::string> SplitArguments(const uint8_t* data, size_t size) {
  std::vector<std::string> args;
  if (size == 0) return args;
  args.emplace_back();
  for (size_t i = 0; i < size; ++i) {
    if (data[i] == '\0') {
      args.emplace_back();
    } else {
      args.back().push_back(static_cast<char>(data[i]));
    }
  }
  return args;
}

bool InUnitRangeOrNaN(double p) {
  return std::isnan(p) || (p >= 0.0 && p <= 1.0);
}

// The sub-alphabet holds distinct residue letters only, terminated in its field.
void CheckSubAlphabet() {
  const size_t length = strnlen(special_aa, sizeof special_aa);
  if (length >= sizeof special_aa) abort();
  for (size_t i = 0; i < length; ++i) {
    if (ConvToInt(special_aa[i]) == 20) abort();
    if (strchr(special_aa + i + 1, special_aa[i]) != nullptr) abort();
  }
}

void CheckAccepted(const char* freq_label) {
  if (freq_label == nullptr) abort();
  if (!InUnitRangeOrNaN(min_p_val) || !InUnitRangeOrNaN(masking_p_val)) abort();
  if (window >= 2 && random_seqs > 0) abort();
  if (use_merge == 0 && (window < 2 || fasta_output != 0)) abort();
  if (estimate_freq == 1 && aa_freq != seq_freq) abort();
  if (special_rand_p.size() < static_cast<size_t>(kMinDistributionSize)) abort();
  CheckSubAlphabet();

  // What set-up does next with the configuration: the background
  // probability, the linkage estimate and the report header.
  const double p = ComputeResidueP(special_aa, aa_freq);
  if (!(p >= 0.0 && p <= 1.0 + 1e-9)) abort();
  if (estimate_linkage == 1 && EstimateLinkageDistance(p) < 1) abort();
  FILE* sink = fopen("/dev/null", "w");
  if (sink == nullptr) abort();
  WriteReportHeader(sink, 1, freq_label);
  fclose(sink);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ResetConfiguration();
  std::vector<std::string> args = SplitArguments(data, size);
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>("TALVO"));
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  const int argc = static_cast<int>(argv.size()) - 1;

  const char* freq_label = nullptr;
  std::string message;
  bool to_stderr = false;
  if (ParseOptions(argc, argv.data(), freq_label, message, to_stderr) == 1) {
    if (!message.empty()) abort();
    CheckAccepted(freq_label);
  } else if (message.empty()) {
    abort();  // every refusal explains itself
  }
  return 0;
}
