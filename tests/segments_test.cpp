// Segment detection and the random null distribution: the run finder, the
// window scanner, the linear merge, the generator's bulk draws, the longest
// merged segment and the random stage, each against its literal counterpart.
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "reference/literal.h"
#include "stats/stats.h"

using namespace talvo::internal;

namespace {

const int kSeparations[] = {INT_MIN, -1, 0, 1, 2, 3, 4, 5, 9, 63, 64, 65, 100, INT_MAX};

// Other characters than '0' end runs too.
std::string RandomBinary(int n, double density, unsigned seed) {
  std::mt19937 engine(seed);
  std::bernoulli_distribution special(density);
  std::string s(n, '0');
  for (char& c : s) c = special(engine) ? '1' : "00x"[engine() % 3];
  return s;
}

// The generator's whole state: flag, seed word, last output and table.
std::vector<int64_t> Generator() {
  std::vector<int64_t> g = {_ran1_not_initialized_, _idum_, iy};
  return g.insert(g.end(), iv, iv + 32), g;
}

// Runs, windows of every size at several probabilities and thresholds (one
// equal to a p-value), merges of those and of lists in no order, and the
// one-pass longest merged segment, which must not read the '1's past n.
TEST(Detect, MatchesLiteral) {
  std::vector<uint64_t> scratch;  // reused between calls, as callers may
  for (int trial = 0; trial < 3000; trial++) {
    const int n = trial % 197, E = kSeparations[trial % std::size(kSeparations)];
    const int W = trial % 13 == 0 ? n + trial % 3 - 1 : trial % 15 - 1;
    const std::string s = RandomBinary(n, (trial % 11) / 10.0, trial);
    P_special = std::vector{0.36532, 0.1, 0.5, 0.9, 0.0}[trial % 5];
    const double min_p =
        trial % 6 < 5 ? (trial % 6) / 4.0 : P_scan_ge_K_in_W_N(W / 2, W, n, P_special);
    FragmentList fast[3], slow[3];  // runs, windows, unordered
    EXPECT_EQ(FindRuns(s.data(), n, fast[0]), literal::FindRuns(s.data(), n, slow[0]));
    EXPECT_EQ(SlideWindowP(s.data(), n, W, min_p, fast[1]),
              literal::SlideWindowP(s.data(), n, W, min_p, slow[1], P_special, P_scan_ge_K_in_W_N));
    for (int i = trial % 12; i > 0 && n > 0; i--) {
      const int a = 1 + trial * i % n, b = 1 + (trial + 7 * i) % n;
      fast[2].push_back({std::min(a, b), std::max(a, b), 0, 0, 1.0 / i});
    }
    slow[2] = fast[2];
    for (int k = 0; k < 3; k++) {
      EXPECT_TRUE(fast[k] == slow[k]) << s << " W=" << W << " " << k;
      const int longest = literal::MergeSegmentsDiscrete(s.data(), slow[k], E);
      EXPECT_EQ(MergeSegmentsDiscrete(s.data(), fast[k], E), longest);
      EXPECT_TRUE(fast[k] == slow[k]) << s << " E=" << E << " " << k;
      if (k > 0) continue;
      const std::string padded = s + "11111111";
      EXPECT_EQ(LongestMergedSegment(padded.data(), n, E, scratch), longest) << s << " E=" << E;
      EXPECT_EQ(LongestMergedSegment(padded.data(), n, E), longest) << s << " E=" << E;
    }
  }
}

// The refusal to draw unseeded goes to standard output (routed to the death
// test's stream); seed 1 gives the documented values; seeds equal modulo
// 2^31-1 repeat a sequence. From seeded states and from the raw one of seed 2^31-1 (a table
// of zeros: a first draw of 0, then a rebuild), bulk draws write and leave the
// generator as one ran1 call per draw does.
TEST(Ran1, SeedsAndBulkDraws) {
  EXPECT_EXIT((dup2(2, 1), ran1(1.0)), testing::ExitedWithCode(1),
              "^\nERROR: RAN1\\(\\) was not initialized$");
  init_ran1(1);
  EXPECT_TRUE(_idum_ == 1815859901 && iy == 269220094);
  EXPECT_EQ(ran1(1.0), 0.32823422613005815);
  EXPECT_EQ(ran1(10.0), 8.455756594639158);
  // The modulus itself, a seed rand() can give, is used as it is, not folded.
  const long pairs[][3] = {{-7, 7, 1},
                           {2147483649, 2, 1},
                           {4294967294, 123456789, 1},
                           {1L << 40, 512, 1},
                           {2147483647, 123456789, 0}};
  for (auto [seed, other, same] : pairs) {
    init_ran1(seed);
    const std::vector<int64_t> state = Generator();
    init_ran1(other);
    EXPECT_EQ(Generator() == state, same == 1) << seed;
  }
  const std::string pool = RandomBinary(1000000, 0.3, 11);
  for (long seed : {1L, 2147483646L, 0L}) {
    for (int n : {0, 1, 2, 257, 40000}) {
      std::string sides[2][2];
      std::vector<int64_t> after[2];
      for (int side = 0; side < 2; side++) {
        init_ran1(seed == 0 ? 1 : seed);
        if (seed == 0) {  // the raw state
          std::tie(_idum_, iy) = std::tuple(-2147483647, 0);
          std::fill(iv, iv + 32, 0);
          EXPECT_EQ(ran1(1.0), 0.0);
        }
        sides[side][0] = sides[side][1] = RandomBinary(n, 0.4, n);
        (side ? literal::ShuffleSequenceRegular : ShuffleSequenceRegular)(sides[side][0].data(), n);
        (side ? literal::GenerateSequence : GenerateSequence)(sides[side][1].data(), n, pool.data(),
                                                              999999 - n);
        after[side] = Generator();
      }
      EXPECT_TRUE(sides[0][0] == sides[1][0] && sides[0][1] == sides[1][1] && after[0] == after[1])
          << seed << " " << n;
    }
  }
}

// Both modes from one generator state: the same distribution, string, last
// segments, state and progress; no work at all without random sequences.
TEST(EstimateRandomPM, MatchesLiteral) {
  std::vector<std::tuple<int, int, int, int>> cases;  // mode, n, E, sequences
  for (int n : {1, 2, 37, 300}) {
    for (int E : kSeparations) cases.push_back({2, n, E, 20 + n % 7});
  }
  for (int E : {INT_MIN, 0, 4, 65, INT_MAX}) cases.push_back({1, 130, E, 30});
  cases.insert(cases.end(), {{1, 0, 4, 5}, {1, 5000, 4, 3}, {2, 37, 4, 1000}, {2, 12000, 4, 2}});
  for (auto [mode, n, E, sequences] : cases) {
    std::tie(estimate_ran, random_seqs, max_separation) = std::tie(mode, sequences, E);
    auto outcome = [&](void (*estimate)(char*, int)) {
      init_ran1(1000 + n + E % 1000);  // never 0: that seeds from the clock
      special_rand_p.assign(kMinDistributionSize, 0.0);
      interval[0] = 9;  // the bounds and the pool are made anew
      std::fill(PoolResidues(), PoolResidues() + kPoolSize, 'A');
      std::string s = n == 12000 ? std::string(n, '1') : RandomBinary(n, 0.36, E);
      struct : talvo::Progress {
        void RandomSequence(int k) override {
          if (k % 1000 == 0) printf("N=%d\n", k);
        }
      } thousands;
      random_progress = &thousands;
      testing::internal::CaptureStdout();
      estimate(s.data(), n);
      EXPECT_EQ(testing::internal::GetCapturedStdout(), sequences == 1000 ? "N=1000\n" : "");
      return std::tuple(special_rand_p, s, r_special, Generator());
    };
    const auto fast = outcome(EstimateRandomPM);
    EXPECT_TRUE(fast == outcome(literal::EstimateRandomPM)) << mode << " " << n << " " << E;
  }
  EXPECT_TRUE(special_rand_p.size() == 12001 && special_rand_p[12000] == 1.0);
  random_seqs = 0;
  special_rand_p.assign(3, 0.5);
  EstimateRandomPM(nullptr, 5);
  EXPECT_EQ(special_rand_p, std::vector<double>(3, 0.5));
}

}  // namespace
