// Correctly rounded elementary functions (round to nearest, ties to even) for
// the page's WebAssembly build, whose C library rounds differently from the
// native one in the last bit. Each function evaluates in double-double with
// an error bound and returns the rounded result when that bound decides it
// (Ziv's rounding test); the rare arguments it cannot decide are counted.
// Special values follow C99 Annex F. errno and the floating-point exception
// flags are not set: nothing in the analysis reads them.
#pragma once

namespace talvo::page_math {

double Exp(double x);
double Log(double x);
double Log10(double x);
double Log1p(double x);
double Expm1(double x);
double Pow(double x, double y);
double Sin(double x);
double Cos(double x);
double Hypot(double x, double y);


// Calls whose double-double result lay too close to a rounding boundary to
// decide; their result is the nearest double to the double-double value.
long long UndecidedRoundings();

}  // namespace talvo::page_math
