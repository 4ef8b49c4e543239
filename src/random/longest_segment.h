// Bitmap form of a 0/1 string for the longest-merged-segment pass.
#pragma once
#include <cstdint>
#include <vector>

namespace talvo::internal {

// Words of a bitmap for n positions: one more than the positions need, so
// that a segment reaching the last position still ends inside the bitmap.
inline int BitmapWords(int n) {
  return n / 64 + 1;
}

// Bit i % 64 of word i / 64 is set when s[i] is '1'; bits beyond n are 0.
void PackOnes(const char* s, int n, std::vector<uint64_t>& bits);

// LongestMergedSegment for the positions whose bits are set in the first
// BitmapWords(n) words of ones (bits beyond n must be 0).
int LongestMergedSegmentOfOnes(const uint64_t* ones, int n, int E);

}  // namespace talvo::internal
