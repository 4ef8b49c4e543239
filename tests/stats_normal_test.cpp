// Normal approximation of the binomial tails: documented values, the validity
// flag and its warning, and bit-for-bit agreement with the literal integrator.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>

#include "reference/stats_reference.h"
#include "stats/stats.h"

namespace {

const char kWarning[] = "\nNormal approximation to Binomial distribution is not valid\n";

bool SameBits(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

struct Approximation {
  double value;
  int valid;
  std::string err;
};

Approximation Upper(int k, int n, double p) {
  Approximation a;
  a.valid = -1;
  testing::internal::CaptureStderr();
  a.value = ApproxBinomial_P_GreaterThan_K(k, n, p, a.valid);
  a.err = testing::internal::GetCapturedStderr();
  return a;
}

Approximation Lower(int k, int n, double p) {
  Approximation a;
  a.valid = -1;
  testing::internal::CaptureStderr();
  a.value = ApproxBinomial_P_LessThan_K(k, n, p, a.valid);
  a.err = testing::internal::GetCapturedStderr();
  return a;
}

double Square(double x) {
  return x * x;
}
double Zero(double) {
  return 0.0;
}

TEST(NormalApproximation, Density) {
  EXPECT_EQ(NormalDensity(0), 0.3989422804014327);
  EXPECT_EQ(NormalDensity(1.5), NormalDensity(-1.5));
  EXPECT_EQ(NormalDensity(40), 0.0);
}

TEST(NormalApproximation, SmallVarianceWarnsAndStillComputes) {
  Approximation lower = Lower(3, 10, 0.35);
  EXPECT_EQ(lower.valid, 0);
  EXPECT_EQ(lower.err, kWarning);
  EXPECT_NEAR(lower.value, 0.5, 1e-15);
  Approximation upper = Upper(4, 10, 0.35);
  EXPECT_EQ(upper.valid, 0);
  EXPECT_EQ(upper.err, kWarning);
  EXPECT_NEAR(upper.value, 0.5, 1e-15);
}

TEST(NormalApproximation, VarianceOfExactlyFiveIsValid) {
  Approximation upper = Upper(10, 20, 0.5);
  Approximation lower = Lower(10, 20, 0.5);
  EXPECT_EQ(upper.valid, 1);
  EXPECT_EQ(lower.valid, 1);
  EXPECT_EQ(upper.err, "");
  EXPECT_EQ(lower.err, "");
  EXPECT_NEAR(upper.value, 0.5884684, 1e-7);
  EXPECT_NEAR(lower.value, 0.5884684, 1e-7);
}

TEST(NormalApproximation, DocumentedUpperTail) {
  Approximation upper = Upper(120, 300, 0.35);
  EXPECT_EQ(upper.valid, 1);
  EXPECT_NEAR(upper.value, 0.0396160, 1e-7);
}

// A variance of 0 leaves no standard unit: the result is a NaN, flagged as
// not valid, and the warning is written.
TEST(NormalApproximation, ZeroVariance) {
  for (double p : {0.0, 1.0}) {
    Approximation upper = Upper(5, 50, p);
    EXPECT_TRUE(std::isnan(upper.value));
    EXPECT_EQ(upper.valid, 0);
    EXPECT_EQ(upper.err, kWarning);
    Approximation lower = Lower(5, 50, p);
    EXPECT_TRUE(std::isnan(lower.value));
    EXPECT_EQ(lower.valid, 0);
  }
  EXPECT_TRUE(std::isnan(Upper(0, 0, 0.4).value));
}

TEST(NormalApproximation, MatchesLiteral) {
  const int cases[][2] = {{3, 10}, {10, 20}, {120, 300}, {0, 1}, {700, 2000}, {12000, 35000}};
  for (double p : {0.05, 0.35, 0.36532, 0.5, 0.9}) {
    for (const auto& c : cases) {
      for (int shift : {-7, 0, 3}) {
        int k = c[0] + shift;
        int n = c[1];
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

TEST(NormalApproximation, TrapezoidRefinementsMatchLiteral) {
  for (int n = 1; n <= 12; n++) {
    EXPECT_TRUE(SameBits(trapzd(NormalDensity, -1.25, 3.5, n),
                         literal::trapzd(NormalDensity, -1.25, 3.5, n)))
        << n;
  }
  EXPECT_EQ(trapzd(Square, 0, 1, 1), 0.5);
  EXPECT_EQ(trapzd(Square, 0, 1, 2), 0.375);
}

TEST(NormalApproximation, SimpsonStopsOnAgreementOrZeros) {
  EXPECT_NEAR(qsimp(Square, 0, 3), 9.0, 1e-14);
  EXPECT_EQ(qsimp(Zero, -1, 1), 0.0);
  EXPECT_TRUE(SameBits(qsimp(NormalDensity, -2, 0.5), literal::qsimp(NormalDensity, -2, 0.5)));
}

}  // namespace
