// e^x and log x in double-double, and the rounding of a double-double with an
// error bound to the nearest double: the kernels of correctly rounded results
// that are the same bits on every processor and in WebAssembly, because they
// use only IEEE-754 additions, products and quotients and exact operations
// (scaling by powers of 2, rounding to integers), never the C library's
// exp or log.
#pragma once

#include "double_double.h"

namespace talvo::page_math {

// value * 2^exponent.
struct Scaled {
  DoubleDouble value;
  int exponent;
};

// e^x as value * 2^exponent, value in [1/2, 4), relative error below 2^-98;
// needs |x| < 2^16 log 2 / 64.
Scaled ExpKernel(DoubleDouble x);

// log(a) for a finite, positive double-double; error receives a bound of its
// absolute error.
DoubleDouble LogKernel(DoubleDouble a, double& error);

// log(1 + z) for |z| < 2^-7, relative error below 2^-100.
DoubleDouble Log1pSeries(DoubleDouble z);

// v * 2^scale rounded to the nearest double (ties to even), given that the
// exact value lies within error (in v's units) of v.hi + v.lo; decided is false
// when a value within the bound would round differently, and the result is
// then the nearest double to v * 2^scale.
double RoundScaled(DoubleDouble v, int scale, double error, bool& decided);

// Horner's scheme for sum_k c[k] u^k, k < count: the terms from split on in
// doubles, the others in double-double.
DoubleDouble Polynomial(const DoubleDouble* c, int count, int split, DoubleDouble u);

// n log 2 to about 2^-150 relative, for an integer n.
DoubleDouble Log2Times(double n);

// 1/k! and 1/k for k = 0..kSeriesTerms - 1 (1/0 is stored as 0).
constexpr int kSeriesTerms = 24;
const DoubleDouble* InverseFactorials();
const DoubleDouble* Inverses();

}  // namespace talvo::page_math
