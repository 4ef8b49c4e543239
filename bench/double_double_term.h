// The binomial term at the mode in double-double (double_double_term.cpp).
#pragma once

namespace bench {

// b(k; n, p) correctly rounded, the same bits on every processor, for
// 0 < p < 1 and k within a few units of the mode np; decided, when given, is
// false in the rare case (about 2^-40) that the error bound left the rounding
// open, and the result is then the nearest double to the double-double value.
double DoubleDoubleModeTerm(int k, int n, double p, bool* decided = nullptr);

}  // namespace bench
