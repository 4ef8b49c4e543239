// The page's correctly rounded functions (web/math) against MPFR: special
// values, the edges of overflow and underflow, and 10^5 random arguments per
// function over wide ranges and the ranges the analysis uses. The long check
// against MPFR and the C libraries is bench/page_math.sh.
#include <gtest/gtest.h>
#include <mpfr.h>

#include <cmath>
#include <limits>
#include <random>

#include "../../web/math/rounded_math.h"

namespace {

using namespace talvo::page_math;
using Unary = int (*)(mpfr_ptr, mpfr_srcptr, mpfr_rnd_t);
using Binary = int (*)(mpfr_ptr, mpfr_srcptr, mpfr_srcptr, mpfr_rnd_t);

double Correct(Unary unary, Binary binary, double x, double y) {
  mpfr_set_emin(-1073);
  mpfr_set_emax(1024);
  mpfr_t a, b, r;
  mpfr_inits2(53, a, b, r, static_cast<mpfr_ptr>(nullptr));
  mpfr_set_d(a, x, MPFR_RNDN);
  mpfr_set_d(b, y, MPFR_RNDN);
  const int t = unary ? unary(r, a, MPFR_RNDN) : binary(r, a, b, MPFR_RNDN);
  mpfr_subnormalize(r, t, MPFR_RNDN);
  const double result = mpfr_get_d(r, MPFR_RNDN);
  mpfr_clears(a, b, r, static_cast<mpfr_ptr>(nullptr));
  return result;
}

struct Case {
  const char* name;
  double (*unary)(double);
  double (*binary)(double, double);
  Unary mpfr_unary;
  Binary mpfr_binary;
  double low, high;  // random x (and y) from low..high, times 2^-(0..60) for every third
};

const double kInf = std::numeric_limits<double>::infinity();
const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kSpecial[] = {0.0,
                           -0.0,
                           1.0,
                           -1.0,
                           2.0,
                           0.5,
                           kInf,
                           -kInf,
                           kNaN,
                           0x1p-1074,
                           0x1p-1022,
                           -0x1p-1074,
                           709.78,
                           709.79,
                           -745.13,
                           -745.14,
                           -708.4,
                           1e-300,
                           1e300,
                           3.0,
                           -3.0,
                           1e-17,
                           -0x1p-54,
                           0x1p-30,
                           1.5707963267948966,
                           3.141592653589793,
                           1e6,
                           -40.5,
                           0.9999999999999999,
                           1.0000000000000002};

TEST(PageMath, CorrectlyRoundedAgainstMpfr) {
  const Case cases[] = {
      {"exp", Exp, nullptr, mpfr_exp, nullptr, -745.2, 709.8},
      {"log", Log, nullptr, mpfr_log, nullptr, 0, 1e6},
      {"log10", Log10, nullptr, mpfr_log10, nullptr, 0, 1},
      {"log1p", Log1p, nullptr, mpfr_log1p, nullptr, -1, 1},
      {"expm1", Expm1, nullptr, mpfr_expm1, nullptr, -50, 10},
      {"sin", Sin, nullptr, mpfr_sin, nullptr, -7, 7},
      {"cos", Cos, nullptr, mpfr_cos, nullptr, -1e5, 1e5},
      {"pow", nullptr, Pow, nullptr, mpfr_pow, -3, 3},
      {"hypot", nullptr, Hypot, nullptr, mpfr_hypot, -1e3, 1e3},
  };
  std::mt19937_64 generator(24);
  for (const Case& c : cases) {
    std::uniform_real_distribution<double> uniform(c.low, c.high);
    int wrong = 0;
    auto check = [&](double x, double y) {
      const double got = c.unary ? c.unary(x) : c.binary(x, y);
      const double want = Correct(c.mpfr_unary, c.mpfr_binary, x, y);
      const bool same = std::isnan(want) ? std::isnan(got)
                                         : got == want && std::signbit(got) == std::signbit(want);
      if (!same && ++wrong <= 3) ADD_FAILURE() << c.name << "(" << x << ", " << y << ") = " << got;
    };
    for (double x : kSpecial) {
      for (double y : kSpecial) check(x, y);
    }
    const long long undecided = UndecidedRoundings();
    for (int i = 0; i < 100000; i++) {
      const double x = uniform(generator), y = uniform(generator);
      const int scale = i % 3 ? 0 : -static_cast<int>(generator() % 61);
      // Integer exponents are the analysis's: (1 - p)^n.
      if (c.binary == Pow && i % 2) {
        check(std::fabs(std::ldexp(x, scale)) / 3, std::floor(std::fabs(y) * 10000));
      } else {
        check(std::ldexp(x, scale), std::ldexp(y, scale));
      }
    }
    EXPECT_EQ(wrong, 0) << c.name;
    EXPECT_EQ(UndecidedRoundings(), undecided) << c.name;  // about 2^-45 per argument
  }
}

}  // namespace
