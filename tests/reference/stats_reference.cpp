#include "reference/stats_reference.h"

#include <cmath>
#include <cstdio>

namespace literal {

namespace {
const double kSmallestNormal = 2.2250738585072014e-308;
const double kLowerTailCap = 0.9999999999999998;
}  // namespace

double factorial(int n) {
  double f = 1.0;
  for (int i = 1; i <= n; i++) f = f * (double)i;
  return f;
}

double n_Choose_k(int k, int n) {
  double x = 1.0;
  for (int i = n - k + 1; i <= n; i++) x = (double)i * x;
  return x / factorial(k);
}

double BinomialProb(int k, int n, double p) {
  return pow(1 - p, n - k) * (pow(p, k) * n_Choose_k(k, n));
}

double BPR(int k, int n, double p) {
  if (k == 0) return BinomialProb(0, n, p);
  return ((double)(n - k + 1) / (double)k) * ((p / (1 - p)) * BPR(k - 1, n, p));
}

double Fb(int b, int n, double p) {
  if (b < 0) return 0.0;
  double s = 0.0;
  for (int i = 0; i <= b; i++) s = s + BPR(i, n, p);
  return s;
}

double Binomial_P_LessThan_K(int k, int n, double p) {
  double s = 0.0;
  for (int i = 0; i <= k - 1; i++) {
    double t = BPR(i, n, p);
    if (t >= kSmallestNormal) s = s + t;
  }
  if (s >= kLowerTailCap) return 1.0;
  return s;
}

double Binomial_P_GreaterThan_K(int k, int n, double p) {
  double s = 0.0;
  for (int i = n; i >= k; i--) {
    double t = BPR(i, n, p);
    if (t >= kSmallestNormal) s = s + t;
  }
  return s;
}

double Q2(int k, int w, double p) {
  double b = BPR(k, w, p);
  return (Fb(k - 1, w, p) * Fb(k - 1, w, p) - Fb(k - 2, w, p) * (b * (double)(k - 1))) +
         Fb(k - 3, w - 1, p) * (b * (p * (double)w));
}

double A1(int k, int w, double p) {
  double b = BPR(k, w, p);
  return (Fb(k - 1, w, p) * (b + b)) *
         (Fb(k - 2, w, p) * (double)(k - 1) - ((double)w * p) * Fb(k - 3, w - 1, p));
}

double A2(int k, int w, double p) {
  double b = BPR(k, w, p);
  double two_k_minus_2 = (double)(k - 2) + (double)(k - 2);
  return (b * (b * 0.5)) * ((Fb(k - 3, w, p) * ((double)(k - 1) * (double)(k - 2)) -
                             ((two_k_minus_2 * (double)w) * p) * Fb(k - 4, w - 1, p)) +
                            ((((double)w * (double)(w - 1)) * p) * p) * Fb(k - 5, w - 2, p));
}

double A3(int k, int w, double p) {
  double s = 0.0;
  for (int r = 2; r <= k - 1; r++) {
    s = s + (BPR(2 * k - r, w, p) * Fb(r - 1, w, p)) * Fb(r - 1, w, p);
  }
  return s;
}

double A4(int k, int w, double p) {
  double s = 0.0;
  for (int r = 2; r <= k - 1; r++) {
    s = s + (BPR(r, w, p) * BPR(2 * k - r, w, p)) *
                (Fb(r - 2, w, p) * (double)(r - 1) - Fb(r - 3, w - 1, p) * (p * (double)w));
  }
  return s;
}

double Q3(int k, int w, double p) {
  double F = Fb(k - 1, w, p);
  double F3 = F * (F * F);
  return (((F3 - A1(k, w, p)) + A2(k, w, p)) + A3(k, w, p)) - A4(k, w, p);
}

double P_scan_ge_K_in_W_N(int k, int w, int N, double p) {
  int L = N / w;
  if (N % w != 0) L = L + 1;
  int e = L - 2;
  double q2 = Q2(k, w, p);
  double q3 = Q3(k, w, p);
  double g = pow(q3 / Q2(k, w, p), (double)e) * q2;
  double r = 1 - g;
  if (r > 0) return r;
  return 0.0;
}

double NormalDensity(double x) {
  return exp(x * (x * -0.5)) * 0.3989422804014327;
}

double trapzd(double (*func)(double), double a, double b, int n) {
  static double s;
  if (n == 1) {
    s = (func(a) + func(b)) * ((b - a) * 0.5);
    return s;
  }
  int it = 1;
  for (int j = 1; j < n - 1; j++) it = it * 2;
  double d = (b - a) / (double)it;
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
  double ost = -1.0e30;
  double os = -1.0e30;
  double s = 0.0;
  for (int j = 1; j <= 20; j++) {
    double st = trapzd(func, a, b, j);
    s = (st * 4.0 - ost) / 3.0;
    if (j > 5) {
      if (fabs(s - os) < 2.220446049250313e-16 * fabs(os) || (s == 0.0 && os == 0.0)) return s;
    }
    os = s;
    ost = st;
  }
  return s;
}

namespace {
double CheckVariance(int n, double p, int& valid) {
  double mean = (double)n * p;
  double var = (1 - p) * mean;
  if (var < 5.0) {
    fprintf(stderr, "\nNormal approximation to Binomial distribution is not valid\n");
    valid = 0;
  } else {
    valid = 1;
  }
  return var;
}
}  // namespace

double ApproxBinomial_P_GreaterThan_K(int k, int n, double p, int& valid) {
  double mean = (double)n * p;
  double sd = sqrt(CheckVariance(n, p, valid));
  double z = (((double)k - 0.5) - mean) / sd;
  return qsimp(NormalDensity, z, z + 10.0);
}

double ApproxBinomial_P_LessThan_K(int k, int n, double p, int& valid) {
  double mean = (double)n * p;
  double sd = sqrt(CheckVariance(n, p, valid));
  double z = (((double)k + 0.5) - mean) / sd;
  return qsimp(NormalDensity, z - 10.0, z);
}

}  // namespace literal
