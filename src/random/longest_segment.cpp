// Length of the longest merged segment of a 0/1 string in linear time.
//
// The runs of '1' come in ascending order and never touch, so joining them
// within the linkage distance reduces to a chain: a run joins the segment
// before it exactly when its start minus E is at most that segment's end,
// that is when fewer than E '0' lie between them. A merged segment is thus a
// stretch that no run of E or more '0' interrupts, bounded by such runs or by
// the ends of the string.
//
// For E up to one word the string is handled as a bitmap: the '0' runs of
// length E or more are marked with shifts, and the longest unmarked stretch
// is the answer. Larger E take a walk over the runs themselves, with the join
// test taken in 64 bits so that no E can overflow.
#include "random/longest_segment.h"

#include <bit>
#include <cstring>

#include "random/random.h"

namespace talvo::internal {

namespace {

constexpr int kWordBits = 64;
// Largest E whose windows of '0' fit the two-word shifts below.
constexpr int kMaxBitmapSeparation = kWordBits;
// No segment yet: its end lies so far left that no run can join it.
constexpr int64_t kNoSegmentEnd = -(int64_t{1} << 62);

using Pair = unsigned __int128;

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

// Calls on_stretch(first, behind) for every maximal stretch of set bits, in
// order, as 0-based first position and the position just behind it. The
// last word must end with a clear bit.
template <class OnStretch>
void ForEachStretch(int words, auto word_at, OnStretch on_stretch) {
  // A stretch left open at the end of a word keeps its first position in
  // front of the next word's boundaries.
  int64_t boundary[kWordBits + 1] = {};
  int pending = 0;
  uint64_t carry = 0;
  for (int w = 0; w < words; ++w) {
    const uint64_t bits = word_at(w);
    uint64_t changes = bits ^ ((bits << 1) | carry);
    carry = bits >> 63;
    const int64_t base = int64_t{w} * kWordBits;
    while (changes != 0) {
      boundary[pending++] = base + std::countr_zero(changes);
      changes &= changes - 1;
    }
    const int complete = pending & ~1;
    for (int k = 0; k < complete; k += 2) on_stretch(boundary[k], boundary[k + 1]);
    boundary[0] = boundary[complete];
    pending -= complete;
  }
}

// Where the runs of E or more '0' lie. Positions before the string and
// behind the bitmap count as '0', so the ends of the string interrupt too.
struct ZeroRuns {
  const uint64_t* ones;
  int words;
  int E;
  int power;  // largest power of two not above E
};

uint64_t ZerosOfWord(const ZeroRuns& z, int w) {
  return w < 0 || w >= z.words ? ~uint64_t{0} : ~z.ones[w];
}

// Bit i: the E positions from position i of word w on are all '0'.
uint64_t ZeroWindowStarts(const ZeroRuns& z, int w) {
  Pair all = ZerosOfWord(z, w) | (Pair{ZerosOfWord(z, w + 1)} << kWordBits);
  for (int span = 1; span < z.power; span *= 2) all &= all >> span;
  all &= all >> (z.E - z.power);  // two overlapping spans of power cover E
  return static_cast<uint64_t>(all);
}

// Bit i: position i of the current word lies in a window of E '0' that
// starts in that word or in the word before it.
uint64_t InZeroWindow(const ZeroRuns& z, uint64_t starts_before, uint64_t starts_current) {
  Pair all = starts_before | (Pair{starts_current} << kWordBits);
  for (int span = 1; span < z.power; span *= 2) all |= all << span;
  all |= all << (z.E - z.power);
  return static_cast<uint64_t>(all >> kWordBits);
}

// 1 <= E <= kMaxBitmapSeparation.
int LongestUninterruptedStretch(const uint64_t* ones, int words, int E) {
  const ZeroRuns z{ones, words, E, static_cast<int>(std::bit_floor(static_cast<unsigned>(E)))};
  uint64_t starts_before = ZeroWindowStarts(z, -1);
  int64_t longest = 0;
  ForEachStretch(
      words,
      [&](int w) {
        const uint64_t starts_current = ZeroWindowStarts(z, w);
        const uint64_t interrupted = InZeroWindow(z, starts_before, starts_current);
        starts_before = starts_current;
        return ~interrupted;
      },
      [&](int64_t first, int64_t behind) {
        longest = behind - first > longest ? behind - first : longest;
      });
  return static_cast<int>(longest);
}

// Any E: joins the runs one after the other, branch-free, since whether a
// run joins is as unpredictable as the sequence itself.
int LongestChainOfRuns(const uint64_t* ones, int words, int E) {
  int64_t longest = 0;
  int64_t segment_start = kNoSegmentEnd + 1;
  int64_t segment_end = kNoSegmentEnd;
  ForEachStretch(
      words, [&](int w) { return ones[w]; },
      [&](int64_t first, int64_t behind) {
        const int64_t start = first + 1;  // 1-based, as merging counts
        const bool joins = start - E <= segment_end;
        const int64_t closed = joins ? 0 : segment_end - segment_start + 1;
        longest = closed > longest ? closed : longest;
        segment_start = joins ? segment_start : start;
        segment_end = behind;
      });
  const int64_t last = segment_end - segment_start + 1;
  return static_cast<int>(last > longest ? last : longest);
}

}  // namespace

void PackOnes(const char* s, int n, std::vector<uint64_t>& bits) {
  const int full_words = n / kWordBits;
  bits.resize(static_cast<size_t>(BitmapWords(n)));
  for (int w = 0; w < full_words; ++w) bits[w] = OnesOfWord(s + w * kWordBits, kWordBits);
  bits[full_words] = OnesOfWord(s + full_words * kWordBits, n % kWordBits);
}

int LongestMergedSegmentOfOnes(const uint64_t* ones, int n, int E) {
  if (n <= 0) return 0;
  // No run can join another when E is below 2, just as when it is 1.
  if (E < 1) E = 1;
  if (E > kMaxBitmapSeparation) return LongestChainOfRuns(ones, BitmapWords(n), E);
  return LongestUninterruptedStretch(ones, BitmapWords(n), E);
}

int LongestMergedSegment(const char* s, int n, int E, std::vector<uint64_t>& scratch) {
  if (n <= 0) return 0;
  PackOnes(s, n, scratch);
  return LongestMergedSegmentOfOnes(scratch.data(), n, E);
}

int LongestMergedSegment(const char* s, int n, int E) {
  std::vector<uint64_t> scratch;
  return LongestMergedSegment(s, n, E, scratch);
}

}  // namespace talvo::internal
