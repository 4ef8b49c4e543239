// The binomial term at the mode as src/stats/binomial.cpp computes it, in the
// C library's long double: x87 80-bit on x86-64, 128-bit elsewhere (and
// computed in double precision by the WebAssembly C library); a copy of its
// formula for bench/binomial_mode.cpp.
#pragma once

#include <cmath>

namespace bench {

inline long double LogGammaLong(long double x) {
  int sign = 0;
  return lgammal_r(x, &sign);
}

inline double LongDoubleModeTerm(int k, int n, double p) {
  const long double lp = p;
  const long double log_term = LogGammaLong((long double)n + 1) - LogGammaLong((long double)k + 1) -
                               LogGammaLong((long double)(n - k) + 1) + (long double)k * logl(lp) +
                               (long double)(n - k) * log1pl(-lp);
  return (double)expl(log_term);
}

}  // namespace bench
