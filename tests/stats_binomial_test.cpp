// Exact binomial probabilities: the documented values, bit-for-bit agreement
// with the literal recurrence wherever (1 - p)^n is a normal double, and
// correct probabilities from the log-space terms beyond that.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "reference/stats_reference.h"
#include "stats/stats.h"
#include "support/same_bits.h"

namespace {

std::string Args(int k, int n, double p) {
  return "k=" + std::to_string(k) + " n=" + std::to_string(n) + " p=" + std::to_string(p);
}

double RelativeError(double actual, long double expected) {
  return (double)std::fabs(((long double)actual - expected) / expected);
}

// The point probability, its sum and both tails against the literal ones.
void ExpectMatchesLiteral(int k, int n, double p) {
  EXPECT_SAME_BITS(BPR(k, n, p), literal::BPR(k, n, p)) << Args(k, n, p);
  EXPECT_SAME_BITS(Fb(k, n, p), literal::Fb(k, n, p)) << Args(k, n, p);
  EXPECT_SAME_BITS(Binomial_P_LessThan_K(k, n, p), literal::Binomial_P_LessThan_K(k, n, p))
      << Args(k, n, p);
  EXPECT_SAME_BITS(Binomial_P_GreaterThan_K(k, n, p), literal::Binomial_P_GreaterThan_K(k, n, p))
      << Args(k, n, p);
}

// Documented values, the caps of either tail, p = 0, and counts outside 0..n.
TEST(Binomial, DocumentedValuesAndEdges) {
  const double five_trials[] = {0.03125, 0.15625, 0.3125, 0.3125, 0.15625, 0.03125};
  for (int k = 0; k <= 5; k++) EXPECT_EQ(BPR(k, 5, 0.5), five_trials[k]) << k;
  EXPECT_EQ(Fb(2, 5, 0.5), 0.5);
  EXPECT_EQ(Binomial_P_LessThan_K(3, 5, 0.5), 0.5);
  EXPECT_EQ(Binomial_P_GreaterThan_K(3, 5, 0.5), 0.5);
  EXPECT_EQ(Binomial_P_LessThan_K(5, 5, 0.5), 0.96875);
  EXPECT_EQ(Binomial_P_LessThan_K(6, 5, 0.5), 1.0);
  EXPECT_EQ(Binomial_P_LessThan_K(0, 10, 0.35), 0.0);
  EXPECT_EQ(Binomial_P_GreaterThan_K(0, 1000, 0.35), 1.0000000000000167);
  EXPECT_EQ(Binomial_P_LessThan_K(301, 300, 0.5), 0.9999999999999983);
  EXPECT_EQ(Binomial_P_GreaterThan_K(11, 10, 0.35), 0.0);
  EXPECT_EQ(Binomial_P_LessThan_K(2001, 2000, 0.35), 1.0);
  EXPECT_EQ(BPR(0, 40, 0), 1.0);
  EXPECT_EQ(Binomial_P_GreaterThan_K(0, 40, 0), 1.0);
  EXPECT_EQ(Binomial_P_GreaterThan_K(1, 40, 0), 0.0);
  EXPECT_EQ(Binomial_P_LessThan_K(1, 40, 0), 1.0);
  EXPECT_EQ(BPR(-1, 10, 0.3), 0.0);
  EXPECT_EQ(Fb(-1, 10, 0.3), 0.0);
  EXPECT_EQ(Binomial_P_GreaterThan_K(-5, 10, 0.3), Binomial_P_GreaterThan_K(0, 10, 0.3));
  EXPECT_EQ(Binomial_P_LessThan_K(-5, 10, 0.3), 0.0);
  EXPECT_EQ(Binomial_P_GreaterThan_K(0, -1, 0.3), 0.0);
  // A large n and k cost linear time and no stack.
  EXPECT_GT(Binomial_P_GreaterThan_K(100, 1000000, 0.0001), 0.4);
  EXPECT_EQ(Fb(1000000, 10, 0.3), Fb(10, 10, 0.3));
  EXPECT_TRUE(std::isfinite(Fb(100000, -1, 0.3)));
}

TEST(Binomial, FactorialAndChoose) {
  EXPECT_EQ(factorial(0), 1.0);
  EXPECT_EQ(factorial(-3), 1.0);
  EXPECT_EQ(factorial(5), 120.0);
  EXPECT_EQ(factorial(170), literal::factorial(170));
  EXPECT_EQ(factorial(171), std::numeric_limits<double>::infinity());
  EXPECT_EQ(n_Choose_k(2, 5), 10.0);
  EXPECT_EQ(n_Choose_k(6, 5), 0.0);
  EXPECT_EQ(n_Choose_k(-1, 5), 1.0);
  for (int n = -3; n <= 60; n++) {
    for (int k = -2; k <= n + 2; k++) {
      EXPECT_SAME_BITS(n_Choose_k(k, n), literal::n_Choose_k(k, n)) << Args(k, n, 0);
      for (double p : {0.0, 0.3, 0.5, 1.0}) {
        EXPECT_SAME_BITS(BinomialProb(k, n, p), literal::BinomialProb(k, n, p)) << Args(k, n, p);
      }
    }
  }
}

// Every function against the literal recurrence, term by term, including the
// zeros of either sign past n and the NaNs of p = 1 with no trials; then long
// sequences up to the last n whose start is normal at p = 0.35, where the
// literal tails cost n^2 steps each.
TEST(Binomial, MatchesLiteralWhereTheStartIsNormal) {
  for (double p : kGridProbabilities) {
    for (int n = 0; n <= 80; n++) {
      if (BinomialTermsInLogSpace(n, p)) continue;
      for (int k = 0; k <= n + 4; k++) ExpectMatchesLiteral(k, n, p);
    }
  }
  for (int n : {150, 577, 1000, 1200, 1500, 1600, 1643, 1644}) {
    ASSERT_FALSE(BinomialTermsInLogSpace(n, 0.35)) << n;
    const int mean = (int)(n * 0.35);
    for (int k : {0, 1, mean / 2, mean - 20, mean, mean + 1, mean + 40, 2 * mean, n - 1, n}) {
      ExpectMatchesLiteral(k, n, 0.35);
    }
  }
}

TEST(Binomial, TermTablesEqualPointProbabilities) {
  for (double p : {0.05, 0.35, 0.5, 0.9, 1.0}) {
    for (int n : {0, 1, 7, 300, 1644, 1645, 1729, 1730, 5000}) {
      std::vector<double> terms(n + 6);
      BinomialTerms(n, p, 0, n + 5, terms.data());
      double s = 0;
      for (int i = 0; i <= n + 5; i++) {
        s = s + terms[i];
        if (n >= 300 && i % 97 != 0 && i + 8 <= n) continue;
        EXPECT_SAME_BITS(terms[i], BPR(i, n, p)) << Args(i, n, p);
        // Fb sums the log-space terms in ascending order too.
        if (BinomialTermsInLogSpace(n, p)) {
          EXPECT_SAME_BITS(Fb(i, n, p), s) << Args(i, n, p);
        }
      }
      std::vector<double> middle(5);
      BinomialTerms(n, p, n / 2, n / 2 + 4, middle.data());
      for (int i = 0; i < 5; i++) EXPECT_SAME_BITS(middle[i], terms[n / 2 + i]) << Args(i, n, p);
    }
  }
}

// Log space begins where (1 - p)^n leaves the normal range. There the bare
// recurrence gives 1.3956 and 2.7254 for the first two tails below (a
// subnormal start), and 0 for both tails from n = 1730 on.
TEST(Binomial, LongSequencesGetTrueTails) {
  EXPECT_FALSE(BinomialTermsInLogSpace(1644, 0.35));
  EXPECT_TRUE(BinomialTermsInLogSpace(1645, 0.35));
  EXPECT_FALSE(BinomialTermsInLogSpace(1022, 0.5));
  EXPECT_TRUE(BinomialTermsInLogSpace(1023, 0.5));
  EXPECT_FALSE(BinomialTermsInLogSpace(100000, 0));
  EXPECT_TRUE(BinomialTermsInLogSpace(1, 1));
  EXPECT_FALSE(BinomialTermsInLogSpace(0, 1));
  EXPECT_NEAR(Binomial_P_GreaterThan_K(605, 1729, 0.35), 0.5121, 1e-4);
  EXPECT_NEAR(Binomial_P_GreaterThan_K(0, 1729, 0.35), 1.0, 1e-12);
  EXPECT_GT(Fb(12250, 35000, 0.35), 0.4);
  EXPECT_LT(Fb(12250, 35000, 0.35), 0.6);
}

// n from 1600 to 5000 at p = 0.35, against the recurrence carried out in
// extended precision, whose range holds (1 - p)^n for every such n.
TEST(Binomial, TailsAgreeWithExtendedPrecision) {
  const double p = 0.35;
  for (int n = 1600; n <= 5000; n++) {
    std::vector<long double> t = wide::Terms(n, p);
    // Each tail summed from its small end.
    std::vector<long double> above(n + 2, 0.0L), below(n + 2, 0.0L);
    for (int i = n; i >= 0; i--) above[i] = above[i + 1] + t[i];
    for (int i = 0; i <= n; i++) below[i + 1] = below[i] + t[i];
    const double sd = std::sqrt(n * p * (1 - p));
    std::vector<int> ks = {0, 1, n - 1, n};
    for (int j = -36; j <= 36; j += 6 + n % 5) ks.push_back((int)std::lround(n * p + j * sd));
    for (int k : ks) {
      if (k < 0 || k > n) continue;
      const double upper = Binomial_P_GreaterThan_K(k, n, p);
      const double lower = Binomial_P_LessThan_K(k, n, p);
      // Up to n = 1644 the values are the recurrence's own, and the sum of
      // every term exceeds 1 by a few units in the last place, as for n = 1000.
      if (n >= 1645) {
        EXPECT_LE(upper, 1.0) << Args(k, n, p);
        EXPECT_LE(lower, 1.0) << Args(k, n, p);
      }
      // Below the normal range the tails skip their terms, as they always do.
      if (above[k] > 1e-290L) {
        EXPECT_LT(RelativeError(upper, above[k]), 1e-9) << Args(k, n, p);
      } else {
        EXPECT_LT(upper, 1e-290) << Args(k, n, p);
      }
      if (below[k] > 1e-290L && lower < 0.9999999999999998) {
        EXPECT_LT(RelativeError(lower, below[k]), 1e-9) << Args(k, n, p);
      }
    }
  }
}

TEST(Binomial, LogSpaceTermsAgreeWithExtendedPrecision) {
  for (double p : {0.05, 0.35, 0.5, 0.75, 0.99}) {
    for (int n : {1100, 1645, 1729, 1730, 3000}) {
      if (!BinomialTermsInLogSpace(n, p)) continue;
      std::vector<long double> t = wide::Terms(n, p);
      long double cumulative = 0;
      for (int i = 0; i <= n; i++) {
        cumulative += t[i];
        if (t[i] > 1e-290L) {
          EXPECT_LT(RelativeError(BPR(i, n, p), t[i]), 1e-11) << Args(i, n, p);
        }
        if (cumulative > 1e-290L && i % 7 == 0) {
          EXPECT_LT(RelativeError(Fb(i, n, p), cumulative), 1e-11) << Args(i, n, p);
        }
      }
    }
  }
}

// With every position special the count is n: the bare arithmetic yields 0 for
// both tails (its terms are 0 and NaN).
TEST(Binomial, CertainSuccess) {
  for (int n : {1, 2, 50, 4000}) {
    SCOPED_TRACE(n);
    EXPECT_EQ(BPR(n, n, 1), 1.0);
    EXPECT_EQ(BPR(n - 1, n, 1), 0.0);
    EXPECT_EQ(Fb(n - 1, n, 1), 0.0);
    EXPECT_EQ(Fb(n, n, 1), 1.0);
    EXPECT_EQ(Binomial_P_GreaterThan_K(n, n, 1), 1.0);
    EXPECT_EQ(Binomial_P_GreaterThan_K(0, n, 1), 1.0);
    EXPECT_EQ(Binomial_P_LessThan_K(n, n, 1), 0.0);
    EXPECT_EQ(Binomial_P_LessThan_K(n + 1, n, 1), 1.0);
  }
}

}  // namespace
