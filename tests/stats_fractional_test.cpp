// The fractional scan p-value against exact values; window detection with it.
// Both scan p-values without cancellation against the same formula in exact
// arithmetic and against the rounded ones wherever those keep their digits
// (scan_accuracy compares them with the exact probability too).
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cfloat>
#include <climits>
#include <cmath>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "alphabet/alphabet.h"
#include "detect/detect.h"
#include "reference/exact_formula.h"
#include "reference/literal.h"
#include "stats/stats.h"
#include "support/support.h"

using namespace talvo::internal;

namespace {

std::string Args(int k, int w, int N, double p) {  // "(k, w, N, p)"
  return testing::PrintToString(std::make_tuple(k, w, N, p));
}

// The accuracy reached (README, "How accurate are the p-values"): exact for
// one window and never above the exact value one position later; within 5%
// up to 2w positions and 1.5% from 2w on. Below about 1e-10, 1 - g keeps too
// few digits for a relative comparison.
TEST(Fractional, AgreesWithExactAndRoundingUpIsConservative) {
  for (double p : {0.1, 0.36532, 0.6}) {
    for (int w : {2, 3, 7, 12}) {
      for (int k = 1; k <= w; k += (w > 7 ? 2 : 1)) {
        const std::vector<double> exact = literal::ExactScan(k, w, 60 * w, p);
        for (int N = w; N <= 60 * w; N++) {
          const double fractional = P_scan_ge_K_in_W_N_fractional(k, w, N, p);
          const double whole = P_scan_ge_K_in_W_N(k, w, N, p);
          if (exact[N] < 1e-10) continue;
          const double tolerance = N == w ? 1e-12 : (N < 2 * w ? 0.05 : 0.015);
          EXPECT_NEAR(fractional / exact[N], 1.0, tolerance) << Args(k, w, N, p);
          EXPECT_TRUE(N != w + 1 || fractional <= exact[N] * (1 + 1e-12)) << Args(k, w, N, p);
          // With one window the rounded-up formula falls up to 16% short;
          // past it, only where N / w is whole and both formulas agree.
          if (N == w) continue;
          EXPECT_GE(whole, exact[N] * (1 - 0.002)) << Args(k, w, N, p);
          EXPECT_LE(fractional, whole) << Args(k, w, N, p);
          EXPECT_TRUE(N % w != 0 || SameBits(fractional, whole)) << Args(k, w, N, p);
        }
      }
    }
  }
}

// The fractional p-value and both accurate ones.
TEST(Fractional, SpecialCasesAndHostileArguments) {
  EXPECT_EQ(P_scan_ge_K_in_W_N_fractional(3, 5, 5, 0.5), 0.5);  // one window: the tail
  for (ScanPValueFunction scan :
       {P_scan_ge_K_in_W_N_fractional, P_scan_ge_K_in_W_N_fractional_accurate,
        P_scan_ge_K_in_W_N_accurate}) {
    for (int N : {1, 7, 1000}) {
      EXPECT_EQ(scan(0, 7, N, 0.4), 1.0);
      EXPECT_EQ(scan(3, 0, N, 0.4), 0.0);
      EXPECT_EQ(scan(7, 7, N, 1.0), 1.0);
      EXPECT_EQ(scan(8, 7, N, 1.0), 0.0);
      EXPECT_EQ(scan(2, 7, N, 0.0), 0.0);
      EXPECT_EQ(scan(9, 7, N, 0.4), 0.0);
    }
    EXPECT_EQ(scan(3, 4000, 35001, 0.4), 1.0);  // q2 = 0
    for (double p : {1e-300, 0.35, 1 - 1e-16, -0.5, 2.0, std::nan("")})
      for (int w : {-3, 1, 2, 40, 2000})
        for (int k : {-5, 1, 3, 39, 800, 100000})
          for (int N : {-1, 0, 39, 41, 100, 3000, 35001, INT_MAX}) {
            const double r = scan(k, w, N, p);
            EXPECT_TRUE(r >= 0 && r <= 1) << r << " at " << Args(k, w, N, p);
          }
  }
  // Long windows take log-space terms, shared with the rounded-up p-value.
  for (int k = 600; k <= 900; k += 50)
    EXPECT_TRUE(SameBits(P_scan_ge_K_in_W_N_fractional(k, 2000, 34000, 0.35),
                         P_scan_ge_K_in_W_N(k, 2000, 34000, 0.35)))
        << k;
}

// Accurate to 1e-9 relative down to 1e-300, and 0 only below the smallest
// normal double. A few bits of p keep the exact numbers short; p = 0.75 with
// w = 600 takes log-space terms. Every k; one window, w < N < 2w (with the
// fractional bound), whole multiples and far longer.
TEST(Accurate, MatchesTheFormulaInExactArithmetic) {
  const std::tuple<double, int> cases[] = {{0.36532, 13},  {0x1p-40, 30}, {0.375, 60},
                                           {0x1p-10, 100}, {0.1, 25},     {0.75, 600}};
  for (auto [p, w] : cases) {
    for (int k = 1; k <= w; k += 1 + w / 40) {
      const literal::ExactScanTerms t = literal::ExactTerms(k, w, p);
      if (t.q2 < 1e-300L) continue;  // the value of the rounded q2 = 0 applies
      for (int N : {w, w + 1, w + w / 3, 2 * w - 1, 2 * w, 2 * w + 1, 7 * w + 3, 35000}) {
        const long double e = (long double)N / w - 2;
        long double fractional = N <= w ? t.tail : literal::ExactTermsToPValue(t, e);
        if (N > w && N < 2 * w) fractional = std::min(fractional, t.tail + (N - w) * t.crossing);
        const std::pair<double, long double> values[] = {
            {P_scan_ge_K_in_W_N_accurate(k, w, N, p),
             literal::ExactTermsToPValue(t, std::ceil(e + 2) - 2)},
            {P_scan_ge_K_in_W_N_fractional_accurate(k, w, N, p), fractional}};
        for (auto [actual, formula] : values) {
          const long double exact = std::clamp(formula, 0.0L, 1.0L);
          const bool close = exact < 1e-300L ? actual < 1.1e-300 && (exact < DBL_MIN || actual > 0)
                                             : std::fabs(actual / exact - 1) < 1e-9;
          EXPECT_TRUE(close) << actual << " != " << (double)exact << " at " << Args(k, w, N, p);
        }
      }
    }
  }
}

// Wherever the rounded p-values keep their digits the two agree: their noise
// is a few units of 1e-16 for every one of the N / w windows and w terms.
TEST(Accurate, AgreesWithTheRoundedPValues) {
  std::mt19937_64 random(20261207);
  for (int i = 0; i < 20000; i++) {
    const int w = 1 + (int)(random() % (i % 3 ? 60 : 2500)), k = (int)(random() % (w + 3));
    const int N = i % 4 ? 1 + (int)(random() % 40000) : w + (int)(random() % (2 * w + 1));
    const double u = std::uniform_real_distribution<double>(0, 1)(random);
    const double p = i % 5 ? u : std::exp(-40 * u);
    const double noise = 64 * ((double)N / w + w) * DBL_EPSILON;
    const std::pair<double, double> values[] = {
        {P_scan_ge_K_in_W_N_accurate(k, w, N, p), P_scan_ge_K_in_W_N(k, w, N, p)},
        {P_scan_ge_K_in_W_N_fractional_accurate(k, w, N, p),
         P_scan_ge_K_in_W_N_fractional(k, w, N, p)}};
    for (auto [accurate, rounded] : values) {
      EXPECT_TRUE(accurate >= 0 && accurate <= 1 &&
                  std::fabs(accurate - rounded) <= 1e-9 * rounded + noise)
          << accurate << " != " << rounded << " at " << Args(k, w, N, p);
    }
  }
}

TEST(Fractional, WindowDetectionTakesEitherPValue) {
  const char* s = "0000111101110000000";  // 7 of 8 only at 5..12
  FragmentList implicit, whole, fractional;
  SlideWindowP(s, 19, 8, 0.035, 0.36532, implicit);
  SlideWindowP(s, 19, 8, 0.035, 0.36532, whole, P_scan_ge_K_in_W_N);
  SlideWindowP(s, 19, 8, 0.035, 0.36532, fractional, P_scan_ge_K_in_W_N_fractional);
  EXPECT_TRUE(implicit.empty() && whole.empty());  // 0.041 when rounded up, 0.030 not
  ASSERT_EQ(fractional.size(), 1u);
  EXPECT_EQ(fractional[0].start, 5);
  EXPECT_EQ(fractional[0].p_value, P_scan_ge_K_in_W_N_fractional(7, 8, 19, 0.36532));
}

}  // namespace
