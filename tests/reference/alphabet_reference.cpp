#include "reference/alphabet_reference.h"

#include <cctype>
#include <cstring>

#include "alphabet/alphabet.h"

namespace literal {

int ConvToInt(char c) {
  for (int i = 0; i < 20; i++) {
    if (aa[i] == c) return i;
  }
  return 20;
}

int ComputeAAfreq(const char* seq, int n, double* out) {
  for (int i = 0; i < 21; i++) out[i] = 0.0;
  if (n <= 0) return 0;
  int count = 0;
  for (int i = 0; i < n; i++) {
    const int index = FindLetter(seq[i], 20, aa);
    if (index >= 0) {
      out[index] += 1.0;
      count++;
    }
  }
  if (count <= 0) return 0;
  for (int i = 0; i < 20; i++) out[i] /= count;
  return 1;
}

void EncodeBinary(const char* seq, int n, const char* set, char* binary) {
  const int length = static_cast<int>(strlen(set));
  for (int i = 0; i < n; i++) binary[i] = AA2binary(seq[i], set, length);
}

void CopyAA(const char* src, char* dst) {
  int written = 0;
  for (int i = 0; src[i] != '\0'; i++) {
    const char c = static_cast<char>(toupper(static_cast<unsigned char>(src[i])));
    if (ConvToInt(c) != 20 && !AAExists(c, dst, written)) dst[written++] = c;
  }
  dst[written] = '\0';
}

}  // namespace literal
