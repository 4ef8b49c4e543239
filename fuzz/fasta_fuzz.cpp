// Arbitrary bytes as a FASTA file: the reader must never crash, read out of
// bounds or hang, and whatever it accepts must satisfy its own invariants.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fasta/fasta.h"
#include "reference/fasta_reference.h"

namespace {

bool IsResidueChar(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-';
}

// Every stored entry: a header and a residue string of exactly its length,
// made of residue characters only.
void CheckEntries(const FASTA_FILE& file) {
  if (file.count <= 0) abort();
  for (int i = 0; i < file.count; ++i) {
    if (file.names[i] == nullptr || file.seqs[i] == nullptr) abort();
    if (file.lengths[i] < 0) abort();
    if (strlen(file.seqs[i]) != static_cast<size_t>(file.lengths[i])) abort();
    for (int j = 0; j < file.lengths[i]; ++j)
      if (!IsResidueChar(file.seqs[i][j])) abort();
    if (strlen(file.names[i]) >= static_cast<size_t>(kFastaLineBuffer)) abort();
  }
  // The slot after the last entry stays empty.
  if (file.names[file.count] != nullptr || file.seqs[file.count] != nullptr) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // fmemopen needs a writable buffer even for reading; a copy also keeps the
  // reader from seeing bytes past the input.
  static char empty_file[1];
  std::vector<char> bytes(data, data + size);
  FILE* stream = fmemopen(bytes.empty() ? empty_file : bytes.data(), size, "r");
  if (stream == nullptr) return 0;
  f_file = FASTA_FILE{};
  f_file.fp = stream;
  if (ReadFastaFile(&f_file) == 1) CheckEntries(f_file);
  fclose(stream);
  ReleaseFastaFile(&f_file);
  return 0;
}
