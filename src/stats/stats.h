// Significance statistics: exact binomial probabilities and tails, the scan
// statistic p-value and the normal approximation of the binomial tails.
// Argument order: count first, trials or window second, sequence length third
// where there is one, probability last.
#pragma once

namespace talvo::internal {

double factorial(int n);
double n_Choose_k(int k, int n);
double BinomialProb(int k, int n, double p);
double BPR(int k, int n, double p);
double Fb(int b, int n, double p);
// P(X < k).
double Binomial_P_LessThan_K(int k, int n, double p);
// P(X >= k).
double Binomial_P_GreaterThan_K(int k, int n, double p);
// out[j] = Binomial_P_GreaterThan_K(k[j], n, p[j]) for j < count, the same
// values in a fraction of the time for many p at once.
void BinomialUpperTails(int n, int count, const int* k, const double* p, double* out);

// True where (1 - p)^n is below the smallest normal double (p = 1 included):
// there the recurrence would start from a value without precision, so BPR,
// Fb, both tails and the scan statistic's tables use log-space terms instead,
// and the upper tail never exceeds 1. Elsewhere every value is the
// recurrence's own, bit for bit.
bool BinomialTermsInLogSpace(int n, double p);
// out[i - first] = BPR(i, n, p) for i = first..last (first >= 0), in linear
// time.
void BinomialTerms(int n, double p, int first, int last, double* out);

// The terms of the scan statistic, each from its own tables; defined for
// k >= 0 and w >= 1, a NaN otherwise.
double Q2(int k, int w, double p);
double Q3(int k, int w, double p);
double A1(int k, int w, double p);
double A2(int k, int w, double p);
double A3(int k, int w, double p);
double A4(int k, int w, double p);
// Probability of at least k special positions in some window of w positions
// of a random sequence of N positions. Never negative, never a NaN: 1 for
// k <= 0 and wherever the chance that no window reaches k is below the
// smallest double; for p = 1, 1 when k <= w and 0 otherwise.
double P_scan_ge_K_in_W_N(int k, int w, int N, double p);
// The same probability with N / w taken as a real number of windows instead
// of rounding it up, which makes the p-value much less conservative where N
// is not a multiple of w. A sequence of at most w positions is one window: the
// exact binomial tail P(X >= k; w, p). Between w and 2w positions, the smaller
// of the formula and an upper bound that is exact at N = w and N = w + 1.
// Always in [0, 1]; the same special cases as P_scan_ge_K_in_W_N.
double P_scan_ge_K_in_W_N_fractional(int k, int w, int N, double p);
// The same two p-values, the same formula, evaluated without subtracting
// numbers close to 1: the complements 1 - Q2 and Q2 - Q3 come from sums of
// positive terms and upper tails, the power from log1p and expm1. Accurate to
// about 1e-12 relative down to the smallest normal double, and 0 only below
// it; the two above carry an absolute error up to about 1e-13 and keep
// nothing but that below about 1e-15 (see the README, "How accurate are the
// p-values"). The special cases are those of the two above; a p outside
// [0, 1] gives 0.
double P_scan_ge_K_in_W_N_accurate(int k, int w, int N, double p);
double P_scan_ge_K_in_W_N_fractional_accurate(int k, int w, int N, double p);
// P_scan_ge_K_in_W_N_accurate in two steps, for callers that keep the first:
// what depends on k, w and p alone, then the value for N.
struct ScanTerms {
  enum Form { kDecided, kLog, kPower, kNoQ3 } form = kDecided;
  double value = 0.0;  // kDecided: the p-value for every N
  double one_minus_q2 = 0.0, q2 = 0.0;
  double base = 0.0;  // kLog: log1p(-(q2 - q3) / q2); kPower: q3 / q2
};
ScanTerms AccurateScanTerms(int k, int w, double p);
double AccurateScanP(const ScanTerms& terms, int w, int N);
// Any of the four above.
using ScanPValueFunction = double (*)(int k, int w, int N, double p);

double NormalDensity(double x);
// The n-th trapezoid refinement of the integral of func over [a, b]; s is the
// running estimate, set by n = 1 and refined by each call with n = 2, 3, ...
double trapzd(double (*func)(double), double a, double b, int n, double& s);
double qsimp(double (*func)(double), double a, double b);
// Approximation of P(X >= k); valid is 0 when the variance is below 5 (TALVO
// then warns: "Normal approximation to Binomial distribution is not valid").
double ApproxBinomial_P_GreaterThan_K(int k, int n, double p, int& valid);
// Approximation of P(X <= k).
double ApproxBinomial_P_LessThan_K(int k, int n, double p, int& valid);

}  // namespace talvo::internal
