// The residues of a sequence as every reader of the project keeps them: ASCII
// letters, upper-cased, and '-'. White space, digits, '*' and every other
// byte (those above 127 included) are dropped, so that positions count the
// same whichever front end read the sequence.
#pragma once
#include <array>
#include <string>
#include <string_view>

namespace talvo {

// Each byte's residue, or 0 for a byte that is dropped.
inline constexpr std::array<char, 256> kResidueOfByte = [] {
  std::array<char, 256> map{};
  for (int c = 'A'; c <= 'Z'; c++) map[c] = static_cast<char>(c);
  for (int c = 'a'; c <= 'z'; c++) map[c] = static_cast<char>(c - 'a' + 'A');
  map['-'] = '-';
  return map;
}();

// Writes the residues of [begin, end) to out, which has room for end - begin
// characters, and returns the end of what it wrote. Inline and branch-free,
// so that the reader's loop over a line vectorises.
inline char* CopyResidues(const char* begin, const char* end, char* out) {
  for (const char* c = begin; c < end; c++) {
    const char residue = kResidueOfByte[static_cast<unsigned char>(*c)];
    *out = residue;
    out += residue != 0;
  }
  return out;
}

// The residues of text: text itself when it holds nothing else, otherwise
// the residues copied into storage.
std::string_view KeptResidues(std::string_view text, std::string& storage);

}  // namespace talvo
