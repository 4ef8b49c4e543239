// Run set-up: reads the input, prepares the working arrays and the 0/1
// encoding, computes P_special and the linkage distance, seeds the generator,
// opens the outputs and writes the report header. Every failure ends the
// process with its message and status 1.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "alphabet/alphabet.h"
#include "driver/driver.h"
#include "fasta/fasta.h"
#include "random/random.h"
#include "report/report.h"

namespace talvo::internal {

namespace {

// puts adds one more newline to these messages.
[[noreturn]] void FailOnStdout(const char* message) {
  puts(message);
  exit(1);
}

void ApplyCommandLine(int argc, char** argv, const char*& freq_label) {
  std::string message;
  bool to_stderr = false;
  if (ParseOptions(argc, argv, freq_label, message, to_stderr)) return;
  fwrite(message.data(), 1, message.size(), to_stderr ? stderr : stdout);
  exit(1);
}

void ReadInput(const char* path) {
  FILE* input = fopen(path, "r");
  if (input == nullptr) FailOnStdout("\nCan't open input file\n");
  f_file.fp = input;
  if (!ReadFastaFile(&f_file)) FailOnStdout("\nError reading FASTA file\n");
  fclose(input);
  f_file.fp = nullptr;
}

char* AllocateSequenceArray(int N) {
  char* array = static_cast<char*>(calloc(static_cast<size_t>(N) + 1, 1));
  if (array == nullptr) FailOnStdout("\nAllocation error in InitAll()");
  return array;
}

// Position N encodes the terminator of the residue string, so it holds '0'.
void EncodeFirstEntry(int N) {
  random_binary_seq = AllocateSequenceArray(N);
  binary_seq = AllocateSequenceArray(N);
  masked_seq = AllocateSequenceArray(N);
  EncodeBinary(f_file.seqs[0], N + 1, special_aa, binary_seq);
  memcpy(random_binary_seq, binary_seq, static_cast<size_t>(N) + 1);
}

void SetLinkageDistance() {
  if (estimate_linkage == 1) {
    max_separation = EstimateLinkageDistance(P_special);
    printf("Estimated linkage distance = %d\n", max_separation);
  } else {
    printf("Linkage distance = %d\n", max_separation);
  }
}

// The names are built without a fixed-size buffer; a name that the system
// refuses fails like any other unopenable file.
FILE* OpenOutput(const char* base, const char* extension, std::string& name) {
  name = std::string(base) + extension;
  return fopen(name.c_str(), "w");
}

}  // namespace

void WriteReportHeader(FILE* stream, int N, const char* freq_label) {
  if (window < 2) {
    fprintf(stream, "Length=%d W=%d E=%d\n", N, window, max_separation);
  } else {
    fprintf(stream, "Length=%d W=%d E=%d P=%lf\n", N, window, max_separation, min_p_val);
  }
  fprintf(stream, "Special AA: %s; %s; P=%.4lf;\n", special_aa, freq_label, P_special);
  if (estimate_ran == 2) {
    fprintf(stream, "Estimates using %d shuffled sequences\n", random_seqs);
  } else if (estimate_ran == 1) {
    fprintf(stream, "Estimates using %d generated sequences\n", random_seqs);
  }
}

void InitAll(int argc, char** argv) {
  const char* freq_label = nullptr;
  ApplyCommandLine(argc, argv, freq_label);

  ReadInput(argv[1]);
  const int N = f_file.lengths[0];
  Conv2Upper(f_file.seqs[0], N);
  // Only -I leaves estimate_freq set, and then the active table is seq_freq.
  if (estimate_freq == 1) ComputeAAfreq(f_file.seqs[0], N, seq_freq);
  if (N < window) FailOnStdout("\nERROR: window is longer than the sequence");

  EncodeFirstEntry(N);
  // A sum of estimated frequencies can round just above 1 (an all-special
  // sequence); a probability above 1 would derail every later test.
  P_special = std::min(ComputeResidueP(special_aa, aa_freq), 1.0);
  SetLinkageDistance();
  init_ran1(0);

  std::string name;
  out = OpenOutput(argv[2], ".seg", name);
  if (out == nullptr) FailOnStdout("\nCan't open output file\n");
  WriteReportHeader(out, N, freq_label);

  if (fasta_output > 0) {
    fasta_out = OpenOutput(argv[2], ".fas", name);
    if (fasta_out == nullptr) {
      fprintf(stderr, "\nCan't open output file %s\n", name.c_str());
      exit(1);
    }
  }
}

}  // namespace talvo::internal
