// Bulk draws from a generator, giving exactly the deviates and the final state
// that as many ran1 calls would give.
//
// The generator value's multiplicative step never reads the shuffle table, so
// a block of future values is computed first in independent chains (each
// chain jumps several steps at once); each deviate then costs only the
// table's short serial chain. A state the fast path cannot take (not seeded,
// or any value outside 1..2^31-2, which would make ran1 rebuild its table) is
// drawn through ran1 itself until it is steady.
#pragma once
#include <cstdint>

#include "random/random.h"

namespace talvo::internal {

namespace deviates {

constexpr int64_t kModulus = 2147483647;
constexpr uint64_t kMultiplier = 16807;
constexpr int kTableSize = 32;
constexpr int kTableIndexShift = 26;  // table value / 2^26 is the table index
constexpr double kScale = 4.656612875245797e-10;
constexpr double kLargestDeviate = 0.9999999999999998;
constexpr int kChains = 8;
constexpr int kBlock = 256;

// In a steady state every table value is at most 2^31-2, so the deviate never
// reaches the cap that ran1 applies; the fast path can leave the cap out.
static_assert(static_cast<double>(kModulus - 1) * kScale <= kLargestDeviate);

// (a * v) mod 2^31-1 for a and v in 1..2^31-2; for a = 16807 this is exactly
// what the Schrage step of ran1 computes. Folding the high bits onto the low
// ones (2^31 is 1 modulo 2^31-1) twice needs no branch: the modulus is prime,
// so the product is never a multiple of it and the first fold lies in
// 1..2^32-3 without being 2^31-1; the second brings it into 1..2^31-2.
constexpr uint32_t MulMod(uint64_t a, uint64_t v) {
  const uint64_t product = a * v;
  const uint64_t folded = (product & kModulus) + (product >> 31);
  return static_cast<uint32_t>((folded & kModulus) + (folded >> 31));
}

constexpr uint32_t MultiplierPower(int k) {
  uint32_t power = 1;
  for (int i = 0; i < k; ++i) power = MulMod(kMultiplier, power);
  return power;
}

// One jump of a chain advances the generator by kChains steps.
constexpr uint32_t kJump = MultiplierPower(kChains);

inline bool InRange(int64_t v) {
  return v >= 1 && v < kModulus;
}

// Steady states stay steady: every value drawn or stored keeps in range.
inline bool Steady(const Generator& g) {
  if (g.not_initialized != 0 || !InRange(g.idum) || !InRange(g.iy)) return false;
  bool steady = true;
  for (int j = 0; j < kTableSize; ++j) steady &= InRange(g.iv[j]);
  return steady;
}

// ahead[k] = the generator value k + 1 steps after value.
inline void ComputeAhead(uint32_t value, uint32_t* ahead) {
  for (int k = 0; k < kChains; ++k) {
    value = MulMod(kMultiplier, value);
    ahead[k] = value;
  }
  for (int k = kChains; k < kBlock; ++k) ahead[k] = MulMod(kJump, ahead[k - kChains]);
}

// Passes successive deviates in (0, 1), as ran1(1.0) returns them, to
// consume until it returns false; the generator is left after the last one.
// The state lives in locals meanwhile, and consume should keep its own state
// by value, so that the caller's character stores cannot alias either and
// the table's chain stays in registers.
template <class Consume>
[[gnu::always_inline]] inline void DrawWhile(Generator& g, Consume consume) {
  while (!Steady(g)) {
    if (!consume(ran1(g, 1.0))) return;
  }
  uint32_t table[kTableSize];
  for (int j = 0; j < kTableSize; ++j) table[j] = static_cast<uint32_t>(g.iv[j]);
  uint32_t last = static_cast<uint32_t>(g.iy);
  uint32_t value = static_cast<uint32_t>(g.idum);
  uint32_t ahead[kBlock];
  for (bool more = true; more;) {
    ComputeAhead(value, ahead);
    int k = 0;
    do {
      const uint32_t j = last >> kTableIndexShift;
      last = table[j];
      table[j] = ahead[k];
      more = consume(static_cast<double>(static_cast<int32_t>(last)) * kScale);
      ++k;
    } while (more && k < kBlock);
    value = ahead[k - 1];
  }
  g.idum = value;
  g.iy = last;
  for (int j = 0; j < kTableSize; ++j) g.iv[j] = table[j];
}

}  // namespace deviates

}  // namespace talvo::internal
