// The residues of a sequence as every reader of the project keeps them: ASCII
// letters, upper-cased, and '-'. White space, digits, '*' and every other
// byte (those above 127 included) are dropped, so that positions count the
// same whichever front end read the sequence.
#pragma once
#include <string>
#include <string_view>

namespace talvo {

// Writes the residues of [begin, end) to out, which has room for end - begin
// characters, and returns the end of what it wrote.
char* CopyResidues(const char* begin, const char* end, char* out);

// The residues of text: text itself when it holds nothing else, otherwise
// the residues copied into storage.
std::string_view KeptResidues(std::string_view text, std::string& storage);

}  // namespace talvo
