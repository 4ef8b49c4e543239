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
std::vector<int64_t> State(const Generator& g) {
  std::vector<int64_t> state = {g.not_initialized, g.idum, g.iy};
  return state.insert(state.end(), g.iv, g.iv + 32), state;
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
    const double p = std::vector{0.36532, 0.1, 0.5, 0.9, 0.0}[trial % 5];
    const double min_p = trial % 6 < 5 ? (trial % 6) / 4.0 : P_scan_ge_K_in_W_N(W / 2, W, n, p);
    FragmentList fast[3], slow[3];  // runs, windows, unordered
    literal::FindRuns(s.data(), n, slow[0]);
    fast[0] = slow[0];
    EXPECT_EQ(SlideWindowP(s.data(), n, W, min_p, p, fast[1]),
              literal::SlideWindowP(s.data(), n, W, min_p, slow[1], p, P_scan_ge_K_in_W_N));
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
      FragmentList merged;  // runs found and merged in one pass
      EXPECT_EQ(FindMergedRuns(s.data(), n, E, merged), longest);
      EXPECT_TRUE(merged == slow[0]) << s << " E=" << E;
      const std::string padded = s + "11111111";
      EXPECT_EQ(LongestMergedSegment(padded.data(), n, E, scratch), longest) << s << " E=" << E;
      EXPECT_EQ(LongestMergedSegment(padded.data(), n, E), longest) << s << " E=" << E;
    }
  }
}

// An unseeded generator refuses to draw; seed 1 gives the documented values;
// seeds equal modulo 2^31-1 repeat a sequence. From seeded states and from the
// raw one of seed 2^31-1 (a table of zeros: a first draw of 0, then a
// rebuild), bulk draws write and leave the generator as one ran1 call per draw
// does.
TEST(Ran1, SeedsAndBulkDraws) {
  Generator g;
  EXPECT_THROW(ran1(g, 1.0), talvo::Error);
  init_ran1(g, 1);
  EXPECT_TRUE(g.idum == 1815859901 && g.iy == 269220094);
  EXPECT_EQ(ran1(g, 1.0), 0.32823422613005815);
  EXPECT_EQ(ran1(g, 10.0), 8.455756594639158);
  // The modulus itself, a seed rand() can give, is used as it is, not folded.
  const long pairs[][3] = {
      {-7, 7, 1},         {2147483649, 2, 1},         {4294967294, 123456789, 1},
      {1L << 40, 512, 1}, {2147483647, 123456789, 0}, {0, -123456789, 1}};
  for (auto [seed, other, same] : pairs) {
    init_ran1(g, seed);
    const std::vector<int64_t> state = State(g);
    init_ran1(g, other);
    EXPECT_EQ(State(g) == state, same == 1) << seed;
  }
  const std::string pool = RandomBinary(1000000, 0.3, 11);
  for (long seed : {1L, 2147483646L, 0L}) {
    for (int n : {0, 1, 2, 257, 40000}) {
      std::string sides[2][2];
      std::vector<int64_t> after[2];
      for (int side = 0; side < 2; side++) {
        Generator h;
        init_ran1(h, seed == 0 ? 1 : seed);
        if (seed == 0) {  // the raw state
          std::tie(h.idum, h.iy) = std::tuple(-2147483647, 0);
          std::fill(h.iv, h.iv + 32, 0);
          EXPECT_EQ(ran1(h, 1.0), 0.0);
        }
        sides[side][0] = sides[side][1] = RandomBinary(n, 0.4, n);
        (side ? literal::ShuffleSequenceRegular : ShuffleSequenceRegular)(h, sides[side][0].data(),
                                                                          n);
        (side ? literal::GenerateSequence : GenerateSequence)(h, sides[side][1].data(), n,
                                                              pool.data(), 999999 - n);
        after[side] = State(h);
      }
      EXPECT_TRUE(sides[0][0] == sides[1][0] && sides[0][1] == sides[1][1] && after[0] == after[1])
          << seed << " " << n;
    }
  }
}

// Both modes from one generator state: the same distribution, string, state
// and progress (a workspace used before, to show that nothing of an earlier
// estimate leaks into the next); no work at all without random sequences.
TEST(EstimateRandomPM, MatchesLiteral) {
  std::vector<std::tuple<int, int, int, int>> cases;  // mode, n, E, sequences
  for (int n : {1, 2, 37, 300}) {
    for (int E : kSeparations) cases.push_back({2, n, E, 20 + n % 7});
  }
  for (int E : {INT_MIN, 0, 4, 65, INT_MAX}) cases.push_back({1, 130, E, 30});
  cases.insert(cases.end(), {{1, 0, 4, 5}, {1, 5000, 4, 3}, {2, 37, 4, 1000}, {2, 12000, 4, 2}});
  struct Counter : talvo::Progress {
    std::vector<int> seen;
    void RandomSequence(int k) override { seen.push_back(k); }
  };
  RandomWork work;
  for (auto [mode, n, E, sequences] : cases) {
    auto outcome = [&, mode = mode, n = n, E = E, sequences = sequences](bool literal) {
      Counter counter;
      const RandomStage stage{sequences, mode == 2, E,       mode == 2 ? nullptr : pdb_aa_freq,
                              "GPSTDNH", true,      &counter};
      Generator& g = work.generator;
      init_ran1(g, 1000 + n + E % 1000);
      std::string s = n == 12000 ? std::string(n, '1') : RandomBinary(n, 0.36, E);
      std::vector<double> distribution;
      if (literal) {
        literal::EstimateRandomPM(s.data(), n, stage, g, distribution);
      } else {
        EstimateRandomPM(s.data(), n, stage, work);
        distribution = Distribution(work.longest, sequences);
      }
      return std::tuple(distribution, s, State(g), counter.seen);
    };
    const auto fast = outcome(false);
    EXPECT_TRUE(fast == outcome(true)) << mode << " " << n << " " << E;
    EXPECT_EQ(std::get<3>(fast).size(), static_cast<size_t>(sequences));
  }
  EXPECT_TRUE(work.longest.size() == 12001 && work.longest[12000] == 2);
  work.longest.assign(3, 5);
  EstimateRandomPM(nullptr, 5, RandomStage{0, true, 4, nullptr, "", true, nullptr}, work);
  EXPECT_EQ(work.longest, std::vector<int>(3, 5));
}

}  // namespace
