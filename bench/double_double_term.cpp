// b(k; n, p) near the mode, correctly rounded: a candidate for the term that
// starts the log-space terms of long sequences (src/stats/binomial.cpp), which
// is computed there in long double. Measured against it and MPFR by
// bench/binomial_mode.sh; not part of the program, because it changes the
// last bits of talvo-proteome's exact tails (docs/accuracy.md).
//
// The direct form log n! - log k! - log (n - k)! + k log p +
// (n - k) log(1 - p) cancels terms of up to 5e10 down to a value of about 1,
// which would cost double-double 35 of its 106 bits. Written with Stirling's
// formula log m! = (m + 1/2) log m - m + log(2 pi) / 2 + S(m), the large parts
// cancel exactly, and what remains is a sum of small terms:
//
//   log b = S(n) - S(k) - S(n - k) - D(k, np) - D(n - k, n(1 - p))
//           + log(n / (2 pi k (n - k))) / 2,
//
// with the deviance D(x, m) = x log(x / m) + m - x, which is below 1 near the
// mode. Everything is evaluated in double-double with the page's own
// exp and log (web/math), so the bits are the same on every processor and
// in WebAssembly, and the result is rounded with an error bound: the bound is
// near 2^-95, so a result that the bound cannot decide has a probability of
// about 2^-41 per call.
#include "double_double_term.h"

#include <cmath>

#include "../web/math/double_double_math.h"

namespace bench {

namespace {

using namespace talvo::page_math;

using DD = DoubleDouble;

constexpr DD kTwoPi = {0x1.921fb54442d18p+2, 0x1.1a62633145c07p-52};

// From m = 64 on, S(m) by its asymptotic series, whose error is below its
// first omitted term: B_20 / (20 * 19 m^19) < 2^-113.
constexpr int kStirlingSeriesFrom = 64;
constexpr int kStirlingTerms = 9;

DD Ratio(double a, double b) {
  return Divide({a, 0.0}, {b, 0.0});
}

struct Coefficients {
  DD stirling[kStirlingTerms];  // B_2j / (2j (2j - 1))
  DD odd_inverse[11];           // 1 / (2j + 3)

