// The scan-statistic p-value: the two- and three-window terms Q2 and Q3 with
// their corrections A1 to A4, all built from b(i; w) = BPR(i, w, p) and
// F(i; n) = Fb(i, n, p). Each call tabulates the values it needs once; the
// running sums in ascending order reproduce Fb exactly, so the results equal
// those of recomputing every term, in time linear in k and w.
#include <cmath>
#include <limits>
#include <vector>

#include "stats/stats.h"

namespace talvo::internal {

namespace {

// b(i; w) for i = 0..b_last, F(i; w) for i = 0..F_last, F(i; w - 1) for
// i = 0..F1_last, and the one value F(k - 5; w - 2). Every index the formulas
// use past a table's end lies past the table's n, where F stays at F(n; n) and
// b is a zero of either sign: no sum depends on that sign, and b(k; w), whose
// sign A1 and A2 carry, is computed exactly.
struct ScanTerms {
  const double* b;
  int b_last;
  const double* F;
  int F_last;
  const double* F1;
  int F1_last;
  double F2_of_k_minus_5;
};

double* ScanScratch(size_t size) {
  static thread_local std::vector<double> buffer;
  if (buffer.size() < size) buffer.resize(size);
  return buffer.data();
}

int Smaller(long long a, long long b) {
  return (int)(a < b ? a : b);
}

// Needs k >= 0 and w >= 1.
ScanTerms TabulateScanTerms(int k, int w, double p) {
  ScanTerms t;
  long long highest_b = k > 2LL * k - 2 ? k : 2LL * k - 2;  // b(k) and b(2k - r)
  t.b_last = Smaller(highest_b, w);
  t.F_last = Smaller(k - 1LL, w);
  t.F1_last = Smaller(k - 3LL, w - 1);
  size_t b_size = (size_t)t.b_last + 1;
  size_t F_size = t.F_last >= 0 ? (size_t)t.F_last + 1 : 0;
  size_t F1_size = t.F1_last >= 0 ? (size_t)t.F1_last + 1 : 0;
  double* b = ScanScratch(b_size + F_size + F1_size);
  double* F = b + b_size;
  double* F1 = F + F_size;

  BinomialTerms(w, p, 0, t.b_last, b);
  double s = 0.0;
  for (size_t i = 0; i < F_size; i++) {
    s = s + b[i];
    F[i] = s;
  }
  BinomialTerms(w - 1, p, 0, t.F1_last, F1);
  s = 0.0;
  for (size_t i = 0; i < F1_size; i++) {
    s = s + F1[i];
    F1[i] = s;
  }
  t.b = b;
  t.F = F;
  t.F1 = F1;
  t.F2_of_k_minus_5 = Fb(k - 5, w - 2, p);
  return t;
}

double B(const ScanTerms& t, long long i) {
  return i <= t.b_last ? t.b[i] : 0.0;
}

// b(k; w) itself, exact even past w, where the sign of its zero shows in A1
// and A2.
double Bk(const ScanTerms& t, int k, int w, double p) {
  return k <= t.b_last ? t.b[k] : BPR(k, w, p);
}

double F(const ScanTerms& t, int i) {
  if (i < 0) return 0.0;
  return t.F[i <= t.F_last ? i : t.F_last];
}

double F1(const ScanTerms& t, int i) {
  if (i < 0) return 0.0;
  return t.F1[i <= t.F1_last ? i : t.F1_last];
}

// The sums of A3 and A4 run over r = 2..k-1, but b(2k - r; w) is a zero for
// 2k - r > w and such terms leave the sum unchanged.
int FirstNonzeroR(int k, int w) {
  long long r = 2LL * k - w;
  return r > 2 ? (int)(r < k ? r : k) : 2;
}

double Q2Of(const ScanTerms& t, int k, int w, double p) {
  double bk = Bk(t, k, w, p);
  return (F(t, k - 1) * F(t, k - 1) - F(t, k - 2) * (bk * (double)(k - 1))) +
         F1(t, k - 3) * (bk * (p * (double)w));
}

double A1Of(const ScanTerms& t, int k, int w, double p) {
  double bk = Bk(t, k, w, p);
  return (F(t, k - 1) * (bk + bk)) *
         (F(t, k - 2) * (double)(k - 1) - ((double)w * p) * F1(t, k - 3));
}

double A2Of(const ScanTerms& t, int k, int w, double p) {
  double bk = Bk(t, k, w, p);
  double twice_k_minus_2 = (double)(k - 2) + (double)(k - 2);
  return (bk * (bk * 0.5)) * ((F(t, k - 3) * ((double)(k - 1) * (double)(k - 2)) -
                               ((twice_k_minus_2 * (double)w) * p) * F1(t, k - 4)) +
                              ((((double)w * (double)(w - 1)) * p) * p) * t.F2_of_k_minus_5);
}

double A3Of(const ScanTerms& t, int k, int w, double /*p*/) {
  double s = 0.0;
  for (int r = FirstNonzeroR(k, w); r <= k - 1; r++) {
    s = s + (B(t, 2LL * k - r) * F(t, r - 1)) * F(t, r - 1);
  }
  return s;
}

double A4Of(const ScanTerms& t, int k, int w, double p) {
  double s = 0.0;
  for (int r = FirstNonzeroR(k, w); r <= k - 1; r++) {
    s = s + (B(t, r) * B(t, 2LL * k - r)) *
                (F(t, r - 2) * (double)(r - 1) - F1(t, r - 3) * (p * (double)w));
  }
  return s;
}

double Q3Of(const ScanTerms& t, int k, int w, double p) {
  double f = F(t, k - 1);
  double f3 = f * (f * f);
  return (((f3 - A1Of(t, k, w, p)) + A2Of(t, k, w, p)) + A3Of(t, k, w, p)) - A4Of(t, k, w, p);
}

bool Tabulable(int k, int w) {
  return k >= 0 && w >= 1;
}

const double kNoValue = std::numeric_limits<double>::quiet_NaN();

// One term on freshly tabulated values; outside the formulas' domain there is
// no value.
double EvaluateTerm(double (*term)(const ScanTerms&, int, int, double), int k, int w, double p) {
  if (!Tabulable(k, w)) return kNoValue;
  return term(TabulateScanTerms(k, w, p), k, w, p);
}

}  // namespace

double Q2(int k, int w, double p) {
  return EvaluateTerm(Q2Of, k, w, p);
}
double Q3(int k, int w, double p) {
  return EvaluateTerm(Q3Of, k, w, p);
}
double A1(int k, int w, double p) {
  return EvaluateTerm(A1Of, k, w, p);
}
double A2(int k, int w, double p) {
  return EvaluateTerm(A2Of, k, w, p);
}
double A3(int k, int w, double p) {
  return EvaluateTerm(A3Of, k, w, p);
}
double A4(int k, int w, double p) {
  return EvaluateTerm(A4Of, k, w, p);
}

namespace {

struct TwoAndThreeWindows {
  double q2;
  double q3;
};

TwoAndThreeWindows ScanQ2Q3(int k, int w, double p) {
  ScanTerms t = TabulateScanTerms(k, w, p);
  double q2 = Q2Of(t, k, w, p);
  double q3 = Q3Of(t, k, w, p);
  return {q2, q3};
}

// 1 - q2 * (q3 / q2)^e: Q2 for two windows, and one factor Q3 / Q2 for every
// further window length.
double ScanFromQ2Q3(TwoAndThreeWindows q, double e) {
  // A q2 (or, for e < 0, a q3) of 0 means the chance that no window reaches
  // k is below the smallest double: the quotient would be undefined, or would
  // turn that near-certainty into a p-value of 0.
  if (q.q2 == 0) return 1.0;
  if (q.q3 == 0 && e < 0) return 1.0;
  double g = pow(q.q3 / q.q2, e) * q.q2;
  double r = 1 - g;
  if (r > 0) return r;
  return 0.0;
}

// Into [0, 1]; a NaN is no probability and becomes 0.
double ClampToProbability(double x) {
  if (x > 0) return x < 1 ? x : 1.0;
  return 0.0;
}

double OneWindow(int k, int w, double p) {
  return ClampToProbability(Binomial_P_GreaterThan_K(k, w, p));
}

// From w to 2w positions the chance that no window reaches k falls fastest
// right after the first window, which the constant rate of the formula does
// not follow. Every new window that reaches k first needs the one before it
// at k - 1, leaving a 0 and entering a 1, so the one-window tail plus that
// chance for each further window bounds the probability from above; it is
// exact at N = w and N = w + 1.
double FirstWindowsBound(int k, int w, int N, double p, double one_window) {
  double crossing = p * (1 - p) * BPR(k - 1, w - 1, p);
  return one_window + (double)(N - w) * crossing;
}

}  // namespace

double P_scan_ge_K_in_W_N(int k, int w, int N, double p) {
  // At least zero special positions is certain; no window of fewer than one
  // position holds one.
  if (k <= 0) return 1.0;
  if (w < 1) return 0.0;
  // Every position is special: a window holds exactly w of them.
  if (p == 1) return k <= w ? 1.0 : 0.0;
  int L = N / w;
  if (N % w != 0) L = L + 1;
  int e = L - 2;
  return ScanFromQ2Q3(ScanQ2Q3(k, w, p), (double)e);
}

double P_scan_ge_K_in_W_N_fractional(int k, int w, int N, double p) {
  if (k <= 0) return 1.0;
  if (w < 1) return 0.0;
  if (p == 1) return k <= w ? 1.0 : 0.0;
  // One window covers the whole sequence.
  if (N <= w) return OneWindow(k, w, p);
  TwoAndThreeWindows q = ScanQ2Q3(k, w, p);
  // Cancellation can leave a Q below 0 where its true value is tiny; a
  // negative base has no real power.
  if (q.q2 < 0) q.q2 = 0;
  if (q.q3 < 0) q.q3 = 0;
  double e = (double)N / (double)w - 2;
  double r = ClampToProbability(ScanFromQ2Q3(q, e));
  if (N - w < w) {
    double bound = ClampToProbability(FirstWindowsBound(k, w, N, p, OneWindow(k, w, p)));
    if (bound < r) r = bound;
  }
  return r;
}

}  // namespace talvo::internal
