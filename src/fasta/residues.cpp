#include "fasta/residues.h"

#include <algorithm>

namespace talvo {

namespace {

// The bytes kept as they are: upper-case letters and '-'. Tested by
// comparisons, not the table, in blocks of a fixed count, so that the loop
// vectorises.
bool OtherByte(unsigned char c) {
  return (static_cast<unsigned char>(c - 'A') >= 26) & (c != '-');
}

bool AllKept(std::string_view text) {
  constexpr size_t kBlock = 64;
  const auto* bytes = reinterpret_cast<const unsigned char*>(text.data());
  size_t i = 0;
  for (; i + kBlock <= text.size(); i += kBlock) {
    unsigned char other = 0;
    for (size_t j = 0; j < kBlock; j++) other |= OtherByte(bytes[i + j]);
    if (other != 0) return false;
  }
  unsigned char other = 0;
  for (; i < text.size(); i++) other |= OtherByte(bytes[i]);
  return other == 0;
}

}  // namespace

std::string_view KeptResidues(std::string_view text, std::string& storage) {
  if (AllKept(text)) return text;
  storage.resize(text.size());
  storage.resize(static_cast<size_t>(
      CopyResidues(text.data(), text.data() + text.size(), storage.data()) - storage.data()));
  return storage;
}

}  // namespace talvo