  Coefficients() {
    const double numerator[kStirlingTerms] = {1, -1, 1, -1, 1, -691, 1, -3617, 43867};
    const double denominator[kStirlingTerms] = {12,     360, 1260,   1680,  1188,
                                                360360, 156, 122400, 244188};
    for (int j = 0; j < kStirlingTerms; j++) stirling[j] = Ratio(numerator[j], denominator[j]);
    for (int j = 0; j < 11; j++) odd_inverse[j] = Inverses()[2 * j + 3];
  }
};

const Coefficients& Coefficient() {
  static const Coefficients coefficients;
  return coefficients;
}

// S(m) - S(m + 1) = (m + 1/2) log(1 + 1/m) - 1 = sum_j u^2j / (2j + 1), with
// u = 1 / (2m + 1): positive terms, no cancellation.
DD StirlingStep(int m) {
  const DD u = Ratio(1, 2.0 * m + 1);
  const DD u2 = Multiply(u, u);
  DD power = u2, sum = {0.0, 0.0};
  for (int j = 1; power.hi > 0x1p-110 * u2.hi; j++) {
    sum = Add(sum, Divide(power, {2.0 * j + 1, 0.0}));
    power = Multiply(power, u2);
  }
  return sum;
}

// S(m) = log m! - (m + 1/2) log m + m - log(2 pi) / 2, for m >= 1. Below the
// series' range (only where p is within about 64 / n of 0 or 1) it is summed
// down from S(64) step by step.
DD StirlingError(int m) {
  const int from = m < kStirlingSeriesFrom ? kStirlingSeriesFrom : m;
  const DD u = Ratio(1, from);
  DD s = Multiply(Polynomial(Coefficient().stirling, kStirlingTerms, 3, Multiply(u, u)), u);
  for (int j = m; j < from; j++) s = Add(s, StirlingStep(j));
  return s;
}

// D(x, m) = x log(x / m) + m - x for x >= 1 and m > 0, adding a bound of its
// absolute error to error. Near the mode, where |x - m| < 1, as the series
// (x - m) v + 2x sum_j v^(2j+1) / (2j + 1) with v = (x - m) / (x + m), which
// keeps its relative precision however small D is; v^22 < 2^-110 for
// |v| < 2^-5. Otherwise x + m < 32 |x - m| and the direct form cancels little.
DD Deviance(double x, DD m, double& error) {
  const DD difference = Add(m, -x);  // m - x
  const DD v = Divide(Negate(difference), Add(m, x));
  if (std::fabs(v.hi) < 0x1p-5) {
    const DD v2 = Multiply(v, v);
    const DD series = Multiply(Polynomial(Coefficient().odd_inverse, 11, 4, v2), v2);
    const DD d = Add(Multiply(Negate(difference), v), Multiply(Multiply(series, v), 2 * x));
    error += 0x1p-98 * std::fabs(d.hi);
    return d;
  }
  double log_error;
  const DD x_log = Multiply(LogKernel(Divide({x, 0.0}, m), log_error), x);
  error += x * log_error + 0x1p-98 * (std::fabs(x_log.hi) + std::fabs(difference.hi));
  return Add(x_log, difference);
}

// e^log_term rounded, given a bound of the absolute error of log_term.
double RoundedExp(DD log_term, double log_error, bool* decided) {
  if (log_term.hi < -700) {  // far from the mode, where no caller goes
    if (decided) *decided = false;
    return 0.0;
  }
  const Scaled e = ExpKernel(log_term);
  const double relative_error = 0x1p-98 + log_error * 1.01;
  bool sure;
  const double result =
      RoundScaled(e.value, e.exponent, relative_error * std::fabs(e.value.hi), sure);
  if (decided) *decided = sure;
  return result;
}

// b(n; n, p) = p^n and b(0; n, p) = (1 - p)^n, as e^(n log base); for n = 1
// the base itself, exactly rounded (1 - p can lie halfway between doubles).
double PowerTerm(DD base, int n, bool* decided) {
  if (n == 1) {
    bool exact;
    if (decided) *decided = true;
    return RoundScaled(base, 0, 0.0, exact);
  }
  double error;
  const DD log_base = LogKernel(base, error);
  const DD log_term = Multiply(log_base, static_cast<double>(n));
  return RoundedExp(log_term, n * error + 0x1p-102 * std::fabs(log_term.hi), decided);
}

}  // namespace

double DoubleDoubleModeTerm(int k, int n, double p, bool* decided) {
  const DD q = TwoSum(1.0, -p);  // 1 - p, exactly
  if (k == n) return PowerTerm({p, 0.0}, n, decided);
  if (k == 0) return PowerTerm(q, n, decided);
  const double x = k, y = static_cast<double>(n - k);
  const DD s_n = StirlingError(n), s_x = StirlingError(k), s_y = StirlingError(n - k);
  double error = 0x1p-98 * (std::fabs(s_n.hi) + std::fabs(s_x.hi) + std::fabs(s_y.hi));
  const DD stirling = Add(s_n, Negate(Add(s_x, s_y)));
  const DD deviance = Add(Deviance(x, TwoProduct(n, p), error), Deviance(y, Multiply(q, n), error));
  // n / (2 pi x y) to a few units of 2^-104, x y exactly.
  double log_error;
  const DD log_ratio = LogKernel(
      Divide({static_cast<double>(n), 0.0}, Multiply(TwoProduct(x, y), kTwoPi)), log_error);
  const DD half_log = {log_ratio.hi * 0.5, log_ratio.lo * 0.5};
  error += (log_error + 0x1p-100) * 0.5 + 0x1p-100 * std::fabs(half_log.hi);
  return RoundedExp(Add(Add(stirling, Negate(deviance)), half_log), error, decided);
}

}  // namespace bench
