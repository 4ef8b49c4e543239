// Literal alphabet algorithms, written straight from their step-by-step
// descriptions for clarity, not speed: searches through the alphabet string,
// one addition of 1.0 per counted residue, one AA2binary call per position.
// Tests compare the program's table-driven versions with these bit for bit.
#pragma once

namespace literal {

int ConvToInt(char c);
// Returns 0 instead of ending the process when no residue is counted.
int ComputeAAfreq(const char* seq, int n, double* out);
void EncodeBinary(const char* seq, int n, const char* set, char* binary);
void CopyAA(const char* src, char* dst);

}  // namespace literal
