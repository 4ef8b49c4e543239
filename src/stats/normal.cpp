// Normal approximation of the binomial tails: the standard normal density
// integrated over 10 standard units by Simpson's rule on successive trapezoid
// refinements.
#include <cmath>

#include "stats/stats.h"

namespace talvo::internal {

namespace {

// The variance n p (1 - p), after the validity check.
double CheckedVariance(int n, double p, int& valid) {
  double mean = (double)n * p;
  double var = (1 - p) * mean;
  valid = var < 5.0 ? 0 : 1;
  return var;
}

}  // namespace

double NormalDensity(double x) {
  return exp(x * (x * -0.5)) * 0.3989422804014327;
}

double trapzd(double (*func)(double), double a, double b, int n, double& s) {
  if (n == 1) {
    s = (func(a) + func(b)) * ((b - a) * 0.5);
    return s;
  }
  int it = 1;
  for (int j = 1; j < n - 1; j++) it = it * 2;
  double d = (b - a) / (double)it;
  // The points advance by repeated addition, which fixes their exact values.
  double x = d * 0.5 + a;
  double sum = 0.0;
  for (int j = 1; j <= it; j++) {
    sum = func(x) + sum;
    x = x + d;
  }
  s = (((b - a) * sum) / (double)it + s) * 0.5;
  return s;
}

double qsimp(double (*func)(double), double a, double b) {
  const int kMaxSteps = 20;
  const double kTolerance = 2.220446049250313e-16;
  double previous_trapezoid = -1.0e30;
  double previous = -1.0e30;
  double s = 0.0;
  double trapezoid = 0.0;  // the running estimate that trapzd refines
  for (int j = 1; j <= kMaxSteps; j++) {
    double st = trapzd(func, a, b, j, trapezoid);
    s = (st * 4.0 - previous_trapezoid) / 3.0;
    if (j > 5) {
      if (fabs(s - previous) < kTolerance * fabs(previous) || (s == 0.0 && previous == 0.0)) {
        return s;
      }
    }
    previous = s;
    previous_trapezoid = st;
  }
  return s;
}

double ApproxBinomial_P_GreaterThan_K(int k, int n, double p, int& valid) {
  double mean = (double)n * p;
  double sd = sqrt(CheckedVariance(n, p, valid));
  // Continuity correction: k itself belongs to the tail.
  double z = (((double)k - 0.5) - mean) / sd;
  return qsimp(NormalDensity, z, z + 10.0);
}

double ApproxBinomial_P_LessThan_K(int k, int n, double p, int& valid) {
  double mean = (double)n * p;
  double sd = sqrt(CheckedVariance(n, p, valid));
  double z = (((double)k + 0.5) - mean) / sd;
  return qsimp(NormalDensity, z - 10.0, z);
}

}  // namespace talvo::internal
