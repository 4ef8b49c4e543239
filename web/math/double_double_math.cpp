// Method: reduce the argument exactly (or to far below the final error), then
// evaluate a table value and a short Taylor series in double-double; the low
// terms of each series, whose weight is below 2^-60 of the result, in plain
// doubles. Callers carry an error bound (a few units of 2^-104 relative per
// double-double operation, rounded up generously), and RoundScaled rounds to
// a double only when every value within that bound rounds the same way.
//
// The tables (2^(j/64), log(1/r) for short r, 1/k! and 1/k) are computed once,
// from series, in double-double; only the constants that the reductions need
// to more than 106 bits are written out.
#include "double_double_math.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace talvo::page_math {
namespace {

using DD = DoubleDouble;

constexpr double kInfinity = std::numeric_limits<double>::infinity();

// log 2 to 159 bits, and log(2) / 64 with a 37-bit leading part, so that
// n times it is exact for |n| < 2^16.
constexpr double kLog2[3] = {0x1.62e42fefa39efp-1, 0x1.abc9e3b39803fp-56, 0x1.7b57a079a1934p-111};
constexpr double kLog2By64[3] = {0x1.62e42fefap-7, 0x1.cf79abc9e3b3ap-46, -0x1.ff0342542fc33p-100};

bool HasEvenSignificand(double x) {
  uint64_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  return (bits & 1) == 0;
}

// e^x for |x| < 1, by its Taylor series; only for the tables.
DD SeriesExp(DD x) {
  DD sum = {1.0, 0.0}, term = {1.0, 0.0};
  for (int k = 1; k < 40; k++) {
    term = Divide(Multiply(term, x), {static_cast<double>(k), 0.0});
    sum = Add(sum, term);
  }
  return sum;
}

// log(x) for x in [1/2, 2], as 2 atanh((x - 1) / (x + 1)); only for the tables.
DD SeriesLog(DD x) {
  const DD s = Divide(Add(x, -1.0), Add(x, 1.0));
  const DD s2 = Multiply(s, s);
  DD power = s, sum = s;
  for (int k = 1; k < 40; k++) {
    power = Multiply(power, s2);
    sum = Add(sum, Divide(power, {2.0 * k + 1, 0.0}));
  }
  return {2 * sum.hi, 2 * sum.lo};
}

struct Tables {
  DD exp2_fraction[64];     // 2^(j/64)
  double log_inverse[128];  // r_i, about 1 / (1 + (i + 1/2) / 128), 9 bits
  DD log_entry[128];        // -log(r_i), less log 2 where 1 + i/128 >= sqrt(2)
  bool log_folded[128];
  DD inverse_factorial[kSeriesTerms];  // 1/k!
  DD inverse[kSeriesTerms];            // 1/k

  Tables() {
    const DD log2 = {kLog2[0], kLog2[1]};
    for (int j = 0; j < 64; j++) exp2_fraction[j] = SeriesExp(Multiply(log2, j / 64.0));
    for (int i = 0; i < 128; i++) {
      const double center = 1 + (i + 0.5) / 128;
      double r = std::ldexp(std::nearbyint(std::ldexp(1 / center, 9)), -9);
      if (i == 0) r = 1.0;    // exact near 1 from above
      if (i == 127) r = 0.5;  // and from below
      log_inverse[i] = r;
      log_folded[i] = 1 + i / 128.0 >= 1.4140625;
      DD entry = Negate(SeriesLog({r, 0.0}));
      if (log_folded[i]) entry = Add(entry, Negate(log2));
      log_entry[i] = entry;
    }
    DD factorial = {1.0, 0.0};
    for (int k = 0; k < kSeriesTerms; k++) {
      if (k > 0) factorial = Multiply(factorial, static_cast<double>(k));
      inverse_factorial[k] = Divide({1.0, 0.0}, factorial);
      inverse[k] = k == 0 ? DD{0.0, 0.0} : Divide({1.0, 0.0}, {static_cast<double>(k), 0.0});
    }
  }
};

// Built on first use; the construction is thread-safe.
const Tables& Table() {
  static const Tables tables;
  return tables;
}

}  // namespace

const DD* InverseFactorials() {
  return Table().inverse_factorial;
}

const DD* Inverses() {
  return Table().inverse;
}

