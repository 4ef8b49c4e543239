// The scan-statistic p-value 1 - Q2 * (Q3 / Q2)^e without the cancellation of
// subtracting numbers close to 1. With b(i) = b(i; w), F = F(k - 1; w) and
// G = 1 - F = P(X >= k), the identities i b(i; w) = w p b(i - 1; w - 1) and
// i (i - 1) b(i; w) = w (w - 1) p^2 b(i - 2; w - 2) turn the brackets of Q2
// and A1 to A4 into sums of positive terms:
//   D1(r) = (r - 1) F(r - 2) - w p F(r - 3; w - 1) = sum_{i <= r - 2} (r - 1 - i) b(i),
//   the bracket of A2 = sum_{i <= k - 3} (k - 1 - i)(k - 2 - i) b(i) = 2 sum_{r=2}^{k-1} D1(r),
// so that Q2 = F^2 - b(k) D1(k), A1 = 2 F b(k) D1(k), A2 = b(k)^2 / 2 times
// the second bracket and A4 = sum b(r) b(2k - r) D1(r). The complements then
// are
//   1 - Q2 = G (1 + F) + b(k) D1(k),
//   Q2 - Q3 = b(k) (F^2 + D1(k) (F - G)) + sum_{r=2}^{k-1} b(2k - r) S(r) (F + F(r - 1))
//             + F^2 P(X >= max(2k - 1, k + 1)) - A2 + A4,
// with S(r) = b(r) + ... + b(k - 1), where F^2 G - A3 has been regrouped by the
// index 2k - r of b. Apart from A2, which is small wherever the p-value is,
// and F - G, negative only where the p-value is above 1/2, every term is
// positive and keeps its relative precision; the upper tails are summed as
// upper tails. With d = Q2 - Q3 the power goes through log1p and expm1:
//   1 - Q2 (1 - d / Q2)^e = (1 - Q2) - Q2 expm1(e log1p(-d / Q2)).
#include <cmath>
#include <vector>

#include "stats/stats.h"

