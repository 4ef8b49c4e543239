// The scan p-values without cancellation against the same formula in exact
// arithmetic and against the rounded p-values wherever those keep their
// digits. (scan_accuracy compares them with the exact scan probability.)
#include <gtest/gtest.h>

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <random>
#include <tuple>

#include "reference/exact_formula.h"
#include "stats/stats.h"

namespace {

std::string Args(int k, int w, int N, double p) {
  return testing::PrintToString(std::make_tuple(k, w, N, p));
}

// Accurate to 1e-9 relative down to 1e-300 and 0 only below the smallest
// normal double, from moderate p-values to 1e-300 and below: a few bits of p
// keep the exact numbers short, and p = 0.75 with w = 600 takes log-space
// terms. Every k, every kind of sequence length: one window, w < N < 2w (with
// the fractional bound), whole multiples, and far longer.
TEST(ScanAccurate, MatchesTheFormulaInExactArithmetic) {
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
TEST(ScanAccurate, AgreesWithTheRoundedPValues) {
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
  // Past the window, and where the chance that no window reaches k is below
  // the smallest double (q2 = 0).
  for (ScanPValueFunction scan :
       {P_scan_ge_K_in_W_N_accurate, P_scan_ge_K_in_W_N_fractional_accurate}) {
    EXPECT_TRUE(scan(9, 7, 20, 0.4) == 0 && scan(3, 4000, 35001, 0.4) == 1);
  }
}

}  // namespace