double RoundScaled(DD v, int scale, double error, bool& decided) {
  v = TwoSum(v.hi, v.lo);
  decided = true;
  const double h = v.hi, l = v.lo;
  if (h == 0) return 0.0;
  if (std::ilogb(h) + scale >= -1021) {
    // The neighbour on l's side, and half the gap to it.
    const double next = std::nextafter(h, l >= 0 ? kInfinity : -kInfinity);
    const double half = std::fabs(next - h) * 0.5, offset = std::fabs(l);
    if (offset + error < half) return std::ldexp(h, scale);
    if (offset - error > half) return std::ldexp(next, scale);
    decided = offset == half && error == 0;  // an exact tie: to the even one
    if (decided) return std::ldexp(HasEvenSignificand(h) ? h : next, scale);
    return std::ldexp(offset < half ? h : next, scale);
  }
  // Below 2^-1021 the doubles are the multiples of 2^-1074: round on that grid.
  const int to_grid = scale + 1074;
  const double a = std::ldexp(h, to_grid), n = std::nearbyint(a);
  const double fraction = (a - n) + std::ldexp(l, to_grid);
  const double grid_error = std::ldexp(error, to_grid) + 0x1p-50;  // and the sum's rounding
  const double away = n + (fraction > 0 ? 1 : -1);
  double m = std::fabs(fraction) <= 0.5 ? n : away;
  if (std::fabs(fraction) + grid_error < 0.5) {
    m = n;
  } else if (std::fabs(fraction) - grid_error > 0.5) {
    m = away;
  } else {
    decided = false;
  }
  return std::ldexp(m, -1074);
}

DD Polynomial(const DD* c, int count, int split, DD u) {
  double tail = c[count - 1].hi;
  for (int k = count - 2; k >= split; k--) tail = tail * u.hi + c[k].hi;
  DD sum = {tail, 0.0};
  for (int k = split - 1; k >= 0; k--) sum = Add(Multiply(sum, u), c[k]);
  return sum;
}

DD Log2Times(double n) {
  DD sum = TwoProduct(n, kLog2[0]);
  sum = Add(sum, TwoProduct(n, kLog2[1]));
  return Add(sum, n * kLog2[2]);
}

Scaled ExpKernel(DD x) {
  const Tables& t = Table();
  const double n = std::nearbyint(x.hi * (64 / kLog2[0]));
  DD r = TwoSum(x.hi - n * kLog2By64[0], x.lo);
  r = Add(r, Negate(TwoProduct(n, kLog2By64[1])));
  r = Add(r, -n * kLog2By64[2]);
  // |r| <= log(2) / 128: 1/k! r^k < 2^-118 from k = 12.
  const DD series = Polynomial(t.inverse_factorial, 13, 8, r);
  const int ni = static_cast<int>(n);
  return {Multiply(t.exp2_fraction[ni & 63], series), ni >> 6};
}

// The series' coefficients alternate: z^k / k < 2^-108 |z| from k = 17.
DD Log1pSeries(DD z) {
  DD c[17];
  const Tables& t = Table();
  for (int k = 0; k < 17; k++) c[k] = k % 2 ? Negate(t.inverse[k + 1]) : t.inverse[k + 1];
  return Multiply(Polynomial(c, 17, 8, z), z);
}

DD LogKernel(DD a, double& error) {
  const Tables& t = Table();
  int e;
  double m = std::frexp(a.hi, &e);
  m *= 2;
  e -= 1;
  const double l = std::ldexp(a.lo, -e);
  const int i = static_cast<int>((m - 1) * 128);
  const double r = t.log_inverse[i];
  // m r has at most 62 bits: exact as a double-double, and close to 1.
  const DD product = TwoProduct(m, r);
  DD z = TwoSum(product.hi - 1, product.lo);
  z = Add(z, TwoProduct(l, r));
  const DD series = Log1pSeries(z);
  const DD scale = Log2Times(e + (t.log_folded[i] ? 1 : 0));
  const DD sum = Add(Add(scale, t.log_entry[i]), series);
  error = 0x1p-100 * (std::fabs(scale.hi) + std::fabs(t.log_entry[i].hi) + std::fabs(series.hi));
  return sum;
}

}  // namespace talvo::page_math
