// The run finder, the window scanner and the linear merge against the literal
// algorithms, on random 0/1 strings and on fragment lists of every kind.
#include "detect/detect.h"

#include <gtest/gtest.h>

#include <climits>
#include <random>
#include <string>

#include "alphabet/alphabet.h"
#include "reference/literal.h"
#include "stats/stats.h"
#include "support/support.h"

bool operator==(const FRAGMENT& a, const FRAGMENT& b) {
  return a.start == b.start && a.end == b.end && a.length == b.length &&
         a.n_special == b.n_special && SameBits(a.p_value, b.p_value);
}

namespace {

const int kSeparations[] = {INT_MIN, -2, 0, 1, 2, 3, 4, 7, 12, INT_MAX - 1, INT_MAX};

// Merges a copy with each implementation and compares lists and results.
void ExpectSameMerge(const std::string& s, const FragmentList& list, int E) {
  FragmentList fast = list, slow = list;
  EXPECT_EQ(MergeSegmentsDiscrete(s.data(), fast, E),
            literal::MergeSegmentsDiscrete(s.data(), slow, E));
  EXPECT_TRUE(fast == slow) << s << " E=" << E << " " << list.size();
}

// Strings of every density, some with other characters ending runs; windows
// of every size, lengths beyond the string included, scored at several
// background probabilities and thresholds (one equal to a p-value recording
// nothing); lists of runs, of windows and in no order.
TEST(Detect, MatchesLiteral) {
  std::mt19937 rng(7);
  const double probabilities[] = {0.36532, 0.1, 0.5, 0.9, 0.0};
  for (int trial = 0; trial < 2400; trial++) {
    const int n = trial % 97;
    std::bernoulli_distribution special((trial % 11) / 10.0);
    std::string s(n, '0');
    for (char& c : s) c = special(rng) ? '1' : "0x"[trial % 7 == 0 && rng() % 9 == 0];
    const int E = kSeparations[trial % std::size(kSeparations)];
    FragmentList runs = {{5, 9, 5}}, literal_runs = runs;
    EXPECT_EQ(FindRuns(s.data(), n, runs), literal::FindRuns(s.data(), n, literal_runs));
    EXPECT_TRUE(runs == literal_runs) << s;
    runs.erase(runs.begin());
    ExpectSameMerge(s, runs, E);

    P_special = probabilities[trial % 5];
    const int W = trial % 13 == 0 ? n + trial % 3 - 1 : trial % 15 - 1;
    const double min_p =
        trial % 6 < 5 ? (trial % 6) / 4.0 : P_scan_ge_K_in_W_N(W / 2, W, n, P_special);
    FragmentList windows, literal_windows;
    EXPECT_EQ(SlideWindowP(s.data(), n, W, min_p, windows),
              literal::SlideWindowP(s.data(), n, W, min_p, literal_windows, P_special,
                                    P_scan_ge_K_in_W_N));
    EXPECT_TRUE(windows == literal_windows) << s << " W=" << W;
    ExpectSameMerge(s, windows, E);

    FragmentList unordered;
    for (int i = trial % 12; i > 0 && n > 0; i--) {
      const int a = 1 + rng() % n, b = 1 + rng() % n;
      unordered.push_back({std::min(a, b), std::max(a, b), 0, 0, 1.0 / i});
    }
    ExpectSameMerge(s, unordered, E);
  }
}

TEST(Detect, ComputeNCountsAnInclusiveRange) {
  EXPECT_EQ(ComputeN("0110", 0, 3), 2);
  EXPECT_EQ(ComputeN("0110", 2, 1), 0);
  EXPECT_EQ(ComputeN("1x1", 0, 2), 2);
}

}  // namespace
