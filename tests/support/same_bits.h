// Bit-for-bit comparison of doubles, for the tests against the literal
// references: tells -0 from +0 and matches a NaN with the same NaN.
#pragma once
#include <gtest/gtest.h>

#include <cstring>

inline bool SameBits(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

// Callers append the arguments that name the case.
#define EXPECT_SAME_BITS(actual, expected) \
  EXPECT_TRUE(SameBits(actual, expected))  \
      << std::hexfloat << (actual) << " != " << (expected) << std::defaultfloat << " at "

// The probabilities the grids against the literal references cover: both ends,
// the special fractions of the two built-in tables, and a spread in between.
inline constexpr double kGridProbabilities[] = {0,   0.05, 0.25, 0.36532, 0.362732,
                                                0.5, 0.75, 0.9,  1};
