// Alphabet look-ups, the special sub-alphabet, the composition of a sequence
// and the linkage-distance estimate.
#include "alphabet/alphabet.h"

#include <array>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace talvo::internal {

namespace {

constexpr int kResidues = 20;
constexpr int kNotAResidue = 20;

// Residue index of every byte value, so that long sequences cost one load per
// position instead of a search through the alphabet.
std::array<unsigned char, 256> BuildResidueIndex() {
  std::array<unsigned char, 256> index{};
  index.fill(kNotAResidue);
  for (int i = 0; i < kResidues; i++) index[static_cast<unsigned char>(aa[i])] = i;
  return index;
}

const std::array<unsigned char, 256>& ResidueIndex() {
  static const std::array<unsigned char, 256> index = BuildResidueIndex();
  return index;
}

char UpperAscii(char c) {
  return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

}  // namespace

int ConvToInt(char c) {
  return ResidueIndex()[static_cast<unsigned char>(c)];
}

const unsigned char* ResidueIndexOfByte() {
  return ResidueIndex().data();
}

int FindLetter(char c, int n, const char* s) {
  for (int i = 0; i < n; i++) {
    if (s[i] == c) return i;
  }
  return -1;
}

int AAExists(char c, const char* s, int n) {
  return FindLetter(c, n, s) >= 0 ? 1 : 0;
}

char AA2binary(char c, const char* s, int n) {
  return AAExists(c, s, n) ? '1' : '0';
}

void CopyAA(const char* src, char* dst) {
  int written = 0;
  for (const char* p = src; *p != '\0'; p++) {
    const char upper = UpperAscii(*p);
    if (ConvToInt(upper) == kNotAResidue) continue;
    if (FindLetter(upper, written, dst) >= 0) continue;
    // At most 20 distinct residues pass both tests, so dst[20] is the last byte.
    dst[written++] = upper;
  }
  dst[written] = '\0';
}

void Conv2Upper(char* s, int n) {
  for (int i = 0; i < n; i++) s[i] = UpperAscii(s[i]);
}

int ComputeAAfreq(const char* seq, int n, double* out) {
  for (int i = 0; i <= kResidues; i++) out[i] = 0.0;
  if (n <= 0) return 0;

  // Whole counts stay exact in 64 bits and convert to the same doubles that
  // repeated additions of 1.0 would give (every count is below 2^53).
  int64_t counts[kResidues + 1] = {};
  const auto& index = ResidueIndex();
  for (int i = 0; i < n; i++) counts[index[static_cast<unsigned char>(seq[i])]]++;

  int64_t valid = 0;
  for (int i = 0; i < kResidues; i++) valid += counts[i];
  if (valid <= 0) return 0;

  const double total = static_cast<double>(valid);
  for (int i = 0; i < kResidues; i++) out[i] = static_cast<double>(counts[i]) / total;
  return 1;
}

double ComputeResidueP(const char* set, const double* table) {
  double p = 0.0;
  for (const char* s = set; *s != '\0'; s++) {
    const int index = ConvToInt(*s);
    if (index <= kResidues - 1) p += table[index];
  }
  return p;
}

int EstimateLinkageDistance(double p) {
  const double quotient = 2.0 / (p * 3.0);
  // Beyond the int range (infinite for p = 0, or not a number) the distance
  // saturates; the bound also keeps the formatted text within its buffer.
  if (!(std::fabs(quotient) < 4294967296.0)) return INT_MAX;
  const double rounded = round(quotient, "%.0lf");
  if (rounded > INT_MAX || rounded < INT_MIN) return INT_MAX;
  const int distance = static_cast<int>(rounded);
  return distance == 0 ? 1 : distance;
}

double round(double value, const char* format) {
  char text[32];
  snprintf(text, sizeof text, format, value);
  return strtod(text, nullptr);
}

void EncodeBinary(const char* seq, int n, const char* set, char* binary) {
  // One membership look-up per position instead of a search through the set.
  bool is_special[256] = {};
  for (const char* s = set; *s != '\0'; s++) is_special[static_cast<unsigned char>(*s)] = true;
  for (int i = 0; i < n; i++)
    binary[i] = is_special[static_cast<unsigned char>(seq[i])] ? '1' : '0';
}

}  // namespace talvo::internal
