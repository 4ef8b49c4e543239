// Exact binomial probabilities. Every point probability comes from one forward
// recurrence started at (1 - p)^n; the functions below carry it forward term by
// term instead of restarting it, which gives the same values in linear time and
// constant stack depth. Where (1 - p)^n is below the normal range of doubles
// that start has lost its precision (or is 0) and every later term with it, so
// there the terms are evaluated in log space instead.
#include <algorithm>
#include <cmath>
#include <vector>

#include "stats/stats.h"

namespace talvo::internal {

namespace {

const double kSmallestNormal = 2.2250738585072014e-308;
const double kLowerTailCap = 0.9999999999999998;

// BinomialProb(0, n, p): its other factors, pow(p, 0) and n_Choose_k(0, n),
// are exactly 1.
double StartTerm(int n, double p) {
  return pow(1 - p, n);
}

bool IsLogSpace(int n, double p, double start) {
  return p > 0 && p <= 1 && n >= 1 && start < kSmallestNormal;
}

// One step of the recurrence, b(i - 1; n) to b(i; n), grouped as the values
// are defined; p / (1 - p) is the same double at every step.
double NextTerm(double previous, int i, int n, double ratio) {
  return ((double)(n - i + 1) / (double)i) * (ratio * previous);
}

// Past n the recurrence yields only zeros, which change no sum, as long as
// every factor is finite: true for 0 <= p < 1.
bool OnlyZerosPastN(int n, double p) {
  return n >= 0 && p >= 0 && p < 1;
}

double* Scratch(size_t size) {
  static thread_local std::vector<double> buffer;
  if (buffer.size() < size) buffer.resize(size);
  return buffer.data();
}

// lgammal without its write of the process-wide sign (signgam), so that
// several threads can compute terms at once; the value is the same.
long double LogGamma(long double x) {
  int sign = 0;
  return lgammal_r(x, &sign);
}

// log b(i; n) in extended precision, for 0 < p < 1 and 0 <= i <= n.
long double LogTerm(int i, int n, double p) {
  long double lp = p;
  return LogGamma((long double)n + 1) - LogGamma((long double)i + 1) -
         LogGamma((long double)(n - i) + 1) + (long double)i * logl(lp) +
         (long double)(n - i) * log1pl(-lp);
}

// Every term is carried outward from the mode, whose value (at least
// 1 / (n + 1)) is a normal double, so b(i; n) is the same whatever range is
// asked for. Terms far from the mode underflow, as the true values do. b(0; n)
// keeps the value of the recurrence's start, which is already as precise as
// its magnitude allows.
void LogSpaceTerms(int n, double p, double start, int first, int last, double* out) {
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
  // Only the product with t is on the loop's dependency chain.
  double ratio = p / (1 - p);
  double inverse_ratio = (1 - p) / p;
  double t = 1.0;
  for (int i = mode; i <= top && t != 0; i++) {
    if (i > mode) t = t * (((double)(n - i + 1) / (double)i) * ratio);
    if (i >= first) out[i - first] = t * scale;
  }
  t = 1.0;
  for (int i = mode - 1; i >= first && t != 0; i--) {
    t = t * (((double)(i + 1) / (double)(n - i)) * inverse_ratio);
    if (i <= top) out[i - first] = t * scale;
  }
  if (first == 0) out[0] = start;
}

}  // namespace

double factorial(int n) {
  double f = 1.0;
  for (int i = 1; i <= n; i++) f = f * (double)i;
  return f;
}

double n_Choose_k(int k, int n) {
  double x = 1.0;
  // 64-bit bounds: n - k + 1 must not wrap for extreme arguments.
  for (long long i = (long long)n - k + 1; i <= n; i++) x = (double)i * x;
  return x / factorial(k);
}

double BinomialProb(int k, int n, double p) {
  return pow(1 - p, (double)((long long)n - k)) * (pow(p, k) * n_Choose_k(k, n));
}

bool BinomialTermsInLogSpace(int n, double p) {
  return IsLogSpace(n, p, StartTerm(n, p));
}

void BinomialTerms(int n, double p, int first, int last, double* out) {
  if (last < first) return;
  double term = StartTerm(n, p);
  if (IsLogSpace(n, p, term)) {
    LogSpaceTerms(n, p, term, first, last, out);
    return;
  }
  double ratio = p / (1 - p);
  if (first == 0) out[0] = term;
  for (int i = 1; i <= last; i++) {
    term = NextTerm(term, i, n, ratio);
    if (i >= first) out[i - first] = term;
  }
}

double BPR(int k, int n, double p) {
  if (k < 0) return 0.0;  // no count is below zero
  double term;
  BinomialTerms(n, p, k, k, &term);
  return term;
}

double Fb(int b, int n, double p) {
  if (b < 0) return 0.0;
  double term = StartTerm(n, p);
  double s = 0.0;
  if (IsLogSpace(n, p, term)) {
    int last = b < n ? b : n;
    double* terms = Scratch((size_t)last + 1);
    LogSpaceTerms(n, p, term, 0, last, terms);
    for (int i = 0; i <= last; i++) s = s + terms[i];
    return s;
  }
  double ratio = p / (1 - p);
  s = s + term;
  for (int i = 1; i <= b; i++) {
    if (i > n && OnlyZerosPastN(n, p)) break;
    term = NextTerm(term, i, n, ratio);
    s = s + term;
    // A NaN sum stays a NaN, and with a finite ratio a zero term is followed
    // only by zeros: either ends the otherwise endless series of a negative n.
    if (s != s || (term == 0 && p >= 0 && p < 1)) break;
  }
  return s;
}

double Binomial_P_LessThan_K(int k, int n, double p) {
  if (k <= 0) return 0.0;
  // Past n the terms are zeros or NaNs, which the filter skips anyway.
  int last = (n >= 0 && k - 1 > n) ? n : k - 1;
  double term = StartTerm(n, p);
  double s = 0.0;
  if (IsLogSpace(n, p, term)) {
    double* terms = Scratch((size_t)last + 1);
    LogSpaceTerms(n, p, term, 0, last, terms);
    for (int i = 0; i <= last; i++) {
      if (terms[i] >= kSmallestNormal) s = s + terms[i];
    }
  } else {
    double ratio = p / (1 - p);
    for (int i = 0; i <= last; i++) {
      if (i > 0) term = NextTerm(term, i, n, ratio);
      if (term >= kSmallestNormal) s = s + term;
    }
  }
  if (s >= kLowerTailCap) return 1.0;
  return s;
}

double Binomial_P_GreaterThan_K(int k, int n, double p) {
  if (k < 0) k = 0;  // every count is at least a negative one
  if (k > n) return 0.0;
  double* terms = Scratch((size_t)(n - k) + 1);
  BinomialTerms(n, p, k, n, terms);
  // Descending, as the sum is defined.
  double s = 0.0;
  for (int i = n; i >= k; i--) {
    double t = terms[i - k];
    if (t >= kSmallestNormal) s = s + t;
  }
  // The log-space terms carry rounding of their own; their sum must still be
  // a probability.
  if (s > 1.0 && BinomialTermsInLogSpace(n, p)) s = 1.0;
  return s;
}

namespace {

// Up to kLanes upper tails of one n whose terms all lie in the linear range:
// the recurrences go forward side by side, sharing each step's factor, and
// stop once every lane's term is 0. A lane's term below the smallest normal
// double, where the step's factor (n - i + 1) / i * ratio is at most
// 1 - 2^-20, becomes 0 at once: the factors only fall from there, so every
// later term stays below it too (rounding adds at most (n + 1) 2^-1075 per
// step, under 2^-1022 * 2^-21 for any int n), and the sums skip such terms;
// working them out would cost a slow subnormal product per step. The sums
// then run down every lane at once; adding 0.0 where a term is skipped
// leaves a non-negative sum as it is.
constexpr int kLanes = 8;
constexpr double kShrinking = 1 - 0x1p-20;

// Two lanes in one register, where the target has them; the products and
// comparisons are IEEE's lane by lane.
typedef double Pair __attribute__((vector_size(16)));
typedef long long PairMask __attribute__((vector_size(16)));
constexpr int kPairs = kLanes / 2;

Pair Both(double x) {
  return Pair{x, x};
}

// Where the processor has AVX2 the same operations take fewer instructions
// (no fused multiply-add: the products are IEEE's as everywhere). Not under
// ThreadSanitizer: the clones' resolver, instrumented, would run while the
// program is relocated, before the sanitizer's runtime has started.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && !defined(__SANITIZE_THREAD__)
__attribute__((target_clones("avx2", "default")))
#endif
void UpperTailLanes(int n, int lanes, const int* k, const double* p, double* out) {
  Pair term[kPairs], ratio[kPairs], sum[kPairs];
  int first = n;
  for (int l = 0; l < kLanes; l++) {
    term[l / 2][l % 2] = StartTerm(n, p[l]);
    ratio[l / 2][l % 2] = p[l] / (1 - p[l]);
    sum[l / 2][l % 2] = 0.0;
    if (k[l] < first) first = k[l];
  }
  // Rows of the terms from the smallest k on, grown a block at a time.
  constexpr int kBlock = 64;
  static thread_local std::vector<Pair> rows;
  const Pair smallest = Both(kSmallestNormal), shrinking = Both(kShrinking);
  int top = first - 1;
  for (int i = 0; i <= n; i++) {
    if (i > 0) {
      const Pair factor = Both((double)(n - i + 1) / (double)i);
      for (int q = 0; q < kPairs; q++) {
        const Pair next = factor * (ratio[q] * term[q]);
        const PairMask vanishing = (next < smallest) & (factor * ratio[q] <= shrinking);
        term[q] = (Pair)((PairMask)next & ~vanishing);
      }
    }
    if (i < first) continue;
    const size_t at = (size_t)(i - first) * kPairs;
    if (at % (kBlock * kPairs) == 0 && rows.size() < at + kBlock * kPairs) {
      rows.resize(at + kBlock * kPairs);
    }
    std::copy(term, term + kPairs, rows.data() + at);
    top = i;
    // Stopping a few steps late only adds rows of zeros.
    if (i % 8 == 0) {
      PairMask any = {0, 0};
      for (int q = 0; q < kPairs; q++) any |= term[q] != 0;
      if (!(any[0] | any[1])) break;
    }
  }
  Pair* row = rows.data();
  for (int l = 0; l < kLanes; l++) {
    for (int i = first; i < k[l] && i <= top; i++)
      row[(size_t)(i - first) * kPairs + l / 2][l % 2] = 0.0;
  }
  for (int i = top; i >= first; i--) {
    const Pair* t = row + (size_t)(i - first) * kPairs;
    for (int q = 0; q < kPairs; q++) sum[q] = sum[q] + (Pair)((PairMask)t[q] & (t[q] >= smallest));
  }
  for (int l = 0; l < lanes; l++) out[l] = sum[l / 2][l % 2];
}

}  // namespace

void BinomialUpperTails(int n, int count, const int* k, const double* p, double* out) {
  // Lanes of similar p stop at about the same step: in order of p, the
  // lanes that run long share their batches.
  static thread_local std::vector<int> order;
  order.clear();
  for (int j = 0; j < count; j++) {
    const bool linear =
        k[j] >= 0 && k[j] <= n && p[j] >= 0 && p[j] < 1 && !IsLogSpace(n, p[j], StartTerm(n, p[j]));
    if (linear) {
      order.push_back(j);
    } else {
      out[j] = Binomial_P_GreaterThan_K(k[j], n, p[j]);
    }
  }
  std::sort(order.begin(), order.end(), [p](int a, int b) { return p[a] < p[b]; });
  for (size_t from = 0; from < order.size(); from += kLanes) {
    const int lanes = (int)std::min<size_t>(kLanes, order.size() - from);
    int lane_k[kLanes];
    double lane_p[kLanes], lane_out[kLanes];
    // Unused lanes repeat the first, so that every lane computes something finite.
    for (int l = 0; l < kLanes; l++) {
      const int j = order[from + (l < lanes ? l : 0)];
      lane_k[l] = k[j];
      lane_p[l] = p[j];
    }
    UpperTailLanes(n, lanes, lane_k, lane_p, lane_out);
    for (int l = 0; l < lanes; l++) out[order[from + l]] = lane_out[l];
  }
}

}  // namespace talvo::internal
