#include "fasta/residues.h"

#include <algorithm>
#include <array>

namespace talvo {
namespace {

// Each byte's residue, or 0 for a byte that is dropped.
constexpr std::array<char, 256> BuildResidueMap() {
  std::array<char, 256> map{};
  for (int c = 'A'; c <= 'Z'; c++) map[c] = static_cast<char>(c);
  for (int c = 'a'; c <= 'z'; c++) map[c] = static_cast<char>(c - 'a' + 'A');
  map['-'] = '-';
  return map;
}

constexpr std::array<char, 256> kResidueMap = BuildResidueMap();

}  // namespace

// Branch-free, so that the loop vectorises: every byte is written and the
// output advances only past the kept ones.
char* CopyResidues(const char* begin, const char* end, char* out) {
  for (const char* c = begin; c < end; c++) {
    const char residue = kResidueMap[static_cast<unsigned char>(*c)];
    *out = residue;
    out += residue != 0;
  }
  return out;
}

std::string_view KeptResidues(std::string_view text, std::string& storage) {
  const bool all_kept = std::all_of(text.begin(), text.end(), [](char c) {
    return c != 0 && kResidueMap[static_cast<unsigned char>(c)] == c;
  });
  if (all_kept) return text;
  storage.resize(text.size());
  storage.resize(static_cast<size_t>(
      CopyResidues(text.data(), text.data() + text.size(), storage.data()) - storage.data()));
  return storage;
}

}  // namespace talvo
