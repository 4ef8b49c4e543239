// The C library's names for the page's correctly rounded functions. Linked
// only into the WebAssembly module, where these definitions take the place of
// the C library's: the analysis in src/ calls sin, cos and hypot as it does
// natively, and the native build keeps the system's C library.
//
// Only sin, cos and hypot: there the WebAssembly C library's results differ
// from the native one's in 3% and 14% of the arguments the analysis uses, the
// correctly rounded ones in 0.1% and 0.7%. exp, log, pow and expm1 stay the
// WebAssembly C library's, which gives the native C library's results
// exactly where that runs without fused multiply-adds, and with them differs
// less often than the correctly rounded results do; log1p and log10 too
// (docs/accuracy.md, bench/page_math.sh).
#include "rounded_math.h"

using namespace talvo::page_math;

extern "C" {

double sin(double x) {
  return Sin(x);
}
double cos(double x) {
  return Cos(x);
}
double hypot(double x, double y) {
  return Hypot(x, y);
}

}  // extern "C"
