#include <gtest/gtest.h>
#include <unistd.h>

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

TEST(Ran1, SeedOneGivesDocumentedStateAndDeviates) {
  init_ran1(1);
  EXPECT_EQ(_idum_, 1815859901);
  EXPECT_EQ(iy, 269220094);
  EXPECT_EQ(ran1(1.0), 0.32823422613005815);
  EXPECT_EQ(ran1(1.0), 0.8455756594639158);
  EXPECT_EQ(ran1(1.0), 0.07374907521239904);
}

TEST(Ran1, ScaleMultipliesTheDeviate) {
  init_ran1(1);
  std::vector<double> plain = Draws(50);
  init_ran1(1);
  std::vector<double> scaled = Draws(50, 1000.0);
  for (size_t i = 0; i < plain.size(); ++i) EXPECT_EQ(scaled[i], plain[i] * 1000.0);
}

TEST(Ran1, ReseedingRepeatsTheSequence) {
  init_ran1(12345);
  std::vector<double> first = Draws(1000);
  init_ran1(12345);
  EXPECT_EQ(Draws(1000), first);
}

TEST(Ran1, SignOfSeedDoesNotMatter) {
  init_ran1(7);
  std::vector<double> positive = Draws(500);
  init_ran1(-7);
  EXPECT_EQ(Draws(500), positive);
  init_ran1(8);
  EXPECT_NE(Draws(500), positive);
}

TEST(Ran1, DeviatesStayStrictlyInsideTheUnitInterval) {
  for (long seed : {1L, 2L, 123456789L, 2147483646L, -99L}) {
    init_ran1(seed);
    for (int i = 0; i < 100000; ++i) {
      const double d = ran1(1.0);
      ASSERT_GE(d, 1.0 / 2147483647.0);
      ASSERT_LE(d, 2147483646.0 / 2147483647.0);
      ASSERT_LT(static_cast<int>(ran1(7.0)), 7);
    }
  }
}

TEST(Ran1, ModulusSeedRebuildsTableFromOneAfterZeroDraw) {
  // The step maps the modulus to 0, so the first table is all zeros; the
  // zero draw forces a rebuild and every later deviate is proper.
  for (long seed : {2147483647L, -2147483647L}) {
    _idum_ = -2147483647;
    iy = 0;
    _ran1_not_initialized_ = 0;
    EXPECT_EQ(ran1(1.0), 0.0);
    EXPECT_EQ(_idum_, 0);
    const double after_rebuild = ran1(1.0);
    EXPECT_GT(after_rebuild, 0.0);
    EXPECT_LT(after_rebuild, 1.0);

    init_ran1(seed);
    for (int i = 0; i < 10000; ++i) {
      const double d = ran1(1.0);
      ASSERT_GT(d, 0.0);
      ASSERT_LT(d, 1.0);
    }
  }
}

TEST(Ran1, ClockSeedPrintsSeedThatReproducesTheRun) {
  const time_t before = time(nullptr);
  testing::internal::CaptureStdout();
  init_ran1(0);
  const std::string printed = testing::internal::GetCapturedStdout();
  const time_t after = time(nullptr);
  std::vector<double> run = Draws(1000);

  ASSERT_EQ(printed.rfind("SEED=", 0), 0u);
  ASSERT_EQ(printed.back(), '\n');
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

TEST(BulkDraws, FoldedProductEqualsTheSchrageStep) {
  std::vector<int64_t> values = {1, 2, 127772, 127773, 127774, 2147483645, 2147483646};
  for (int64_t v = 1; v < 2147483647; v += 9973) values.push_back(v);
  for (int64_t v : values) {
    ASSERT_EQ(deviates::MulMod(16807, static_cast<uint64_t>(v)), SchrageStep(v)) << v;
  }
}

TEST(BulkDraws, ChainJumpEqualsConsecutiveSteps) {
  for (int64_t v : {1L, 16807L, 123456789L, 2147483646L}) {
    int64_t stepped = v;
    for (int k = 0; k < deviates::kChains; ++k) stepped = SchrageStep(stepped);
    EXPECT_EQ(deviates::MulMod(deviates::kJump, static_cast<uint64_t>(v)), stepped);
  }
  uint32_t ahead[deviates::kBlock];
  deviates::ComputeAhead(42, ahead);
  int64_t v = 42;
  for (int k = 0; k < deviates::kBlock; ++k) {
    v = SchrageStep(v);
    ASSERT_EQ(ahead[k], v) << k;
  }
}

}  // namespace
