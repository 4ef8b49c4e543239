// Correctly rounded exp, log, log10, log1p, expm1, pow, sin, cos and hypot,
// built on the double-double kernels of double_double_math.cpp (exp, log and
// the rounding test; see there for the method). Each result carries an error
// bound, and is rounded to a double only when every value within that bound
// rounds the same way. Elsewhere the nearest double to the double-double value
// is returned and the call is counted: for a bound of about 2^-98 that happens
// with a probability near 2^-45 per argument, and never on the arguments
// checked (bench/page_math.sh).
//
// sin and cos reduce by pi / 2 and then by a table of sin and cos of j/32,
// computed once from series.
#include "rounded_math.h"

#include <cmath>
#include <limits>
#include <utility>

#include "double_double_math.h"

namespace talvo::page_math {
namespace {

using DD = DoubleDouble;

constexpr double kInfinity = std::numeric_limits<double>::infinity();

constexpr DD kInverseLog10 = {0x1.bcb7b1526e50ep-2, 0x1.95355baaafad3p-57};
// pi / 2 in chunks of at most 30 bits: n times a chunk is exact for |n| < 2^23.
constexpr double kHalfPi[7] = {0x1.921fb54p+0,   0x1.10b46118p-30, 0x1.313198ap-61,
                               0x1.701b8398p-92, 0x1.129024ep-123, 0x1.114cf988p-156,
                               0x1.a0105dfp-186};
constexpr double kTwoOverPi = 0x1.45f306dc9c883p-1;
constexpr double kLargestTrigArgument = 0x1p20;

long long undecided_roundings = 0;

// sin and cos of j/32, from their Taylor series.
struct TrigTables {
  DD sin_entry[27], cos_entry[27];

