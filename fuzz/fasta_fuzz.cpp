// Arbitrary bytes as a FASTA file: the block reader must never crash, read out
// of bounds or hang, and must read exactly what the literal reader reads.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fasta/fasta.h"
#include "reference/literal.h"
#include "support/support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<literal::FastaEntry> expected;
  const bool read = literal::ReadFasta(text, expected);
  FASTA_FILE file;
  file.fp = fmemopen(text.data(), size, "r");
  if (file.fp == nullptr) return 0;
  if (ReadFastaFile(&file) != (read ? 1 : 0)) abort();
  if (read && file.count != static_cast<int>(expected.size())) abort();
  for (int i = 0; read && i < file.count; i++) {
    const literal::FastaEntry& entry = expected[i];
    if (entry.name.c_str() != std::string(file.names[i]) || entry.seq != file.seqs[i]) abort();
    if (file.lengths[i] != static_cast<int>(entry.seq.size())) abort();
  }
  fclose(file.fp);
  ReleaseFastaFile(&file);
  return 0;
}
