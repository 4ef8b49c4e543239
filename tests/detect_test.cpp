#include "detect/detect.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "alphabet/alphabet.h"
#include "reference/detect_reference.h"
#include "stats/stats.h"
#include "support/fragments.h"

namespace {

struct Span {
  int start, end;
  bool operator==(const Span& o) const { return start == o.start && end == o.end; }
};

void PrintTo(const Span& s, std::ostream* os) {
  *os << s.start << ".." << s.end;
}

std::vector<Span> Spans(const FragmentList& list) {
  std::vector<Span> spans;
  for (const FRAGMENT& f : list) spans.push_back({f.start, f.end});
  return spans;
}

FragmentList Frags(const std::vector<Span>& spans) {
  FragmentList list;
  for (const Span& s : spans) list.push_back(Frag(s.start, s.end));
  return list;
}

std::string RandomBinary(std::mt19937& rng, int n, double density) {
  std::bernoulli_distribution special(density);
  std::string s(n, '0');
  for (char& c : s) c = special(rng) ? '1' : '0';
  return s;
}

// ---------------------------------------------------------------- runs

TEST(ComputeN, CountsOnesInInclusiveRange) {
  EXPECT_EQ(ComputeN("0110", 0, 3), 2);
  EXPECT_EQ(ComputeN("0110", 2, 1), 0);
  EXPECT_EQ(ComputeN("0110", 1, 1), 1);
  EXPECT_EQ(ComputeN("1x1", 0, 2), 2);
}

// Each list starts with an older fragment: runs are appended behind it and
// the result is the longest new run.
TEST(FindRuns, ExamplesOfSingleStrings) {
  const struct {
    const char* s;
    std::vector<Span> runs;
    int longest;
  } cases[] = {
      {"0000", {}, 0},
      {"1111", {{1, 4}}, 4},
      {"0110", {{2, 3}}, 2},
      {"1001", {{1, 1}, {4, 4}}, 1},
      {"001", {{3, 3}}, 1},
      {"1", {{1, 1}}, 1},
      {"0", {}, 0},
      {"", {}, 0},
      {"1101110", {{1, 2}, {4, 6}}, 3},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.s);
    FragmentList list = {Frag(5, 9)};
    EXPECT_EQ(FindRuns(c.s, static_cast<int>(std::strlen(c.s)), list), c.longest);
    std::vector<Span> expected = {{5, 9}};
    expected.insert(expected.end(), c.runs.begin(), c.runs.end());
    EXPECT_EQ(Spans(list), expected);
    for (size_t i = 1; i < list.size(); i++) {
      EXPECT_EQ(list[i].length, list[i].end - list[i].start + 1);
      EXPECT_EQ(list[i].n_special, list[i].length);
      EXPECT_EQ(list[i].p_value, 0.0);
    }
  }
}

TEST(FindRuns, MatchesLiteralOnRandomStrings) {
  std::mt19937 rng(11);
  for (int trial = 0; trial < 3000; trial++) {
    const int n = trial % 97;
    std::string s = RandomBinary(rng, n, (trial % 10) / 9.0);
    if (trial % 7 == 0 && n > 0) s[trial % n] = 'x';  // other characters end runs too
    FragmentList fast = {Frag(5, 6)}, slow = fast;
    ASSERT_EQ(FindRuns(s.data(), n, fast), literal::FindRuns(s.data(), n, slow)) << s;
    ExpectSameFragments(fast, slow);
  }
}

// ---------------------------------------------------------------- merging

