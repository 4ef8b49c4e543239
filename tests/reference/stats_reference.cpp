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

double ScanFromQ2Q3(double q2, double q3, int w, int N) {
  int L = N / w;
  if (N % w != 0) L = L + 1;
  int e = L - 2;
  double g = pow(q3 / q2, (double)e) * q2;
  double r = 1 - g;
  if (r > 0) return r;
  return 0.0;
}

double P_scan_ge_K_in_W_N(int k, int w, int N, double p) {
  double q2 = Q2(k, w, p);
  double q3 = Q3(k, w, p);
  return ScanFromQ2Q3(q2, q3, w, N);
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

namespace wide {

std::vector<long double> Terms(int n, double p) {
  long double q = 1.0L - (long double)p;
  long double ratio = (long double)p / q;
  std::vector<long double> t(n + 1);
  t[0] = powl(q, n);
  for (int i = 1; i <= n; i++) t[i] = t[i - 1] * (long double)(n - i + 1) / (long double)i * ratio;
  return t;
}

namespace {
// F(i; n) for every i, and b(i; n) and F(i; n) with the index clamped to the
// values the formula reaches.
std::vector<long double> Cumulative(const std::vector<long double>& t) {
  std::vector<long double> c(t.size());
  long double s = 0;
  for (size_t i = 0; i < t.size(); i++) c[i] = s += t[i];
  return c;
}
long double At(const std::vector<long double>& c, long long i, bool cumulative) {
  if (i < 0) return 0;
  if (i >= (long long)c.size()) return cumulative ? c.back() : 0;
  return c[i];
}
}  // namespace

long double ScanPValue(int k, int w, int N, double p) {
  std::vector<long double> b = Terms(w, p);
  std::vector<long double> F = Cumulative(b);
  std::vector<long double> F1 = Cumulative(Terms(w - 1, p));
  std::vector<long double> F2 = w >= 2 ? Cumulative(Terms(w - 2, p)) : std::vector<long double>{};
  auto B = [&](long long i) { return At(b, i, false); };
  auto Fw = [&](long long i) { return At(F, i, true); };
  auto Fw1 = [&](long long i) { return At(F1, i, true); };
  long double P = p, W = w, K = k;
  long double bk = B(k);
  long double q2 = (Fw(k - 1) * Fw(k - 1) - Fw(k - 2) * bk * (K - 1)) + Fw1(k - 3) * bk * P * W;
  long double a1 = Fw(k - 1) * 2 * bk * (Fw(k - 2) * (K - 1) - W * P * Fw1(k - 3));
  long double f2 = w >= 2 ? At(F2, k - 5, true) : 0;
  long double a2 =
      bk * bk / 2 *
      (Fw(k - 3) * (K - 1) * (K - 2) - 2 * (K - 2) * W * P * Fw1(k - 4) + W * (W - 1) * P * P * f2);
  long double a3 = 0, a4 = 0;
  for (int r = 2; r <= k - 1; r++) {
    a3 += B(2LL * k - r) * Fw(r - 1) * Fw(r - 1);
    a4 += B(r) * B(2LL * k - r) * (Fw(r - 2) * (r - 1) - Fw1(r - 3) * P * W);
  }
  long double f = Fw(k - 1);
  long double q3 = f * f * f - a1 + a2 + a3 - a4;
  if (q2 == 0) return 1;
  int L = N / w + (N % w != 0 ? 1 : 0);
  long double g = powl(q3 / q2, L - 2) * q2;
  long double r = 1 - g;
  return r > 0 ? r : 0;
}

}  // namespace wide
