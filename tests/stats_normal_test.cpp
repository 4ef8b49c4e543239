// Normal approximation of the binomial tails: documented values, the validity
// flag and its warning, and bit-for-bit agreement with the literal integrator.
#include <gtest/gtest.h>

#include <cmath>

#include "reference/stats_reference.h"
#include "stats/stats.h"
#include "support/same_bits.h"

namespace {

const char kWarning[] = "\nNormal approximation to Binomial distribution is not valid\n";

// A variance below 5 warns and still computes; exactly 5 is valid. A variance
// of 0 (p = 0, p = 1, n = 0) leaves no standard unit: a NaN, flagged not valid.
TEST(NormalApproximation, DocumentedValuesAndValidity) {
  const struct {
    bool upper;
    int k, n;
    double p, expected, tolerance;
    int valid;
  } cases[] = {{false, 3, 10, 0.35, 0.5, 1e-15, 0},
               {true, 4, 10, 0.35, 0.5, 1e-15, 0},
               {true, 10, 20, 0.5, 0.5884684, 1e-7, 1},
               {false, 10, 20, 0.5, 0.5884684, 1e-7, 1},
               {true, 120, 300, 0.35, 0.0396160, 1e-7, 1},
               {true, 5, 50, 0.0, NAN, 0, 0},
               {false, 5, 50, 0.0, NAN, 0, 0},
               {true, 5, 50, 1.0, NAN, 0, 0},
               {false, 5, 50, 1.0, NAN, 0, 0},
               {true, 0, 0, 0.4, NAN, 0, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message()
                 << (c.upper ? "upper" : "lower") << " k=" << c.k << " n=" << c.n << " p=" << c.p);
    int valid = -1;
    testing::internal::CaptureStderr();
    const double value = c.upper ? ApproxBinomial_P_GreaterThan_K(c.k, c.n, c.p, valid)
                                 : ApproxBinomial_P_LessThan_K(c.k, c.n, c.p, valid);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.valid ? "" : kWarning);
    EXPECT_EQ(valid, c.valid);
    if (std::isnan(c.expected)) {
      EXPECT_TRUE(std::isnan(value));
    } else {
      EXPECT_NEAR(value, c.expected, c.tolerance);
    }
  }
}

TEST(NormalApproximation, MatchesLiteral) {
  const int cases[][2] = {{3, 10}, {10, 20}, {120, 300}, {0, 1}, {700, 2000}, {12000, 35000}};
  for (double p : {0.05, 0.35, 0.36532, 0.5, 0.9}) {
    for (const auto& c : cases) {
      for (int shift : {-7, 0, 3}) {
        const int k = c[0] + shift, n = c[1];
        int valid = -1, literal_valid = -1;
        testing::internal::CaptureStderr();
        double upper = ApproxBinomial_P_GreaterThan_K(k, n, p, valid);
        double literal_upper = literal::ApproxBinomial_P_GreaterThan_K(k, n, p, literal_valid);
        double lower = ApproxBinomial_P_LessThan_K(k, n, p, valid);
        double literal_lower = literal::ApproxBinomial_P_LessThan_K(k, n, p, literal_valid);
        testing::internal::GetCapturedStderr();
        EXPECT_TRUE(SameBits(upper, literal_upper)) << k << " " << n << " " << p;
        EXPECT_TRUE(SameBits(lower, literal_lower)) << k << " " << n << " " << p;
        EXPECT_EQ(valid, literal_valid);
      }
    }
  }
}

// Each trapzd call refines the previous estimate, so the calls run in order.
TEST(NormalApproximation, DensityAndIntegrators) {
  EXPECT_EQ(NormalDensity(0), 0.3989422804014327);
  EXPECT_EQ(NormalDensity(1.5), NormalDensity(-1.5));
  EXPECT_EQ(NormalDensity(40), 0.0);
  for (int n = 1; n <= 12; n++) {
    EXPECT_TRUE(SameBits(trapzd(NormalDensity, -1.25, 3.5, n),
                         literal::trapzd(NormalDensity, -1.25, 3.5, n)))
        << n;
  }
  double (*square)(double) = [](double x) { return x * x; };
  EXPECT_EQ(trapzd(square, 0, 1, 1), 0.5);
  EXPECT_EQ(trapzd(square, 0, 1, 2), 0.375);
  // Simpson stops on agreement, or at once on zeros.
  EXPECT_NEAR(qsimp(square, 0, 3), 9.0, 1e-14);
  EXPECT_EQ(qsimp([](double) { return 0.0; }, -1, 1), 0.0);
  EXPECT_TRUE(SameBits(qsimp(NormalDensity, -2, 0.5), literal::qsimp(NormalDensity, -2, 0.5)));
}

}  // namespace
