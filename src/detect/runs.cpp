#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>

#include "detect/detect.h"

namespace talvo::internal {

int ComputeN(const char* s, int i1, int i2) {
  int count = 0;
  // 64-bit index so that i2 = INT_MAX cannot overflow the loop.
  for (int64_t p = i1; p <= i2; p++) {
    if (s[p] == '1') count++;
  }
  return count;
}

namespace {

// Bit j set where s[j] is '1', for the 64 characters from s (fewer at the end
// of the string: count of them).
uint64_t OnesMask(const char* s, int64_t count) {
  uint64_t mask = 0;
  int64_t j = 0;
  if constexpr (std::endian::native == std::endian::little) {
    // Eight characters at a time: a byte of x is 0 exactly where the
    // character is '1', and t's high bit of a byte is set exactly where x's
    // byte is not 0 (no carry crosses bytes).
    for (; j + 8 <= count; j += 8) {
      uint64_t word = 0;
      memcpy(&word, s + j, sizeof word);
      const uint64_t x = word ^ 0x3131313131313131ULL;
      const uint64_t t = ((x & 0x7F7F7F7F7F7F7F7FULL) + 0x7F7F7F7F7F7F7F7FULL) | x;
      const uint64_t low_bits = (~t & 0x8080808080808080ULL) >> 7;
      mask |= ((low_bits * 0x0102040810204080ULL) >> 56) << j;
    }
  }
  for (; j < count; j++) mask |= uint64_t{s[j] == '1'} << j;
  return mask;
}

}  // namespace

int FindMergedRuns(const char* s, int n, int E, FragmentList& list) {
  // Runs always hold adjacent positions; E below 1 joins no more.
  const int64_t join = std::max(E, 1);
  int longest = 0;
  int64_t first = -1, last = -1;
  int count = 0;
  const auto close = [&] {
    FRAGMENT merged;
    merged.start = static_cast<int>(first + 1);
    merged.end = static_cast<int>(last + 1);
    merged.length = static_cast<int>(last - first + 1);
    merged.n_special = count;
    list.push_back(merged);
    longest = std::max(longest, merged.length);
  };
  for (int64_t base = 0; base < n; base += 64) {
    for (uint64_t bits = OnesMask(s + base, std::min<int64_t>(64, n - base)); bits != 0;
         bits &= bits - 1) {
      const int64_t position = base + std::countr_zero(bits);
      if (first >= 0 && position - last <= join) {
        last = position;
        count++;
        continue;
      }
      if (first >= 0) close();
      first = last = position;
      count = 1;
    }
  }
  if (first >= 0) close();
  return longest;
}

}  // namespace talvo::internal
