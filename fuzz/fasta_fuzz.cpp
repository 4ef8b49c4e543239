// Arbitrary bytes as a FASTA file: the block reader must never crash, read out
// of bounds or hang, and must read exactly what the literal reader reads.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "support/support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (!ReadsAsLiteral(std::string(reinterpret_cast<const char*>(data), size))) abort();
  return 0;
}