TEST(MergeSegmentsDiscrete, ExamplesOfTheLinkageRule) {
  const struct {
    const char* name;
    int E;
    std::vector<Span> in, out;
    int longest;
  } cases[] = {
      {"three positions between are joined", 4, {{1, 3}, {7, 9}}, {{1, 9}}, 9},
      {"four positions between stay apart", 4, {{1, 3}, {8, 10}}, {{1, 3}, {8, 10}}, 3},
      {"a chain is swallowed by a growing end", 4, {{1, 2}, {6, 7}, {11, 12}}, {{1, 12}}, 12},
      {"a fragment inside the current one", 4, {{1, 10}, {3, 5}}, {{1, 10}}, 10},
      {"windows 1..10, 2..11, 3..12", 4, {{1, 10}, {2, 11}, {3, 12}}, {{1, 12}}, 12},
      {"E=0 joins a shared position", 0, {{1, 3}, {3, 6}}, {{1, 6}}, 6},
      {"E=0 keeps adjacent fragments apart", 0, {{1, 3}, {4, 6}}, {{1, 3}, {4, 6}}, 3},
      {"E=1 joins adjacent fragments", 1, {{1, 3}, {4, 6}}, {{1, 6}}, 6},
      {"a negative E needs an overlap", -2, {{1, 6}, {4, 8}, {7, 9}}, {{1, 8}, {7, 9}}, 8},
      {"a gap starts anew", 2, {{1, 2}, {4, 5}, {9, 9}, {11, 12}}, {{1, 5}, {9, 12}}, 5},
      {"a chain of single positions", 2, {{1, 1}, {3, 3}, {5, 5}}, {{1, 5}}, 5},
      // start - E must not overflow: far above any end, far below any end.
      {"E=INT_MIN", INT_MIN, {{1, 1}, {3, 3}, {10, 10}}, {{1, 1}, {3, 3}, {10, 10}}, 1},
      {"E=INT_MAX", INT_MAX, {{1, 1}, {3, 3}, {10, 10}}, {{1, 10}}, 10},
      {"nothing to merge", 4, {}, {}, 0},
  };
  const std::string s = "1101101011011100101101";
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FragmentList list = Frags(c.in), slow = list;
    EXPECT_EQ(MergeSegmentsDiscrete(s.data(), list, c.E), c.longest);
    literal::MergeSegmentsDiscrete(s.data(), slow, c.E);
    EXPECT_EQ(Spans(list), c.out);
    ExpectSameFragments(list, slow);
  }
}

TEST(MergeSegmentsDiscrete, RecomputesLengthAndCountButKeepsStartAndPValue) {
  const char* s = "011010011111";
  FragmentList list = Frags({{2, 3}, {5, 5}, {9, 12}});
  list[0].p_value = 0.25;
  list[0].length = 99;
  list[2].n_special = 77;
  EXPECT_EQ(MergeSegmentsDiscrete(s, list, 2), 4);
  ASSERT_EQ(Spans(list), (std::vector<Span>{{2, 5}, {9, 12}}));
  EXPECT_EQ(list[0].length, 4);
  EXPECT_EQ(list[0].n_special, 3);  // the closed gap counts only its '1'
  EXPECT_EQ(list[0].p_value, 0.25);
  EXPECT_EQ(list[1].n_special, 4);
}

// Merges list both ways; merging a sorted list a second time changes nothing.
void ExpectSameMerge(const std::string& s, FragmentList fast, int E, bool sorted) {
  FragmentList slow = fast;
  ASSERT_EQ(MergeSegmentsDiscrete(s.data(), fast, E),
            literal::MergeSegmentsDiscrete(s.data(), slow, E))
      << s;
  ExpectSameFragments(fast, slow);
  if (!sorted) return;
  MergeSegmentsDiscrete(s.data(), slow, E);
  EXPECT_EQ(Spans(slow), Spans(fast)) << "merged twice: " << s;
}

// Random lists of both kinds the detectors produce (runs, chains of windows)
// and unordered ones, over a range of separations.
class MergeAgainstLiteral : public ::testing::TestWithParam<int> {};

TEST_P(MergeAgainstLiteral, RandomListsOfEveryKind) {
  const int E = GetParam();
  std::mt19937 runs_rng(100u + static_cast<unsigned>(E));
  for (int trial = 0; trial < 400; trial++) {
    const int n = 1 + trial % 150;
    const std::string s = RandomBinary(runs_rng, n, 0.1 + (trial % 9) / 10.0);
    FragmentList runs;
    FindRuns(s.data(), n, runs);
    ExpectSameMerge(s, runs, E, true);
  }
  std::mt19937 windows_rng(200u + static_cast<unsigned>(E));
  for (int trial = 0; trial < 400; trial++) {
    const int W = 1 + trial % 12;
    const int n = W + trial % 120;
    const std::string s = RandomBinary(windows_rng, n, 0.4);
    std::bernoulli_distribution kept(0.2 + (trial % 7) / 10.0);
    FragmentList windows;
    for (int j = 0; j + W <= n; j++) {
      if (!kept(windows_rng)) continue;
      FRAGMENT w = Frag(j + 1, j + W);
      w.n_special = ComputeN(s.data(), j, j + W - 1);
      w.p_value = 1.0 / (j + 1);
      windows.push_back(w);
    }
    ExpectSameMerge(s, windows, E, true);
  }
  std::mt19937 any_rng(300u + static_cast<unsigned>(E));
  for (int trial = 0; trial < 300; trial++) {
    const int n = 20 + trial % 60;
    const std::string s = RandomBinary(any_rng, n, 0.5);
    std::uniform_int_distribution<int> pos(1, n);
    FragmentList list;
    for (int i = trial % 12; i > 0; i--) {
      int a = pos(any_rng), b = pos(any_rng);
      list.push_back(Frag(std::min(a, b), std::max(a, b)));
    }
    ExpectSameMerge(s, list, E, false);
  }
}

