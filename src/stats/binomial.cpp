// Exact binomial probabilities. Every point probability comes from one forward
// recurrence started at (1 - p)^n; the functions below carry it forward term by
// term instead of restarting it, which gives the same values in linear time and
// constant stack depth. Where (1 - p)^n is no longer a normal double the start
// value has lost its precision (or is 0), so there the terms come from
// BinomialTerms' log-space evaluation instead.
#include <cmath>
#include <vector>

#include "stats/stats.h"

namespace {

const double kSmallestNormal = 2.2250738585072014e-308;
const double kLowerTailCap = 0.9999999999999998;

// One step of the recurrence, b(i - 1; n) to b(i; n), grouped as the values
// are defined; p / (1 - p) is the same double at every step.
inline double NextTerm(double previous, int i, int n, double ratio) {
  return ((double)(n - i + 1) / (double)i) * (ratio * previous);
}

// Beyond n the recurrence only yields zeros, which change no sum, provided
// every term so far is finite; that holds for 0 <= p < 1.
inline bool ZerosBeyondN(int n, double p) {
  return n >= 0 && p >= 0 && p < 1;
}

std::vector<double>& Scratch() {
  static thread_local std::vector<double> buffer;
  return buffer;
}

double* ScratchOfSize(size_t size) {
  std::vector<double>& buffer = Scratch();
  if (buffer.size() < size) buffer.resize(size);
  return buffer.data();
}

// Where the recurrence stays exact: n >= 1 is implied by a start below 1.
bool StartsInLogSpace(int n, double p) {
  return p > 0 && p <= 1 && n >= 1 && pow(1 - p, n) < kSmallestNormal;
}

// log b(i; n) in extended precision, for 0 < p < 1 and 0 <= i <= n.
long double LogTerm(int i, int n, double p) {
  long double lp = p;
  return lgammal((long double)n + 1) - lgammal((long double)i + 1) -
         lgammal((long double)(n - i) + 1) + (long double)i * logl(lp) +
         (long double)(n - i) * log1pl(-lp);
}

// Every term is carried outward from the mode, whose value (at least
// 1 / (n + 1)) is a normal double, so each b(i; n) is the same whatever range
// is asked for. Terms far from the mode underflow, as the true values do.
void LogSpaceTerms(int n, double p, int first, int last, double* out) {
  for (int i = first; i <= last; i++) out[i - first] = 0.0;
  if (p == 1) {
    if (first <= n && n <= last) out[n - first] = 1.0;
    return;
  }
  int top = last < n ? last : n;
  if (first > top) return;
  int mode = (int)std::floor(((double)n + 1) * p);
  if (mode > n) mode = n;
  double scale = (double)expl(LogTerm(mode, n, p));
  double ratio = p / (1 - p);
  double t = 1.0;
  for (int i = mode; i <= top && t != 0; i++) {
    if (i > mode) t = t * ((double)(n - i + 1) / (double)i) * ratio;
    if (i >= first) out[i - first] = t * scale;
  }
  t = 1.0;
  for (int i = mode - 1; i >= first && t != 0; i--) {
    t = t * ((double)(i + 1) / (double)(n - i)) / ratio;
    if (i <= top) out[i - first] = t * scale;
  }
}

}  // namespace

double factorial(int n) {
  double f = 1.0;
  for (int i = 1; i <= n; i++) f = f * (double)i;
  return f;
}

double n_Choose_k(int k, int n) {
  double x = 1.0;
  // Ascending from n - k + 1; a 64-bit bound keeps n near INT_MAX finite.
  for (long long i = (long long)n - k + 1; i <= n; i++) x = (double)i * x;
  return x / factorial(k);
}

double BinomialProb(int k, int n, double p) {
  return pow(1 - p, n - k) * (pow(p, k) * n_Choose_k(k, n));
}

bool BinomialTermsInLogSpace(int n, double p) {
  return StartsInLogSpace(n, p);
}

void BinomialTerms(int n, double p, int first, int last, double* out) {
  if (last < first) return;
  if (StartsInLogSpace(n, p)) {
    LogSpaceTerms(n, p, first, last, out);
    return;
  }
  double ratio = p / (1 - p);
  double term = BinomialProb(0, n, p);
  if (first == 0) out[0] = term;
  for (int i = 1; i <= last; i++) {
    term = NextTerm(term, i, n, ratio);
    if (i >= first) out[i - first] = term;
  }
}

double BPR(int k, int n, double p) {
  if (k < 0) return 0.0;  // no count below zero is possible
  if (k == 0) return BinomialProb(0, n, p);
  double term;
  BinomialTerms(n, p, k, k, &term);
  return term;
}

double Fb(int b, int n, double p) {
  if (b < 0) return 0.0;
  if (StartsInLogSpace(n, p)) {
    int last = b < n ? b : n;
    double* terms = ScratchOfSize((size_t)last + 1);
    BinomialTerms(n, p, 0, last, terms);
    double s = 0.0;
    for (int i = 0; i <= last; i++) s = s + terms[i];
    return s;
  }
  double ratio = p / (1 - p);
  double term = BinomialProb(0, n, p);
  double s = 0.0 + term;
  for (int i = 1; i <= b; i++) {
    if (i > n && ZerosBeyondN(n, p)) break;
    term = NextTerm(term, i, n, ratio);
    s = s + term;
    // A NaN sum stays a NaN, and after a zero term (with a finite ratio) only
    // zeros follow: both end the otherwise endless series of a negative n.
    if (s != s || (term == 0 && p >= 0 && p < 1)) break;
  }
  return s;
}

double Binomial_P_LessThan_K(int k, int n, double p) {
  if (k <= 0) return 0.0;
  // Terms beyond n are zeros or NaNs, which the filter skips.
  int last = (n >= 0 && k - 1 > n) ? n : k - 1;
  double s = 0.0;
  if (StartsInLogSpace(n, p)) {
    double* terms = ScratchOfSize((size_t)last + 1);
    BinomialTerms(n, p, 0, last, terms);
    for (int i = 0; i <= last; i++) {
      if (terms[i] >= kSmallestNormal) s = s + terms[i];
    }
  } else {
    double ratio = p / (1 - p);
    double term = BinomialProb(0, n, p);
    for (int i = 0; i <= last; i++) {
      if (i > 0) term = NextTerm(term, i, n, ratio);
      if (term >= kSmallestNormal) s = s + term;
    }
  }
  if (s >= kLowerTailCap) return 1.0;
  return s;
}

double Binomial_P_GreaterThan_K(int k, int n, double p) {
  if (k < 0) k = 0;  // at least a negative count is at least zero
  if (k > n) return 0.0;
  bool log_space = StartsInLogSpace(n, p);
  double* terms = ScratchOfSize((size_t)(n - k) + 1);
  BinomialTerms(n, p, k, n, terms);
  // Descending, as the sum is defined.
  double s = 0.0;
  for (int i = n; i >= k; i--) {
    double t = terms[i - k];
    if (t >= kSmallestNormal) s = s + t;
  }
  // Rounding in the log-space terms must not make a probability exceed 1.
  if (log_space && s > 1.0) s = 1.0;
  return s;
}
