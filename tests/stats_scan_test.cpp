// The scan-statistic p-value: documented values, bit-for-bit agreement with
// the literal formulas over broad grids, the cases the bare arithmetic leaves
// undefined, and long windows whose (1 - p)^w is below the normal range.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "reference/stats_reference.h"
#include "stats/stats.h"
#include "support/same_bits.h"

namespace {

std::string Args(int k, int w, int N, double p) {
  return "k=" + std::to_string(k) + " w=" + std::to_string(w) + " N=" + std::to_string(N) +
         " p=" + std::to_string(p);
}

// Sequence lengths around the window: e = -1, 0, 1 and far above.
std::vector<int> LengthsFor(int w) {
  std::vector<int> lengths = {1, w, w + 1, 2 * w, 2 * w + 1, (5 * w) / 2, 7 * w + 3, 35000};
  if (w > 2) lengths.push_back(w / 2);
  if (w > 1) lengths.push_back(2 * w - 1);
  return lengths;
}

// Cases the bare arithmetic leaves without a number (q2 = 0, p = 1, k = 0) or
// turns into a p-value of 0 for a near-certain event (q3 = 0 with N <= w).
bool OpenCase(int k, int w, int N, double p, double q2, double q3) {
  const int e = N / w + (N % w != 0 ? 1 : 0) - 2;
  return k == 0 || p == 1 || q2 == 0 || (q3 == 0 && e < 0);
}

// Compares Q2, Q3 and the p-value for every N with the literal formulas; with
// p = 0 no window reaches a positive count, a p-value of +0.
void CompareWithLiteral(int k, int w, double p) {
  const double q2 = literal::Q2(k, w, p), q3 = literal::Q3(k, w, p);
  if (p < 1) {
    EXPECT_SAME_BITS(Q2(k, w, p), q2) << Args(k, w, 0, p);
    EXPECT_SAME_BITS(Q3(k, w, p), q3) << Args(k, w, 0, p);
  }
  for (int N : LengthsFor(w)) {
    const double r = P_scan_ge_K_in_W_N(k, w, N, p);
    EXPECT_GE(r, 0.0) << Args(k, w, N, p);
    EXPECT_LE(r, 1.0) << Args(k, w, N, p);
    if (p == 0 && k > 0) {
      EXPECT_SAME_BITS(r, 0.0) << Args(k, w, N, p);
    }
    if (OpenCase(k, w, N, p, q2, q3)) continue;
    EXPECT_SAME_BITS(r, literal::ScanFromQ2Q3(q2, q3, w, N)) << Args(k, w, N, p);
  }
}

TEST(Scan, DocumentedExample) {
  EXPECT_EQ(Fb(2, 5, 0.5), 0.5);
  EXPECT_EQ(Q2(3, 5, 0.5), 0.181640625);
  EXPECT_EQ(A1(3, 5, 0.5), 0.068359375);
  EXPECT_EQ(A2(3, 5, 0.5), 0.0030517578125);
  EXPECT_EQ(A3(3, 5, 0.5), 0.0054931640625);
  EXPECT_EQ(A4(3, 5, 0.5), 0.00152587890625);
  EXPECT_EQ(Q3(3, 5, 0.5), 0.06365966796875);
  EXPECT_EQ(P_scan_ge_K_in_W_N(3, 5, 10, 0.5), 0.818359375);
  EXPECT_EQ(P_scan_ge_K_in_W_N(3, 5, 11, 0.5), 0.93634033203125);
  EXPECT_NEAR(P_scan_ge_K_in_W_N(3, 5, 5, 0.5), 0.4817233940556088, 1e-16);
  EXPECT_EQ(P_scan_ge_K_in_W_N(3, 5, 5, 0.5), literal::P_scan_ge_K_in_W_N(3, 5, 5, 0.5));
  // N = 2.5 w counts as three windows, not two and a half.
  EXPECT_EQ(P_scan_ge_K_in_W_N(3, 4, 10, 0.5), 1 - Q3(3, 4, 0.5));
}

TEST(Scan, SmallCounts) {
  EXPECT_EQ(P_scan_ge_K_in_W_N(1, 2, 4, 0.5), 0.9375);
  EXPECT_EQ(P_scan_ge_K_in_W_N(1, 2, 5, 0.5), 0.984375);
  for (double p : {0.1, 0.36532, 0.8}) {
    for (int w : {2, 9, 50}) {
      const double b0 = BPR(0, w, p);
      EXPECT_EQ(Q2(1, w, p), b0 * b0);
      EXPECT_EQ(Q3(1, w, p), b0 * (b0 * b0));
      EXPECT_EQ(A2(2, w, p), 0.0);
      EXPECT_EQ(A3(2, w, p), 0.0);
      EXPECT_EQ(A4(2, w, p), 0.0);
    }
  }
}

// The literal cost grows as k^4 over a range of k: every window up to 300
// with small counts, and counts to 60 on a spread of windows. A window of one
// reaches F(k - 5; -1), an alternating series whose terms grow without bound
// for p > 0.5 and turn A2 into a NaN; that must match too.
TEST(Scan, MatchesLiteral) {
  for (double p : kGridProbabilities) {
    for (int w = 1; w <= 300; w++) {
      for (int k = 0; k <= 20; k++) CompareWithLiteral(k, w, p);
    }
    for (int w : {1, 2, 3, 8, 31, 59, 61, 300}) {
      for (int k = 21; k <= 60; k++) CompareWithLiteral(k, w, p);
    }
  }
  ASSERT_TRUE(std::isnan(literal::A2(200, 1, 0.99)));
  for (double p : {0.3, 0.5, 0.6, 0.9, 0.99}) {
    for (int k : {5, 6, 100, 200}) {
      EXPECT_SAME_BITS(A2(k, 1, p), literal::A2(k, 1, p)) << Args(k, 1, 0, p);
      CompareWithLiteral(k, 1, p);
    }
  }
}

TEST(Scan, CorrectionTermsMatchLiteral) {
  for (double p : kGridProbabilities) {
    if (p == 1) continue;
    for (int w = 1; w <= 40; w++) {
      for (int k = 0; k <= 30; k++) {
        EXPECT_SAME_BITS(A1(k, w, p), literal::A1(k, w, p)) << Args(k, w, 0, p);
        EXPECT_SAME_BITS(A2(k, w, p), literal::A2(k, w, p)) << Args(k, w, 0, p);
        EXPECT_SAME_BITS(A3(k, w, p), literal::A3(k, w, p)) << Args(k, w, 0, p);
        EXPECT_SAME_BITS(A4(k, w, p), literal::A4(k, w, p)) << Args(k, w, 0, p);
      }
    }
  }
}

// At least zero special positions is certain; with every position special a
// window holds exactly w of them. The bare arithmetic gives 0 for the latter.
TEST(Scan, OpenCasesGetTheirProbability) {
  for (double p : kGridProbabilities) {
    for (int w : {1, 5, 2000}) {
      for (int N : {1, w, 3 * w + 1}) EXPECT_EQ(P_scan_ge_K_in_W_N(0, w, N, p), 1.0);
    }
  }
  for (int w : {1, 2, 7, 300, 5000}) {
    for (int N : {w, 2 * w, 10 * w + 1}) {
      EXPECT_EQ(P_scan_ge_K_in_W_N(1, w, N, 1), 1.0);
      EXPECT_EQ(P_scan_ge_K_in_W_N(w, w, N, 1), 1.0);
      EXPECT_EQ(P_scan_ge_K_in_W_N(w + 1, w, N, 1), 0.0);
    }
  }
  EXPECT_EQ(literal::P_scan_ge_K_in_W_N(3, 7, 20, 1), 0.0);
}

// With (1 - p)^w still normal, products of tiny F values underflow: no window
// reaching k is then less likely than the smallest double. With one window
// covering the sequence, 1 - q2 * q2 / q3 divides by a q3 that has underflowed,
// which the bare arithmetic turns into a p-value of 0.
TEST(Scan, UnderflowingTermsMeanCertainty) {
  int underflowing = 0;
  for (double p : {0.35, 0.5}) {
    ASSERT_FALSE(BinomialTermsInLogSpace(1000, p));
    for (int k = 1; k <= 10; k++) {
      if (literal::Q2(k, 1000, p) != 0) continue;
      underflowing++;
      for (int N : {500, 1000, 1500, 35000}) EXPECT_EQ(P_scan_ge_K_in_W_N(k, 1000, N, p), 1.0);
      // Where the exponent is not 0 the bare arithmetic gives 0.
      EXPECT_EQ(literal::P_scan_ge_K_in_W_N(k, 1000, 35000, p), 0.0);
    }
  }
  EXPECT_GT(underflowing, 0);
  ASSERT_GT(literal::Q2(1, 400, 0.5), 0);
  ASSERT_EQ(literal::Q3(1, 400, 0.5), 0);
  EXPECT_EQ(literal::P_scan_ge_K_in_W_N(1, 400, 400, 0.5), 0.0);
  EXPECT_EQ(P_scan_ge_K_in_W_N(1, 400, 400, 0.5), 1.0);
  EXPECT_EQ(P_scan_ge_K_in_W_N(1, 400, 200, 0.5), 1.0);
  EXPECT_EQ(P_scan_ge_K_in_W_N(1, 400, 800, 0.5), literal::P_scan_ge_K_in_W_N(1, 400, 800, 0.5));
}

TEST(Scan, NeverANaNOutsideTheDomain) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  for (double p : {0.0, 1e-300, 0.36532, 0.5, 1 - 1e-16, 1.0, nan}) {
    for (int w : {-3, 0, 1, 2, 3, 40}) {
      for (int k : {-5, 0, 1, 3, 39, 40, 41, 1000, 100000}) {
        for (int N : {-1, 0, 1, 39, 100, INT_MAX}) {
          const double r = P_scan_ge_K_in_W_N(k, w, N, p);
          EXPECT_FALSE(std::isnan(r)) << Args(k, w, N, p);
          EXPECT_GE(r, 0.0) << Args(k, w, N, p);
          if (!std::isnan(p)) {
            EXPECT_LE(r, 1.0) << Args(k, w, N, p);
          }
        }
      }
    }
  }
  EXPECT_EQ(P_scan_ge_K_in_W_N(1, 0, 10, 0.5), 0.0);
  EXPECT_EQ(P_scan_ge_K_in_W_N(2, 1, 10, 0.5), 0.0);
}

