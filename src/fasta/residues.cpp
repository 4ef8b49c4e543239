#include "fasta/residues.h"

#include <algorithm>

namespace talvo {

std::string_view KeptResidues(std::string_view text, std::string& storage) {
  const bool all_kept = std::all_of(text.begin(), text.end(), [](char c) {
    return c != 0 && kResidueOfByte[static_cast<unsigned char>(c)] == c;
  });
  if (all_kept) return text;
  storage.resize(text.size());
  storage.resize(static_cast<size_t>(
      CopyResidues(text.data(), text.data() + text.size(), storage.data()) - storage.data()));
  return storage;
}

}  // namespace talvo