namespace talvo::internal {

namespace {

struct Complements {
  double one_minus_q2;
  double q2_minus_q3;
  double q2;
  double q3;  // as the rounded formula has it, for a Q3 far below Q2
};

double* Scratch(size_t size) {
  static thread_local std::vector<double> buffer;
  if (buffer.size() < size) buffer.resize(size);
  return buffer.data();
}

// The sum of b(j) for j = last + 1..w, from b(last) and the recurrence past
// the table; only where b(last) lies past the mode, so that the terms fall
// from there on and the sum stops once they no longer count.
double TailPastTable(int last, int w, double p, double b_last) {
  double ratio = p / (1 - p), t = b_last, s = 0.0;
  for (int j = last + 1; j <= w; j++) {
    t = t * (((double)(w - j + 1) / (double)j) * ratio);
    s = s + t;
    if (t <= s * 0x1p-60) break;
  }
  return s;
}

// Needs 1 <= k <= w and 0 <= p < 1.
Complements ScanComplements(int k, int w, double p) {
  long long highest = 2LL * k - 2 > k ? 2LL * k - 2 : k;  // b(k) and every b(2k - r)
  int last = highest < w ? (int)highest : w;
  double* b = Scratch((size_t)last + 1 + (size_t)k);
  double* F_of = b + last + 1;  // F(i; w) for i = 0..k - 1
  BinomialTerms(w, p, 0, last, b);
  double s = 0.0;
  for (int i = 0; i < k; i++) F_of[i] = s = s + b[i];
  const double F = F_of[k - 1], bk = b[k];
  const long long upper_first = 2LL * k - 1 > k + 1 ? 2LL * k - 1 : k + 1;

  // G and P(X >= upper_first): from above where the lower tail is at least
  // 1/2, where k lies past the mode; as a complement where it is below 1/2.
  double G, upper;
  if (F >= 0.5) {
    double tail = last < w ? TailPastTable(last, w, p, b[last]) : 0.0;
    int j = last;
    for (; j >= upper_first; j--) tail = tail + b[j];
    upper = tail;
    for (; j >= k; j--) tail = tail + b[j];
    G = tail;
  } else {
    G = 1 - F;
    double middle = 0.0;
    for (int j = k; j < upper_first && j <= last; j++) middle = middle + b[j];
    upper = G - middle > 0 ? G - middle : 0.0;
  }

  // D1(r) for r = 2..k, the bracket of A2, and A4.
  double D1 = 0.0, D1_sum = 0.0, A4 = 0.0;
  for (int r = 2; r <= k; r++) {
    D1 = D1 + F_of[r - 2];
    if (r == k) break;
    D1_sum = D1_sum + D1;
    if (2LL * k - r <= w) A4 = A4 + (b[r] * b[2LL * k - r]) * D1;
  }
  const double A2 = (bk * bk) * D1_sum;  // b(k)^2 / 2 times twice the sum
  double regrouped = 0.0, S = 0.0, A3 = 0.0;
  for (int r = k - 1; r >= 2; r--) {
    S = S + b[r];
    if (2LL * k - r > w) continue;
    regrouped = regrouped + b[2LL * k - r] * (S * (F + F_of[r - 1]));
    A3 = A3 + b[2LL * k - r] * (F_of[r - 1] * F_of[r - 1]);
  }

  Complements c;
  c.one_minus_q2 = G * (1 + F) + bk * D1;
  c.q2_minus_q3 = ((bk * (F * F + D1 * (F - G)) + regrouped) + (F * F) * upper + A4) - A2;
  c.q2 = c.one_minus_q2 <= 0.5 ? 1 - c.one_minus_q2 : F * F - bk * D1;
  c.q3 = (((F * (F * F) - (F * (bk + bk)) * D1) + A2) + A3) - A4;
  return c;
}

double ClampToProbability(double x) {
  if (x > 0) return x < 1 ? x : 1.0;
  return 0.0;  // a NaN too
}

// 1 - q2 (q3 / q2)^e as (1 - q2) - q2 ((q3 / q2)^e - 1), the power from
// log1p and expm1 while q3 is close to q2; where it is far below, from q3
// itself, with the values the rounded formula has where it has none: 1 for
// q2 = 0 and for q3 = 0 unless e = 0. What does not depend on e is worked
// out first.
ScanTerms PrepareTerms(const Complements& c) {
  ScanTerms t;
  t.one_minus_q2 = c.one_minus_q2;
  t.q2 = c.q2;
  if (!(c.q2 > 0)) {
    t.form = ScanTerms::kDecided;
    t.value = 1.0;
    return t;
  }
  const double drop = c.q2_minus_q3 / c.q2;
  if (drop <= 0.5) {
    t.form = ScanTerms::kLog;
    t.base = log1p(-drop);
  } else if (c.q3 > 0) {
    t.form = ScanTerms::kPower;
    t.base = c.q3 / c.q2;
  } else {
    t.form = ScanTerms::kNoQ3;
  }
  return t;
}

double ScanFromTerms(const ScanTerms& t, double e) {
  double change = 0.0;
  switch (t.form) {
    case ScanTerms::kDecided:
      return t.value;
    case ScanTerms::kLog:
      change = expm1(e * t.base);
      break;
    case ScanTerms::kPower:
      change = pow(t.base, e) - 1;
      break;
    case ScanTerms::kNoQ3:
      return e == 0 ? ClampToProbability(t.one_minus_q2) : 1.0;
  }
  return ClampToProbability(t.one_minus_q2 - t.q2 * change);
}

// The cases without a formula; true where *result holds the value.
bool ScanSpecialCase(int k, int w, double p, double* result) {
  if (k <= 0) {
    *result = 1.0;
  } else if (w < 1 || !(p >= 0 && p <= 1)) {
    *result = 0.0;
  } else if (p == 1) {
    *result = k <= w ? 1.0 : 0.0;
  } else if (k > w) {
    *result = 0.0;  // F(k - 1; w) = 1 and every b(i) with i >= k is 0
  } else {
    return false;
  }
  return true;
}

}  // namespace

ScanTerms AccurateScanTerms(int k, int w, double p) {
  ScanTerms terms;
  if (ScanSpecialCase(k, w, p, &terms.value)) return terms;
  return PrepareTerms(ScanComplements(k, w, p));
}

double AccurateScanP(const ScanTerms& terms, int w, int N) {
  if (terms.form == ScanTerms::kDecided) return terms.value;
  int L = N / w;
  if (N % w != 0) L = L + 1;
  return ScanFromTerms(terms, (double)(L - 2));
}

double P_scan_ge_K_in_W_N_accurate(int k, int w, int N, double p) {
  return AccurateScanP(AccurateScanTerms(k, w, p), w, N);
}

double P_scan_ge_K_in_W_N_fractional_accurate(int k, int w, int N, double p) {
  double special;
  if (ScanSpecialCase(k, w, p, &special)) return special;
  if (N <= w) return ClampToProbability(Binomial_P_GreaterThan_K(k, w, p));
  double r = ScanFromTerms(PrepareTerms(ScanComplements(k, w, p)), (double)N / (double)w - 2);
  if (N - w < w) {
    double crossing = p * (1 - p) * BPR(k - 1, w - 1, p);
    double one_window = Binomial_P_GreaterThan_K(k, w, p);
    double bound = ClampToProbability(one_window + (double)(N - w) * crossing);
    if (bound < r) r = bound;
  }
  return r;
}

}  // namespace talvo::internal