// Long windows: (1 - p)^w is 0 in double precision, and the bare arithmetic
// would give q2 = 0 for every k. The tables then come from log-space terms.
void CheckLongWindow(int w, int N, double p, int k_step) {
  double previous = 1.0;
  for (int k = 0; k <= w + 2; k += k_step) {
    const double r = P_scan_ge_K_in_W_N(k, w, N, p);
    ASSERT_GE(r, 0.0) << Args(k, w, N, p);
    EXPECT_LE(r, previous) << Args(k, w, N, p);
    previous = r;
    if (k == 0) continue;
    const double expected = (double)wide::ScanPValue(k, w, N, p);
    // In double precision the formula loses accuracy by itself: 1 - g loses
    // relative precision as the p-value shrinks, and for N <= w the quotient
    // q2 * q2 / q3 amplifies the rounding of q3 (by up to 4e-11 for w = 1600,
    // where the exact recurrence still applies).
    EXPECT_NEAR(r, expected, N <= w ? 1e-10 : 1e-12) << Args(k, w, N, p);
    if (N > w && expected > 1e-3) {
      EXPECT_NEAR(r / expected, 1.0, 1e-9) << Args(k, w, N, p);
    }
  }
}

// Where (1 - p)^w is exactly 0 the bare arithmetic gives 0 for every count:
// every window would be significant.
TEST(Scan, LongWindowsAgreeWithExtendedPrecision) {
  ASSERT_TRUE(BinomialTermsInLogSpace(2000, 0.35));
  CheckLongWindow(2000, 35000, 0.35, 1);
  CheckLongWindow(2000, 35000, 0.5, 3);
  CheckLongWindow(2000, 2000, 0.35, 7);
  // Windows whose tables straddle the edge of the normal range.
  CheckLongWindow(1646, 5000, 0.35, 5);
  CheckLongWindow(1024, 3000, 0.5, 5);
  EXPECT_NEAR(P_scan_ge_K_in_W_N(760, 2000, 35000, 0.35), 0.3246, 1e-4);
  EXPECT_NEAR(P_scan_ge_K_in_W_N(170, 170, 400, 0.99), 0.6941, 1e-4);
  EXPECT_EQ(literal::P_scan_ge_K_in_W_N(170, 170, 400, 0.99), 0.0);
}

}  // namespace