INSTANTIATE_TEST_SUITE_P(SeparationsFromMinus3To12, MergeAgainstLiteral,
                         ::testing::Values(-3, -2, -1, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12,
                                           INT_MIN, INT_MIN + 1, INT_MAX - 1, INT_MAX));

// ---------------------------------------------------------------- windows

class SlideWindow : public ::testing::Test {
 protected:
  void SetUp() override { P_special = 0.36532; }
  void TearDown() override { P_special = saved_; }
  const double saved_ = P_special;
};

// Every window whose p-value is below the threshold (one equal to it is not
// recorded), in order, scored by the scan statistic of its own count.
TEST_F(SlideWindow, RecordsWindowsBelowTheThresholdInOrder) {
  const int counts[] = {2, 3, 4, 3, 2, 1, 0};
  const double p4 = P_scan_ge_K_in_W_N(4, 4, 10, P_special);
  int admitted_before = -1;
  for (double threshold : {p4, std::nextafter(p4, 1.0), 1.0}) {
    FragmentList list, expected;
    EXPECT_EQ(SlideWindowP("0011110000", 10, 4, threshold, list), 4);
    for (int start = 1; start <= 7; start++) {
      FRAGMENT w = Frag(start, start + 3);
      w.n_special = counts[start - 1];
      w.p_value = P_scan_ge_K_in_W_N(w.n_special, 4, 10, P_special);
      if (w.p_value < threshold) expected.push_back(w);
    }
    EXPECT_GT(static_cast<int>(expected.size()), admitted_before) << threshold;
    admitted_before = static_cast<int>(expected.size());
    ExpectSameFragments(list, expected);
  }
}

// The result is the largest count whatever is recorded.
TEST_F(SlideWindow, EdgeThresholdsAndWindowLengths) {
  const struct {
    const char* s;
    int W;
    double min_p;
    int largest;
    std::vector<Span> recorded;
  } cases[] = {
      {"0111011000", 5, 0.0, 4, {}},           // a zero threshold records nothing
      {"1111111111", 10, 1.0, 10, {{1, 10}}},  // as long as the sequence
      {"1111111111", 11, 1.0, 0, {}},          // longer than the sequence
  };
  for (const auto& c : cases) {
    FragmentList list;
    EXPECT_EQ(SlideWindowP(c.s, 10, c.W, c.min_p, list), c.largest) << c.s << " W=" << c.W;
    EXPECT_EQ(Spans(list), c.recorded) << c.s << " W=" << c.W;
  }
}

TEST_F(SlideWindow, MatchesLiteralScanner) {
  std::mt19937 rng(7);
  const double thresholds[] = {0.0, 1e-6, 0.01, 0.05, 0.5, 1.0};
  const double probabilities[] = {0.36532, 0.1, 0.5, 0.9, 0.0};
  for (int trial = 0; trial < 600; trial++) {
    const int N = 2 + trial % 90;
    const int W = 2 + (trial / 3) % N;
    if (W > N) continue;
    P_special = probabilities[trial % 5];
    const double min_p = thresholds[trial % 6];
    const std::string s = RandomBinary(rng, N, 0.2 + (trial % 7) / 10.0);
    FragmentList fast, slow;
    ASSERT_EQ(SlideWindowP(s.data(), N, W, min_p, fast),
              literal::SlideWindowP(s.data(), N, W, min_p, slow, P_special));
    ExpectSameFragments(fast, slow);
  }
}

}  // namespace
