// The fractional scan p-value against exact values; window detection with it.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <climits>
#include <cmath>
#include <string>
#include <tuple>
#include <vector>

#include "alphabet/alphabet.h"
#include "detect/detect.h"
#include "reference/literal.h"
#include "stats/stats.h"
#include "support/support.h"

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

// The same for the accurate p-values, whole windows included.
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
    }
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

TEST(Fractional, WindowDetectionTakesEitherPValue) {
  const double saved = P_special;
  P_special = 0.36532;
  const char* s = "0000111101110000000";  // 7 of 8 only at 5..12
  FragmentList implicit, whole, fractional;
  SlideWindowP(s, 19, 8, 0.035, implicit);
  SlideWindowP(s, 19, 8, 0.035, whole, P_scan_ge_K_in_W_N);
  SlideWindowP(s, 19, 8, 0.035, fractional, P_scan_ge_K_in_W_N_fractional);
  P_special = saved;
  EXPECT_TRUE(implicit.empty() && whole.empty());  // 0.041 when rounded up, 0.030 not
  ASSERT_EQ(fractional.size(), 1u);
  EXPECT_EQ(fractional[0].start, 5);
  EXPECT_EQ(fractional[0].p_value, P_scan_ge_K_in_W_N_fractional(7, 8, 19, 0.36532));
}

}  // namespace
