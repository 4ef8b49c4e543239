// Length of the longest merged segment of a 0/1 string in one linear pass.
//
// The runs of '1' come in ascending order and never touch, so joining them
// within the linkage distance reduces to a chain: a run joins the segment
// before it exactly when its start minus E is at most that segment's end
// (taken in 64 bits, so that no E can overflow). The string is first packed
// into a bitmap of its '1' positions; the run boundaries are then the bits
// that differ from their left neighbour.
#include <bit>
#include <cstdint>
#include <cstring>
#include <vector>

#include "random/random.h"

namespace {

constexpr int kWordBits = 64;
// No segment yet: its end lies so far left that no run can join it.
constexpr int64_t kNoSegmentEnd = -(int64_t{1} << 62);

// Bit i set when byte i of the 8 bytes at p is '1'.
uint64_t OnesOfEightBytes(const char* p) {
  uint64_t x;
  std::memcpy(&x, p, sizeof x);
  const uint64_t low7 = 0x7f7f7f7f7f7f7f7fULL;
  const uint64_t diff = x ^ 0x3131313131313131ULL;  // zero bytes where '1'
  const uint64_t nonzero = ((diff & low7) + low7) | diff;
  const uint64_t ones = ~nonzero & 0x8080808080808080ULL;
  return ((ones >> 7) * 0x0102040810204080ULL) >> 56;
}

uint64_t OnesOfWord(const char* p, int count) {
  uint64_t word = 0;
  int i = 0;
  if constexpr (std::endian::native == std::endian::little) {
    for (; i + 8 <= count; i += 8) word |= OnesOfEightBytes(p + i) << i;
  }
  for (; i < count; ++i) word |= uint64_t{p[i] == '1'} << i;
  return word;
}

// One word per 64 positions plus a final word, so that a run reaching the
// last position still ends on a boundary bit.
void PackOnes(const char* s, int n, std::vector<uint64_t>& bits) {
  const int full_words = n / kWordBits;
  bits.resize(static_cast<size_t>(full_words) + 1);
  for (int w = 0; w < full_words; ++w) bits[w] = OnesOfWord(s + w * kWordBits, kWordBits);
  bits[full_words] = OnesOfWord(s + full_words * kWordBits, n % kWordBits);
}

// The chain of runs read so far: the open segment and the longest one closed.
struct Chain {
  int64_t longest = 0;
  int64_t segment_start = kNoSegmentEnd + 1;
  int64_t segment_end = kNoSegmentEnd;
};

// Adds the run of 1-based positions first..last; branch-free, since whether a
// run joins is as unpredictable as the sequence itself.
inline void AddRun(Chain& chain, int64_t first, int64_t last, int E) {
  const bool joins = first - E <= chain.segment_end;
  const int64_t closed = joins ? 0 : chain.segment_end - chain.segment_start + 1;
  chain.longest = closed > chain.longest ? closed : chain.longest;
  chain.segment_start = joins ? chain.segment_start : first;
  chain.segment_end = last;
}

}  // namespace

int LongestMergedSegment(const char* s, int n, int E, std::vector<uint64_t>& scratch) {
  if (n <= 0) return 0;
  PackOnes(s, n, scratch);

  // Run boundaries of one word, 0-based: a run's first position, then the
  // position just behind it. A run left open at the end of a word keeps its
  // first position in front for the next word.
  int64_t boundary[kWordBits + 1] = {};
  int pending = 0;
  Chain chain;
  uint64_t carry = 0;
  for (size_t w = 0; w < scratch.size(); ++w) {
    const uint64_t ones = scratch[w];
    uint64_t changes = ones ^ ((ones << 1) | carry);
    carry = ones >> 63;
    const int64_t base = static_cast<int64_t>(w) * kWordBits;
    while (changes != 0) {
      boundary[pending++] = base + std::countr_zero(changes);
      changes &= changes - 1;
    }
    const int complete = pending & ~1;
    for (int k = 0; k < complete; k += 2) AddRun(chain, boundary[k] + 1, boundary[k + 1], E);
    boundary[0] = boundary[complete];
    pending -= complete;
  }
  const int64_t last = chain.segment_end - chain.segment_start + 1;
  return static_cast<int>(last > chain.longest ? last : chain.longest);
}

int LongestMergedSegment(const char* s, int n, int E) {
  std::vector<uint64_t> scratch;
  return LongestMergedSegment(s, n, E, scratch);
}
