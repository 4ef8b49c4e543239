#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "random/deviates.h"
#include "random/random.h"

namespace {

std::vector<double> Draws(int count, double scale = 1.0) {
  std::vector<double> out;
  for (int i = 0; i < count; ++i) out.push_back(ran1(scale));
  return out;
}

TEST(Ran1, RefusesToDrawBeforeSeeding) {
  // The refusal goes to standard output; route it to the error stream so the
  // death test can read it.
  EXPECT_EXIT(
      {
        _ran1_not_initialized_ = 1;
        dup2(2, 1);
        ran1(1.0);
      },
      testing::ExitedWithCode(1), "^\nERROR: RAN1\\(\\) was not initialized$");
}

// Seed 1 gives the documented state and deviates; any seed repeats its
// sequence whatever its sign, and the scale multiplies each deviate.
TEST(Ran1, SeedDeterminesTheSequence) {
  init_ran1(1);
  EXPECT_EQ(_idum_, 1815859901);
  EXPECT_EQ(iy, 269220094);
  EXPECT_EQ(Draws(3),
            (std::vector<double>{0.32823422613005815, 0.8455756594639158, 0.07374907521239904}));
  for (long seed : {7L, 12345L}) {
    init_ran1(seed);
    const std::vector<double> first = Draws(1000);
    init_ran1(seed);
    EXPECT_EQ(Draws(1000), first) << seed;
    init_ran1(-seed);
    EXPECT_EQ(Draws(1000), first) << seed;
    init_ran1(seed + 1);
    EXPECT_NE(Draws(1000), first) << seed;
    init_ran1(seed);
    const std::vector<double> scaled = Draws(1000, 1000.0);
    for (size_t i = 0; i < first.size(); ++i) EXPECT_EQ(scaled[i], first[i] * 1000.0) << i;
  }
}

// The modulus as a seed steps to a generator value of 0: the first table is
// all zeros, and the zero draw forces a rebuild after which every deviate is
// proper.
TEST(Ran1, DeviatesStayStrictlyInsideTheUnitInterval) {
  _idum_ = -2147483647;
  iy = 0;
  _ran1_not_initialized_ = 0;
  EXPECT_EQ(ran1(1.0), 0.0);
  EXPECT_EQ(_idum_, 0);
  // Seeds wider than the modulus are folded into it (2^40 acts as 2^9).
  for (long seed : {0L, 1L, 2L, 123456789L, 2147483646L, -99L, 2147483647L, -2147483647L, 1L << 40,
                    -(1L << 40), LONG_MAX, LONG_MIN}) {
    if (seed != 0) init_ran1(seed);  // 0: carry on after the rebuild above
    for (int i = 0; i < 100000; ++i) {
      const double d = ran1(1.0);
      ASSERT_GE(d, 1.0 / 2147483647.0) << seed;
      ASSERT_LE(d, 2147483646.0 / 2147483647.0) << seed;
      ASSERT_LT(static_cast<int>(ran1(7.0)), 7) << seed;
    }
  }
  init_ran1(1L << 40);
  const std::vector<double> wide = Draws(100);
  init_ran1(512);
  EXPECT_EQ(Draws(100), wide);
}

TEST(Ran1, ClockSeedPrintsSeedThatReproducesTheRun) {
  const time_t before = time(nullptr);
  testing::internal::CaptureStdout();
  init_ran1(0);
  const std::string printed = testing::internal::GetCapturedStdout();
  const time_t after = time(nullptr);
  const std::vector<double> run = Draws(1000);
  ASSERT_EQ(printed.rfind("SEED=", 0), 0u);
  const long seed = std::strtol(printed.c_str() + 5, nullptr, 10);
  ASSERT_EQ(printed, "SEED=" + std::to_string(seed) + "\n");
  // The seed is the last of 100 rand() results after srand(time).
  bool matches_clock = false;
  for (time_t t = before; t <= after; ++t) {
    srand(static_cast<unsigned>(t));
    long last = 0;
    for (int i = 0; i < 100; ++i) last = rand();
    matches_clock = matches_clock || last == seed;
  }
  EXPECT_TRUE(matches_clock);
  if (seed != 0) {
    init_ran1(seed);
    EXPECT_EQ(Draws(1000), run);
  }
}

// The literal Schrage step of the generator.
int64_t SchrageStep(int64_t v) {
  const int64_t k = v / 127773;
  v = 16807 * (v - k * 127773) - 2836 * k;
  return v < 0 ? v + 2147483647 : v;
}

// The folded product, the chains' jump and the block computed ahead all take
// the literal steps.
TEST(BulkDraws, StepsMatchTheSchrageStep) {
  std::vector<int64_t> values = {1, 2, 127772, 127773, 127774, 2147483645, 2147483646};
  for (int64_t v = 1; v < 2147483647; v += 9973) values.push_back(v);
  for (int64_t v : values) {
    ASSERT_EQ(deviates::MulMod(16807, static_cast<uint64_t>(v)), SchrageStep(v)) << v;
  }
  for (int64_t v : {1L, 16807L, 123456789L, 2147483646L}) {
    int64_t stepped = v;
    for (int k = 0; k < deviates::kChains; ++k) stepped = SchrageStep(stepped);
    EXPECT_EQ(deviates::MulMod(deviates::kJump, static_cast<uint64_t>(v)), stepped) << v;
  }
  uint32_t ahead[deviates::kBlock];
  deviates::ComputeAhead(42, ahead);
  int64_t v = 42;
  for (int k = 0; k < deviates::kBlock; ++k) ASSERT_EQ(ahead[k], v = SchrageStep(v)) << k;
}

}  // namespace
