#include "detect/detect.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "alphabet/alphabet.h"
#include "reference/detect_reference.h"
#include "stats/stats.h"

namespace {

FRAGMENT Frag(int start, int end) {
  FRAGMENT f;
  f.start = start;
  f.end = end;
  f.length = end - start + 1;
  return f;
}

struct Span {
  int start;
  int end;
};

std::vector<Span> Spans(const FragmentList& list) {
  std::vector<Span> spans;
  for (const FRAGMENT& f : list) spans.push_back({f.start, f.end});
  return spans;
}

bool operator==(const Span& a, const Span& b) {
  return a.start == b.start && a.end == b.end;
}

void PrintTo(const Span& s, std::ostream* os) {
  *os << s.start << ".." << s.end;
}

// Every field equal, p_value bit for bit.
void ExpectSameFragments(const FragmentList& actual, const FragmentList& expected) {
  ASSERT_EQ(actual.size(), expected.size());
  for (size_t i = 0; i < actual.size(); i++) {
    SCOPED_TRACE("fragment " + std::to_string(i));
    EXPECT_EQ(actual[i].start, expected[i].start);
    EXPECT_EQ(actual[i].end, expected[i].end);
    EXPECT_EQ(actual[i].length, expected[i].length);
    EXPECT_EQ(actual[i].n_special, expected[i].n_special);
    EXPECT_EQ(std::memcmp(&actual[i].p_value, &expected[i].p_value, sizeof(double)), 0);
  }
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

TEST(FindRuns, ExamplesOfSingleStrings) {
  struct Case {
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
  for (const Case& c : cases) {
    SCOPED_TRACE(c.s);
    FragmentList list;
    EXPECT_EQ(FindRuns(c.s, static_cast<int>(std::strlen(c.s)), list), c.longest);
    EXPECT_EQ(Spans(list), c.runs);
    for (const FRAGMENT& f : list) {
      EXPECT_EQ(f.length, f.end - f.start + 1);
      EXPECT_EQ(f.n_special, f.length);
      EXPECT_EQ(f.p_value, 0.0);
    }
  }
}

TEST(FindRuns, AppendsBehindExistingFragments) {
  FragmentList list;
  FindRuns("0110", 4, list);
  EXPECT_EQ(FindRuns("1001", 4, list), 1);
  EXPECT_EQ(Spans(list), (std::vector<Span>{{2, 3}, {1, 1}, {4, 4}}));
}

TEST(FindRuns, MatchesLiteralOnRandomStrings) {
  std::mt19937 rng(11);
  for (int trial = 0; trial < 3000; trial++) {
    const int n = trial % 97;
    std::string s = RandomBinary(rng, n, (trial % 10) / 9.0);
    if (trial % 7 == 0 && n > 0) s[trial % n] = 'x';  // other characters end runs too
    FragmentList fast, slow;
    fast.push_back(Frag(5, 6));
    slow.push_back(Frag(5, 6));
    ASSERT_EQ(FindRuns(s.data(), n, fast), literal::FindRuns(s.data(), n, slow)) << s;
    ExpectSameFragments(fast, slow);
  }
}

// ---------------------------------------------------------------- merging

struct MergeCase {
  const char* name;
  int E;
  std::vector<Span> in;
  std::vector<Span> out;
};

TEST(MergeSegmentsDiscrete, ExamplesOfTheLinkageRule) {
  const MergeCase cases[] = {
      {"three positions between are joined", 4, {{1, 3}, {7, 9}}, {{1, 9}}},
      {"four positions between stay apart", 4, {{1, 3}, {8, 10}}, {{1, 3}, {8, 10}}},
      {"a chain is swallowed by a growing end", 4, {{1, 2}, {6, 7}, {11, 12}}, {{1, 12}}},
      {"a fragment inside the current one", 4, {{1, 10}, {3, 5}}, {{1, 10}}},
      {"windows 1..10, 2..11, 3..12", 4, {{1, 10}, {2, 11}, {3, 12}}, {{1, 12}}},
      {"E=0 joins a shared position", 0, {{1, 3}, {3, 6}}, {{1, 6}}},
      {"E=0 keeps adjacent fragments apart", 0, {{1, 3}, {4, 6}}, {{1, 3}, {4, 6}}},
      {"E=1 joins adjacent fragments", 1, {{1, 3}, {4, 6}}, {{1, 6}}},
      {"a negative E needs an overlap", -2, {{1, 6}, {4, 8}, {7, 9}}, {{1, 8}, {7, 9}}},
      {"a later fragment after a gap starts anew",
       2,
       {{1, 2}, {4, 5}, {9, 9}, {11, 12}},
       {{1, 5}, {9, 12}}},
      {"nothing to merge", 4, {}, {}},
  };
  const std::string s = "1101101011011100101101";
  for (const MergeCase& c : cases) {
    SCOPED_TRACE(c.name);
    FragmentList list;
    for (const Span& span : c.in) list.push_back(Frag(span.start, span.end));
    FragmentList slow = list;
    MergeSegmentsDiscrete(s.data(), list, c.E);
    literal::MergeSegmentsDiscrete(s.data(), slow, c.E);
    EXPECT_EQ(Spans(list), c.out);
    ExpectSameFragments(list, slow);
  }
}

TEST(MergeSegmentsDiscrete, RecomputesLengthAndCountButKeepsStartAndPValue) {
  const char* s = "011010011111";
  FragmentList list = {Frag(2, 3), Frag(5, 5), Frag(9, 12)};
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

TEST(MergeSegmentsDiscrete, ResultIsLongestAfterMergingAndZeroWhenEmpty) {
  FragmentList empty;
  EXPECT_EQ(MergeSegmentsDiscrete("", empty, 4), 0);
  EXPECT_TRUE(empty.empty());

  FragmentList single = {Frag(2, 4)};
  single[0].length = 0;
  EXPECT_EQ(MergeSegmentsDiscrete("01110", single, 4), 3);
  EXPECT_EQ(single[0].n_special, 3);

  FragmentList chain = {Frag(1, 1), Frag(3, 3), Frag(5, 5)};
  EXPECT_EQ(MergeSegmentsDiscrete("10101", chain, 2), 5);
}

TEST(MergeSegmentsDiscrete, SecondCallChangesNoPositions) {
  const char* s = "110011100001";
  FragmentList list;
  FindRuns(s, 12, list);
  MergeSegmentsDiscrete(s, list, 3);
  const std::vector<Span> once = Spans(list);
  MergeSegmentsDiscrete(s, list, 3);
  EXPECT_EQ(Spans(list), once);
}

TEST(MergeSegmentsDiscrete, ExtremeSeparationsUse64BitArithmetic) {
  const char* s = "1010101010";
  FragmentList apart = {Frag(1, 1), Frag(3, 3), Frag(10, 10)};
  MergeSegmentsDiscrete(s, apart, INT_MIN);  // start - E is far above any end
  EXPECT_EQ(apart.size(), 3u);
  FragmentList joined = {Frag(1, 1), Frag(3, 3), Frag(10, 10)};
  MergeSegmentsDiscrete(s, joined, INT_MAX);  // start - E is far below any end
  EXPECT_EQ(Spans(joined), (std::vector<Span>{{1, 10}}));
}

// Random lists of both kinds the detectors produce, over a range of separations.
class MergeAgainstLiteral : public ::testing::TestWithParam<int> {};

TEST_P(MergeAgainstLiteral, RunsOfRandomStrings) {
  const int E = GetParam();
  std::mt19937 rng(100u + static_cast<unsigned>(E));
  for (int trial = 0; trial < 400; trial++) {
    const int n = 1 + trial % 150;
    const std::string s = RandomBinary(rng, n, 0.1 + (trial % 9) / 10.0);
    FragmentList fast, slow;
    FindRuns(s.data(), n, fast);
    FindRuns(s.data(), n, slow);
    ASSERT_EQ(MergeSegmentsDiscrete(s.data(), fast, E),
              literal::MergeSegmentsDiscrete(s.data(), slow, E));
    ExpectSameFragments(fast, slow);
  }
}

TEST_P(MergeAgainstLiteral, ChainsOfRandomWindows) {
  const int E = GetParam();
  std::mt19937 rng(200u + static_cast<unsigned>(E));
  for (int trial = 0; trial < 400; trial++) {
    const int W = 1 + trial % 12;
    const int n = W + trial % 120;
    const std::string s = RandomBinary(rng, n, 0.4);
    std::bernoulli_distribution kept(0.2 + (trial % 7) / 10.0);
    FragmentList fast;
    for (int j = 0; j + W <= n; j++) {
      if (!kept(rng)) continue;
      FRAGMENT w = Frag(j + 1, j + W);
      w.n_special = ComputeN(s.data(), j, j + W - 1);
      w.p_value = 1.0 / (j + 1);
      fast.push_back(w);
    }
    FragmentList slow = fast;
    ASSERT_EQ(MergeSegmentsDiscrete(s.data(), fast, E),
              literal::MergeSegmentsDiscrete(s.data(), slow, E));
    ExpectSameFragments(fast, slow);
  }
}

TEST_P(MergeAgainstLiteral, ListsInAnyOrder) {
  const int E = GetParam();
  std::mt19937 rng(300u + static_cast<unsigned>(E));
  for (int trial = 0; trial < 300; trial++) {
    const int n = 20 + trial % 60;
    const std::string s = RandomBinary(rng, n, 0.5);
    std::uniform_int_distribution<int> pos(1, n);
    FragmentList fast;
    for (int i = trial % 12; i > 0; i--) {
      int a = pos(rng), b = pos(rng);
      fast.push_back(Frag(std::min(a, b), std::max(a, b)));
    }
    FragmentList slow = fast;
    ASSERT_EQ(MergeSegmentsDiscrete(s.data(), fast, E),
              literal::MergeSegmentsDiscrete(s.data(), slow, E));
    ExpectSameFragments(fast, slow);
  }
}

INSTANTIATE_TEST_SUITE_P(SeparationsFromMinus3To12, MergeAgainstLiteral,
                         ::testing::Values(-3, -2, -1, 0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12,
                                           INT_MIN, INT_MIN + 1, INT_MAX - 1, INT_MAX));

// ---------------------------------------------------------------- windows

class SlideWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = P_special;
    P_special = 0.36532;
  }
  void TearDown() override { P_special = saved_; }
  double saved_ = 0.0;
};

TEST_F(SlideWindow, CountsEveryWindowAndRecordsThemInOrder) {
  const char* s = "0011110000";
  FragmentList list;
  EXPECT_EQ(SlideWindowP(s, 10, 4, 1.0, list), 4);
  const int counts[] = {2, 3, 4, 3, 2, 1, 0};
  int previous_start = 0;
  for (const FRAGMENT& w : list) {
    EXPECT_GT(w.start, previous_start);
    previous_start = w.start;
    EXPECT_EQ(w.end, w.start + 3);
    EXPECT_EQ(w.length, 4);
    EXPECT_EQ(w.n_special, counts[w.start - 1]);
    EXPECT_EQ(w.p_value, P_scan_ge_K_in_W_N(w.n_special, 4, 10, P_special));
    EXPECT_LT(w.p_value, 1.0);
  }
}

TEST_F(SlideWindow, PValueEqualToThresholdIsNotRecorded) {
  const char* s = "0011110000";
  const double p4 = P_scan_ge_K_in_W_N(4, 4, 10, P_special);
  FragmentList at, above;
  SlideWindowP(s, 10, 4, p4, at);
  SlideWindowP(s, 10, 4, std::nextafter(p4, 1.0), above);
  for (const FRAGMENT& w : at) EXPECT_NE(w.n_special, 4);
  bool found = false;
  for (const FRAGMENT& w : above) found = found || (w.start == 3 && w.n_special == 4);
  EXPECT_TRUE(found);
}

TEST_F(SlideWindow, ZeroThresholdRecordsNothingButStillReportsLargestCount) {
  FragmentList list;
  EXPECT_EQ(SlideWindowP("0111011000", 10, 5, 0.0, list), 4);
  EXPECT_TRUE(list.empty());
}

TEST_F(SlideWindow, WindowAsLongAsSequenceAndLonger) {
  FragmentList list;
  EXPECT_EQ(SlideWindowP("1111111111", 10, 10, 1.0, list), 10);
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].start, 1);
  EXPECT_EQ(list[0].end, 10);
  FragmentList none;
  EXPECT_EQ(SlideWindowP("1111111111", 10, 11, 1.0, none), 0);
  EXPECT_TRUE(none.empty());
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
