// A whole run on a small arbitrary input with arbitrary options, in process.
//
// Input layout: option arguments one per line, an empty line, then the bytes
// of the FASTA file. The harness repeats the steps of the run set-up and the
// main flow through the subsystem functions instead of calling the driver,
// because the driver ends the process on every refused input and the fuzzer
// must live on; a forked child per input would lose the coverage feedback.
// The set-up's own failure paths are covered by the process-level tests.
//
// The normal-approximation warning goes to the error stream on most inputs:
// run with -close_fd_mask=3 (sanitizer reports still reach the terminal).
//
// Checks: no crash or sanitizer report, a complete report whose segment
// p-values are numbers, segments within the sequence, and a masked FASTA file
// of the sequence's length.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "alphabet/alphabet.h"
#include "detect/detect.h"
#include "driver/driver.h"
#include "fasta/fasta.h"
#include "random/random.h"
#include "reference/fasta_reference.h"
#include "report/report.h"

namespace {

// Bounds that keep one input fast; larger runs are the benchmarks' business.
constexpr int kMaxResidues = 1500;
constexpr int kMaxRandomSequences = 40;
constexpr long kSeed = 1;

void ResetRun() {
  ResetConfiguration();
  special.clear();
  special_merged.clear();
  r_special.clear();
}

struct FuzzInput {
  std::vector<std::string> options;
  std::vector<char> fasta;
};

FuzzInput SplitInput(const uint8_t* data, size_t size) {
  FuzzInput input;
  const char* text = reinterpret_cast<const char*>(data);
  size_t at = 0;
  while (at < size) {
    const void* found = memchr(text + at, '\n', size - at);
    const size_t end = found ? static_cast<const char*>(found) - text : size;
    if (end == at) {  // the empty line ends the options
      ++at;
      break;
    }
    input.options.emplace_back(text + at, end - at);
    at = end + 1;
  }
  if (at < size) input.fasta.assign(text + at, text + size);
  return input;
}

bool ParseCommandLine(std::vector<std::string>& options, const char*& freq_label) {
  std::vector<char*> argv = {const_cast<char*>("TALVO"), const_cast<char*>("in.fa"),
                             const_cast<char*>("out")};
  for (std::string& option : options) argv.push_back(option.data());
  argv.push_back(nullptr);
  std::string message;
  bool to_stderr = false;
  return ParseOptions(static_cast<int>(argv.size()) - 1, argv.data(), freq_label, message,
                      to_stderr) == 1;
}

bool ReadFasta(std::vector<char>& bytes) {
  static char empty_file[1];
  FILE* stream = fmemopen(bytes.empty() ? empty_file : bytes.data(), bytes.size(), "r");
  if (stream == nullptr) return false;
  f_file = FASTA_FILE{};
  f_file.fp = stream;
  const bool read = ReadFastaFile(&f_file) == 1;
  fclose(stream);
  f_file.fp = nullptr;
  return read;
}

bool HoldsValidResidue(const char* seq, int n) {
  for (int i = 0; i < n; ++i)
    if (ConvToInt(seq[i]) != 20) return true;
  return false;
}

// An output stream into memory, so the report can be checked afterwards.
struct MemoryStream {
  char* text = nullptr;
  size_t size = 0;
  FILE* stream = nullptr;
  MemoryStream() { stream = open_memstream(&text, &size); }
  ~MemoryStream() { free(text); }
};

bool IsNumber(const char* text) {
  char* end = nullptr;
  const double value = strtod(text, &end);
  return end != text && !std::isnan(value) && (*end == ' ' || *end == '\n');
}

void CheckReport(const std::string& report, int N) {
  const size_t segments_at = report.find("\n#Segments: ");
  if (segments_at == std::string::npos) abort();
  const size_t overall_at = report.rfind("\n#Overall: ");
  if (overall_at == std::string::npos || overall_at < segments_at) abort();
  if (report.back() != '\n') abort();
  // Each segment line: i start end length k p residues.
  size_t line = report.find('\n', segments_at + 1) + 1;
  while (line < overall_at) {
    int index, start, end, length, count, used = 0;
    if (sscanf(report.c_str() + line, "%d %d %d %d %d %n", &index, &start, &end, &length, &count,
               &used) != 5)
      break;  // the empty line before the overall line
    if (start < 1 || end < start || end > N || length != end - start + 1) abort();
    if (count < 0 || count > length) abort();
    if (!IsNumber(report.c_str() + line + used)) abort();
    line = report.find('\n', line) + 1;
  }
  // The exact overall tail is always a number.
  int special_count = 0, used = 0;
  if (sscanf(report.c_str() + overall_at + 1, "#Overall: %d %n", &special_count, &used) != 1)
    abort();
  if (!IsNumber(report.c_str() + overall_at + 1 + used)) abort();
}

void CheckMaskedFasta(const std::string& fasta, int N) {
  const size_t body_at = fasta.find('\n');
  if (fasta.empty() || fasta[0] != '>' || body_at == std::string::npos) abort();
  int residues = 0;
  for (size_t i = body_at + 1; i < fasta.size(); ++i)
    if (fasta[i] != '\n') ++residues;
  if (residues != N) abort();
}

// The set-up steps after reading, in the order InitAll takes them. Returns
// false where InitAll would end the process with a message.
bool SetUpRun(int N) {
  Conv2Upper(f_file.seqs[0], N);
  if (estimate_freq == 1) {
    if (!HoldsValidResidue(f_file.seqs[0], N)) return false;
    ComputeAAfreq(f_file.seqs[0], N, seq_freq);
  }
  if (N < window) return false;
  binary_seq = static_cast<char*>(calloc(static_cast<size_t>(N) + 1, 1));
  random_binary_seq = static_cast<char*>(calloc(static_cast<size_t>(N) + 1, 1));
  masked_seq = static_cast<char*>(calloc(static_cast<size_t>(N) + 1, 1));
  if (!binary_seq || !random_binary_seq || !masked_seq) abort();
  EncodeBinary(f_file.seqs[0], N + 1, special_aa, binary_seq);
  memcpy(random_binary_seq, binary_seq, static_cast<size_t>(N) + 1);
  P_special = ComputeResidueP(special_aa, aa_freq);
  if (P_special > 1.0) P_special = 1.0;
  if (estimate_linkage == 1) max_separation = EstimateLinkageDistance(P_special);
  init_ran1(kSeed);
  return true;
}

void ReleaseRun() {
  free(binary_seq);
  free(random_binary_seq);
  free(masked_seq);
  binary_seq = random_binary_seq = masked_seq = nullptr;
}

void Detect(int N) {
  if (window < 2) {
    FindRuns(binary_seq, N, special);
    special_merged = special;
    MergeSegmentsDiscrete(binary_seq, special_merged, max_separation);
    if (random_seqs > 0) EstimateRandomPM(random_binary_seq, N);
  } else {
    SlideWindowP(binary_seq, N, window, min_p_val, special);
    special_merged = special;
    if (use_merge == 1) MergeSegmentsDiscrete(binary_seq, special_merged, max_separation);
  }
}

void RunOnce(const char* freq_label) {
  const int N = f_file.lengths[0];
  if (N > kMaxResidues || !SetUpRun(N)) return;

  MemoryStream report;
  MemoryStream masked;
  out = report.stream;
  WriteReportHeader(out, N, freq_label);
  fasta_out = fasta_output > 0 ? masked.stream : nullptr;

  Detect(N);
  const int fasta_written = WriteSegments(f_file.seqs[0], f_file.names[0], N, special_merged);
  fclose(report.stream);
  out = nullptr;
  // The report writer closes the masked FASTA file itself.
  if (fasta_output == 0) fclose(masked.stream);
  fasta_out = nullptr;

  CheckReport(std::string(report.text, report.size), N);
  if (fasta_output > 0) {
    if (fasta_written != 1) abort();
    CheckMaskedFasta(std::string(masked.text, masked.size), N);
  }
  ReleaseRun();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  ResetRun();
  FuzzInput input = SplitInput(data, size);
  const char* freq_label = nullptr;
  if (!ParseCommandLine(input.options, freq_label)) return 0;
  if (random_seqs > kMaxRandomSequences) return 0;
  if (ReadFasta(input.fasta)) RunOnce(freq_label);
  ReleaseFastaFile(&f_file);
  return 0;
}
