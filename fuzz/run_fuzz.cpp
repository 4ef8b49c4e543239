// A whole run in process on option lines, an empty line and a FASTA file, with
// the driver's set-up steps repeated (the driver exits on refused input). Run
// with -close_fd_mask=3. Checks: no crash, no sanitizer report, and a complete
// report whose segment p-values are numbers.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "driver/driver.h"
#include "report/report.h"
#include "support/support.h"

using namespace talvo::internal;

namespace {

void Run(int N) {
  Conv2Upper(f_file.seqs[0], N);
  const bool no_residue = strspn(f_file.seqs[0], "BJOUXZ-") == static_cast<size_t>(N);
  if (N > 1500 || N < window || (estimate_freq && no_residue) || random_seqs > 40) return;
  if (estimate_freq == 1) ComputeAAfreq(f_file.seqs[0], N, seq_freq);
  std::vector<char> binary(N + 1), random_binary(N + 1), masked(N + 1);
  EncodeBinary(f_file.seqs[0], N + 1, special_aa, binary.data());
  random_binary = binary;
  std::tie(binary_seq, random_binary_seq, masked_seq) =
      std::tuple(binary.data(), random_binary.data(), masked.data());
  P_special = std::min(ComputeResidueP(special_aa, aa_freq), 1.0);
  if (estimate_linkage == 1) max_separation = EstimateLinkageDistance(P_special);
  init_ran1(1);
  char* report = nullptr;
  size_t report_size = 0;
  out = open_memstream(&report, &report_size);
  fasta_out = fasta_output > 0 ? fopen("/dev/null", "w") : nullptr;
  special.clear();
  if (window < 2) FindRuns(binary_seq, N, special);
  if (window >= 2) SlideWindowP(binary_seq, N, window, min_p_val, special);
  special_merged = special;
  if (use_merge == 1) MergeSegmentsDiscrete(binary_seq, special_merged, max_separation);
  if (window < 2) EstimateRandomPM(random_binary_seq, N);
  if (WriteSegments(f_file.seqs[0], f_file.names[0], N, special_merged) != 1) abort();
  fclose(out);
  const std::string text(report, report_size);
  const size_t segments = text.find("\n#Segments: "), overall = text.find("\n#Overall: ");
  if (overall == std::string::npos || text.find("nan", segments) < overall) abort();
  free(report);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string input(reinterpret_cast<const char*>(data), size);
  const size_t split = input.starts_with("\n") ? 0 : input.find("\n\n");  // ends the options
  std::istringstream lines(input.substr(0, split));
  std::vector<std::string> args = {"TALVO", "in.fa", "out"};
  for (std::string line; std::getline(lines, line);) args.push_back(line);
  std::string fasta = split == std::string::npos ? "" : input.substr(split + (split ? 2 : 1));
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  ResetConfiguration();
  const char* label = nullptr;
  std::string message;
  bool to_stderr = false;
  if (!ParseOptions(static_cast<int>(argv.size()), argv.data(), label, message, to_stderr))
    return 0;
  f_file = FASTA_FILE{};
  f_file.fp = fmemopen(fasta.data(), fasta.size(), "r");
  if (ReadFastaFile(&f_file) == 1) Run(f_file.lengths[0]);
  fclose(f_file.fp);
  ReleaseFastaFile(&f_file);
  return 0;
}