  TrigTables() {
    for (int j = 0; j < 27; j++) {
      const DD a = {j / 32.0, 0.0};
      DD sin_sum = {0.0, 0.0}, cos_sum = {0.0, 0.0}, term = {1.0, 0.0};
      for (int k = 0; k < 40; k++) {
        if (k > 0) term = Divide(Multiply(term, a), {static_cast<double>(k), 0.0});
        const DD signed_term = (k / 2) % 2 ? Negate(term) : term;
        if (k % 2) {
          sin_sum = Add(sin_sum, signed_term);
        } else {
          cos_sum = Add(cos_sum, signed_term);
        }
      }
      sin_entry[j] = sin_sum;
      cos_entry[j] = cos_sum;
    }
  }
};

const TrigTables& Trig() {
  static const TrigTables tables;
  return tables;
}

double Rounded(DD v, int scale, double error) {
  bool decided;
  const double result = RoundScaled(v, scale, error, decided);
  if (!decided) undecided_roundings++;
  return result;
}

bool IsOddInteger(double y) {
  return std::fabs(y) < 0x1p53 && std::fmod(y, 2.0) != 0 && std::trunc(y) == y;
}

bool IsInteger(double y) {
  return std::trunc(y) == y;
}

// v scaled into [1, 2), its exponent added to exponent.
void Normalize(DD& v, long long& exponent) {
  const int k = std::ilogb(v.hi);
  v = {std::ldexp(v.hi, -k), std::ldexp(v.lo, -k)};
  exponent += k;
}

// |x|^n for an integer 0 < n < 2^31, by squaring in double-double: exact
// whenever every power on the way has at most 53 significant bits, as the
// powers that are exact or halfway between two doubles do.
double IntegerPower(double x, long long n) {
  DD base = {std::fabs(x), 0.0}, result = {1.0, 0.0};
  long long base_exponent = 0, result_exponent = 0;
  Normalize(base, base_exponent);
  for (; n > 0; n >>= 1) {
    if (n & 1) {
      result = Multiply(result, base);
      result_exponent += base_exponent;
      Normalize(result, result_exponent);
    }
    base = Multiply(base, base);
    base_exponent *= 2;
    Normalize(base, base_exponent);
    if (base_exponent > (1LL << 40) || base_exponent < -(1LL << 40)) break;
  }
  if (result_exponent > 1100 || (n > 0 && base_exponent > 0)) return kInfinity;
  if (result_exponent < -1100 || n > 0) return 0.0;
  bool decided;
  return RoundScaled(result, static_cast<int>(result_exponent), 0.0, decided);
}

double ExpOfProduct(DD p, double relative_error, double sign, double x, double y) {
  if (p.hi > 709.8) return sign * kInfinity;
  if (p.hi < -745.2) return sign * 0.0;
  const Scaled s = ExpKernel(p);
  const double error = std::fabs(s.value.hi) * relative_error;
  bool decided;
  const double result = RoundScaled(s.value, s.exponent, error, decided);
  if (decided) return sign * result;
  // Exact and halfway results occur for integer exponents: powers by squaring.
  if (IsInteger(y) && std::fabs(y) < 0x1p31) {
    if (y > 0) return sign * IntegerPower(x, static_cast<long long>(y));
  }
  undecided_roundings++;
  return sign * result;
}

double SinOrCos(double x, bool cosine) {
  if (!std::isfinite(x)) return x - x;
  if (std::fabs(x) < 0x1p-30) return cosine ? 1.0 : x;
  if (std::fabs(x) > kLargestTrigArgument) return cosine ? std::cos(x) : std::sin(x);
  const TrigTables& t = Trig();
  const DD* inverse_factorial = InverseFactorials();
  const double n = std::nearbyint(x * kTwoOverPi);
  DD r = {x - n * kHalfPi[0], 0.0};
  for (int i = 1; i < 7; i++) r = Add(r, -n * kHalfPi[i]);
  const int quadrant = (static_cast<int>(n) % 4 + 4 + (cosine ? 1 : 0)) % 4;
  // sin x = sin r, cos r, -sin r, -cos r by quadrant (cos x = sin(x + pi/2)).
  const double sign_r = r.hi < 0 ? -1.0 : 1.0;
  const DD abs_r = {std::fabs(r.hi), sign_r * r.lo};
  const int j = static_cast<int>(std::nearbyint(abs_r.hi * 32));
  const DD d = TwoSum(abs_r.hi - j / 32.0, abs_r.lo);
  const DD u = Multiply(d, d);
  DD sin_c[8], cos_c[8];
  for (int k = 0; k < 8; k++) {
    sin_c[k] = k % 2 ? Negate(inverse_factorial[2 * k + 1]) : inverse_factorial[2 * k + 1];
    cos_c[k] = k % 2 ? Negate(inverse_factorial[2 * k]) : inverse_factorial[2 * k];
  }
  const DD sin_d = Multiply(Polynomial(sin_c, 8, 4, u), d);
  const DD cos_d = Polynomial(cos_c, 8, 4, u);
  const DD sj = t.sin_entry[j], cj = t.cos_entry[j];
  const bool want_sin_r = quadrant % 2 == 0;
  DD a, b;
  if (want_sin_r) {  // sin(|r|) = sin a cos d + cos a sin d
    a = Multiply(sj, cos_d);
    b = Multiply(cj, sin_d);
  } else {  // cos(|r|) = cos a cos d - sin a sin d
    a = Multiply(cj, cos_d);
    b = Negate(Multiply(sj, sin_d));
  }
  DD value = Add(a, b);
  if (want_sin_r) value = {sign_r * value.hi, sign_r * value.lo};
  if (quadrant >= 2) value = Negate(value);
  const double error = 0x1p-99 * (std::fabs(a.hi) + std::fabs(b.hi));
  return Rounded(value, 0, error);
}

}  // namespace

double Exp(double x) {
  if (x != x) return x + x;
  if (x > 709.8) return kInfinity;
  if (x < -745.2) return 0.0;
  // 1 + x within half a unit of 1, on the side of 1 (the 2^-109 of x^2 / 2
  // decides x = -2^-54, which double-double cannot hold).
  if (std::fabs(x) <= 0x1p-54) return 1.0;
  const Scaled s = ExpKernel({x, 0.0});
  return Rounded(s.value, s.exponent, 0x1p-98 * std::fabs(s.value.hi));
}

double Log(double x) {
  if (x != x) return x + x;
  if (x < 0) return (x - x) / 0.0;
  if (x == 0) return -kInfinity;
  if (x == kInfinity) return x;
  if (x == 1) return 0.0;
  double error;
  const DD v = LogKernel({x, 0.0}, error);
  return Rounded(v, 0, error);
}

double Log10(double x) {
  if (x != x) return x + x;
  if (x < 0) return (x - x) / 0.0;
  if (x == 0) return -kInfinity;
  if (x == kInfinity) return x;
  if (x == 1) return 0.0;
  double error;
  const DD v = Multiply(LogKernel({x, 0.0}, error), kInverseLog10);
  return Rounded(v, 0, error * 0.5 + 0x1p-102 * std::fabs(v.hi));
}

double Log1p(double x) {
  if (x != x) return x + x;
  if (x < -1) return (x - x) / 0.0;
  if (x == -1) return -kInfinity;
  if (x == kInfinity) return x;
  if (std::fabs(x) < 0x1p-54) return x;
  if (std::fabs(x) < 0x1p-7) {
    const DD v = Log1pSeries({x, 0.0});
    return Rounded(v, 0, 0x1p-100 * std::fabs(v.hi));
  }
  double error;
  const DD v = LogKernel(TwoSum(1.0, x), error);
  return Rounded(v, 0, error);
}

double Expm1(double x) {
  if (x != x) return x + x;
  if (x > 709) return Exp(x);  // the 1 is below 2^-1000 of e^x
  if (x < -40) return -1.0;
  if (std::fabs(x) < 0x1p-54) return x;
  if (std::fabs(x) < 0x1p-4) {
    // x^k / k! < 2^-108 |x| from k = 18.
    const DD v = Multiply(Polynomial(InverseFactorials() + 1, 17, 7, {x, 0.0}), x);
    return Rounded(v, 0, 0x1p-100 * std::fabs(v.hi));
  }
  const Scaled s = ExpKernel({x, 0.0});
  const DD e = {std::ldexp(s.value.hi, s.exponent), std::ldexp(s.value.lo, s.exponent)};
  const DD v = Add(e, -1.0);
  return Rounded(v, 0, 0x1p-98 * std::fabs(e.hi));
}

double Pow(double x, double y) {
  if (y == 0 || x == 1) return 1.0;
  if (x != x || y != y) return x + y;
  const double ax = std::fabs(x);
  if (std::isinf(y)) {
    if (ax == 1) return 1.0;
    return (ax < 1) == (y < 0) ? kInfinity : 0.0;
  }
  const bool odd = IsOddInteger(y);
  if (x == 0 || std::isinf(x)) {
    const bool large = (x == 0) == (y < 0);
    const double magnitude = large ? kInfinity : 0.0;
    return odd && std::signbit(x) ? -magnitude : magnitude;
  }
  double sign = 1.0;
  if (x < 0) {
    if (!IsInteger(y)) return (x - x) / 0.0;
    if (odd) sign = -1.0;
  }
  if (y == 1) return x;
  // One rounding, exact when halfway cases lie beyond double-double's reach.
  if (y == -1) return 1 / x;
  if (y == 2) return x * x;
  if (y == 0.5) return std::sqrt(x);
  double log_error;
  const DD log_x = LogKernel({ax, 0.0}, log_error);
  if (std::fabs(y) > 0x1p900) return ExpOfProduct({log_x.hi * y, 0.0}, 0, sign, ax, y);
  const DD p = Multiply(log_x, y);
  // The logarithm's absolute error, times |y|, is the product's.
  const double relative_error =
      0x1p-98 + std::fabs(y) * log_error * 1.01 + 0x1p-104 * std::fabs(p.hi);
  return ExpOfProduct(p, relative_error, sign, ax, y);
}

double Sin(double x) {
  return SinOrCos(x, false);
}

double Cos(double x) {
  return SinOrCos(x, true);
}

double Hypot(double x, double y) {
  if (std::isinf(x) || std::isinf(y)) return kInfinity;
  if (x != x || y != y) return x + y;
  double a = std::fabs(x), b = std::fabs(y);
  if (a < b) std::swap(a, b);
  if (b == 0 || b < a * 0x1p-28) return a;
  const int e = std::ilogb(a);
  a = std::ldexp(a, -e);
  b = std::ldexp(b, -e);
  const DD sum = Add(TwoProduct(a, a), TwoProduct(b, b));
  const double root = std::sqrt(sum.hi);
  const DD residual = Add(sum, Negate(TwoProduct(root, root)));
  const DD value = QuickTwoSum(root, residual.hi / (2 * root));
  return Rounded(value, e, 0x1p-100 * root);
}

long long UndecidedRoundings() {
  return undecided_roundings;
}

}  // namespace talvo::page_math
