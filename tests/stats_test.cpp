// Binomial probabilities, scan statistic, normal approximation: bit for bit as
// the literal formulas where (1 - p)^n is normal, true probabilities beyond.
#include "stats/stats.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <utility>
#include <vector>

#include "reference/literal.h"
#include "support/support.h"

using namespace talvo::internal;

namespace {

const double kProbabilities[] = {0, 0.05, 0.25, 0.36532, 0.5, 0.75, 0.9, 1};
using Term = double (*)(int k, int w, double p);

void ExpectSame(double actual, double expected) {
  EXPECT_TRUE(SameBits(actual, expected)) << actual << " != " << expected;
}

// Relative agreement with an extended-precision value that is a normal double.
void ExpectClose(double actual, long double expected, double tolerance) {
  EXPECT_TRUE(expected < 1e-290L || std::fabs(actual / expected - 1) < tolerance)
      << actual << " != " << static_cast<double>(expected);
}

// Beyond the literal grids: counts outside 0..n, caps, the closed formula, the
// scan terms' domain, the integrators (trapzd refines its last estimate), and
// the normal approximation, judged invalid below a variance of 5 (silently:
// the library prints nothing).
TEST(Stats, EdgeValues) {
  double (*square)(double) = [](double x) { return x * x; };
  int valid[] = {-1, -1, -1, -1, -1, -1};
  double s = -1;
  testing::internal::CaptureStderr();
  const double cases[][2] = {
      {ApproxBinomial_P_LessThan_K(3, 10, 0.35, valid[0]), 0.5},
      {ApproxBinomial_P_GreaterThan_K(10, 20, 0.5, valid[1]), 0.58846836312087059},
      {ApproxBinomial_P_LessThan_K(10, 20, 0.5, valid[2]), 0.58846836312093953},
      {ApproxBinomial_P_GreaterThan_K(120, 300, 0.35, valid[3]), 0.03961598513639996},
      {ApproxBinomial_P_LessThan_K(700, 2000, 0.36532, valid[4]), 0.080811649610395039},
      {ApproxBinomial_P_GreaterThan_K(5, 50, 0.0, valid[5]), -std::nan("")},
      {Binomial_P_GreaterThan_K(0, 1000, 0.35), 1.0000000000000167},
      {Binomial_P_LessThan_K(301, 300, 0.5), 0.9999999999999983},
      {Binomial_P_LessThan_K(2001, 2000, 0.35), 1.0},
      {Binomial_P_GreaterThan_K(-5, 10, 0.3), 0.99999999999999956},
      {Binomial_P_LessThan_K(-5, 10, 0.3), BPR(-1, 10, 0.3)},
      {Binomial_P_GreaterThan_K(0, -1, 0.3), Fb(-1, 10, 0.3)},
      {Fb(1000000, 10, 0.3), Fb(10, 10, 0.3)},
      {factorial(171), INFINITY},
      {n_Choose_k(3, 7) * factorial(-3), 35.0},
      {n_Choose_k(6, 5), 0.0},
      {n_Choose_k(-1, 5), 1.0},
      {BinomialProb(2, 5, 0.5), 0.3125},
      {BinomialProb(3, 3, 1.0), 1.0},
      {P_scan_ge_K_in_W_N(2, 0, 10, 0.5), 0.0},
      {Q2(-1, 5, 0.5), A3(3, 0, 0.5)},
      {NormalDensity(2), 0.053990966513188063},
      {trapzd(square, 0, 1, 1, s), 0.5},
      {trapzd(square, 0, 1, 2, s), 0.375},
      {trapzd(square, 0, 1, 3, s), 0.34375},
      {qsimp(square, 0, 3), 9.0},
      {qsimp([](double) { return 0.0; }, -1, 1), 0.0}};
  for (const auto& [actual, expected] : cases) ExpectSame(actual, expected);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(std::vector<int>(valid, valid + 6), std::vector<int>({0, 1, 1, 1, 1, 0}));
  EXPECT_NEAR(P_scan_ge_K_in_W_N(760, 2000, 35000, 0.35), 0.3246, 1e-4);  // from log space
  EXPECT_NEAR(P_scan_ge_K_in_W_N(170, 170, 400, 0.99), 0.6941, 1e-4);
}

// Term by term against the literal recurrence up to the last n whose start is
// normal at p = 0.35; the term table for any range; in log space the terms and
// tails against extended precision, Fb as the ascending sum of the terms.
TEST(Binomial, MatchesLiteral) {
  auto compare = [](int k, int n, double p) {
    SCOPED_TRACE(testing::Message() << "k=" << k << " n=" << n << " p=" << p);
    ExpectSame(BPR(k, n, p), literal::BPR(k, n, p));
    ExpectSame(Fb(k, n, p), literal::Fb(k, n, p));
    ExpectSame(Binomial_P_LessThan_K(k, n, p), literal::Binomial_P_LessThan_K(k, n, p));
    ExpectSame(Binomial_P_GreaterThan_K(k, n, p), literal::Binomial_P_GreaterThan_K(k, n, p));
  };
  for (double p : kProbabilities) {
    for (int n = 0; n <= 45; n++) {
      for (int k = 0; k <= n + 3 && !BinomialTermsInLogSpace(n, p); k++) compare(k, n, p);
    }
  }
  for (int n : {577, 1644}) {
    for (int k : {0, 1, n / 5, n / 3, n * 7 / 20, n / 2, n - 1, n}) compare(k, n, 0.35);
  }
  EXPECT_TRUE(BinomialTermsInLogSpace(1645, 0.35) && BinomialTermsInLogSpace(1, 1) &&
              !BinomialTermsInLogSpace(1644, 0.35) && !BinomialTermsInLogSpace(0, 1));
  for (double p : {0.05, 0.35, 0.5, 0.99, 1.0}) {
    for (int n : {1, 7, 300, 1644, 1645, 1729, 1730, 3000, 4000}) {
      SCOPED_TRACE(testing::Message() << "n=" << n << " p=" << p);
      std::vector<double> terms(n + 4), middle(5), sums(n + 1);
      BinomialTerms(n, p, 0, n + 3, terms.data());
      BinomialTerms(n, p, n / 2, n / 2 + 4, middle.data());
      for (int i = 0; i <= n + 3; i += 1 + i % 5) ExpectSame(terms[i], BPR(i, n, p));
      for (int i = 0; i < 5; i++) ExpectSame(middle[i], terms[n / 2 + i]);
      if (p == 1) {
        EXPECT_TRUE(Fb(n - 1, n, p) == 0 && Binomial_P_GreaterThan_K(0, n, p) == 1);
        EXPECT_TRUE(Binomial_P_LessThan_K(n, n, p) == 0 && Binomial_P_LessThan_K(n + 1, n, p) == 1);
        continue;
      }
      const std::vector<long double> wide = literal::WideTerms(n, p);
      std::vector<long double> above(n + 2, 0.0L);  // each tail summed from its small end
      for (int i = n; i >= 0; i--) above[i] = above[i + 1] + wide[i];
      long double below = 0;
      for (int i = 0; i <= n; below += wide[i], i++) {
        sums[i] = (i > 0 ? sums[i - 1] : 0.0) + terms[i];
        if (BinomialTermsInLogSpace(n, p)) ExpectSame(Fb(i, n, p), sums[i]);
        ExpectClose(terms[i], wide[i], 1e-11);
        const double upper = Binomial_P_GreaterThan_K(i, n, p);
        const double lower = Binomial_P_LessThan_K(i, n, p);
        ExpectClose(upper, above[i], 1e-9);
        ExpectClose(lower, lower < 1 ? below : 0, 1e-9);
        EXPECT_LE(upper, n >= 1645 ? 1.0 : 1.0000000000001);
      }
    }
  }
}

// Upper tails of many p at once (discovery's overall tests) as each alone:
// lanes of every p, k below 0 and past n, log space, long proteins whose
// terms pass through the subnormal range. Against the literal sum where it
// is short, beyond against the single tail, itself checked above.
TEST(Binomial, UpperTailsAtOnceAsEachAlone) {
  std::mt19937 rng(7);
  for (int n : {0, 1, 6, 45, 577, 1644, 1645, 6000, 30000}) {
    for (int count : {1, 8, 19}) {
      std::vector<int> k(count);
      std::vector<double> p(count), out(count);
      for (int j = 0; j < count; j++) {
        p[j] = rng() % 3 ? kProbabilities[rng() % 8]
                         : std::ldexp(rng() % 1000 + 1, -10 - static_cast<int>(rng() % 8));
        const double spread =
            std::sqrt(n * p[j] * (1 - p[j]) + 1) * (static_cast<int>(rng() % 12) - 3);
        k[j] =
            rng() % 5 ? static_cast<int>(n * p[j] + spread) : static_cast<int>(rng() % (n + 5)) - 2;
      }
      BinomialUpperTails(n, count, k.data(), p.data(), out.data());
      for (int j = 0; j < count; j++) {
        SCOPED_TRACE(testing::Message() << "k=" << k[j] << " n=" << n << " p=" << p[j]);
        // Every count is at least a negative one.
        const bool literal = n <= 577 && !BinomialTermsInLogSpace(n, p[j]);
        ExpectSame(out[j], literal ? literal::Binomial_P_GreaterThan_K(std::max(k[j], 0), n, p[j])
                                   : Binomial_P_GreaterThan_K(k[j], n, p[j]));
      }
    }
  }
}

// Each term and the p-value for sequence lengths around the window (e = -1,
// 0, 1 and far above); a window of one reaches the alternating series
// F(k - 5; -1), whose NaNs must match too.
TEST(Scan, MatchesLiteral) {
  auto compare = [](int k, int w, double p) {
    SCOPED_TRACE(testing::Message() << "k=" << k << " w=" << w << " p=" << p);
    const std::pair<Term, Term> terms[] = {{Q2, literal::Q2}, {Q3, literal::Q3}, {A1, literal::A1},
                                           {A2, literal::A2}, {A3, literal::A3}, {A4, literal::A4}};
    for (auto [term, literal_term] : terms) {
      if (p < 1) ExpectSame(term(k, w, p), literal_term(k, w, p));
    }
    for (int N : {1, w / 2 + 1, w, w + 1, 2 * w, 2 * w + 1, 5 * w / 2, 7 * w + 3, 35000}) {
      ExpectSame(P_scan_ge_K_in_W_N(k, w, N, p), literal::P_scan_ge_K_in_W_N(k, w, N, p));
    }
  };
  for (double p : kProbabilities) {
    for (int w = 1; w <= 24; w++) {
      for (int k = 0; k <= 26; k++) compare(k, w, p);
    }
    for (int w : {59, 61, 300, 1000}) {
      for (int k : {1, 2, 3, 7, 20, 31, 40, 55}) compare(k, w, p);
    }
  }
  for (int k : {100, 200}) compare(k, 1, 0.99);
}

}  // namespace
