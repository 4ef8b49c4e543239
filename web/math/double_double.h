// Double-double arithmetic: a value is the unevaluated sum hi + lo of two
// doubles with |lo| <= ulp(hi) / 2, about 106 bits. Products are split with
// Veltkamp's constant (Dekker's algorithm) rather than fused multiply-adds, so
// that the same bits come out of every compiler and processor; the files that
// use this header are compiled with -ffp-contract=off.
#pragma once

namespace talvo::page_math {

struct DoubleDouble {
  double hi;
  double lo;
};

// Exact: a + b == s.hi + s.lo for any a, b (Knuth).
inline DoubleDouble TwoSum(double a, double b) {
  const double s = a + b;
  const double b_part = s - a;
  return {s, (a - (s - b_part)) + (b - b_part)};
}

// Exact when |a| >= |b| or a == 0 (Dekker).
inline DoubleDouble QuickTwoSum(double a, double b) {
  const double s = a + b;
  return {s, b - (s - a)};
}

// a == high + low with 26 significant bits in each; |a| < 2^995.
inline void Split(double a, double& high, double& low) {
  const double c = 134217729.0 * a;  // 2^27 + 1
  high = c - (c - a);
  low = a - high;
}

// Exact: a * b == p.hi + p.lo unless the product underflows.
inline DoubleDouble TwoProduct(double a, double b) {
  const double p = a * b;
  double a_high, a_low, b_high, b_low;
  Split(a, a_high, a_low);
  Split(b, b_high, b_low);
  return {p, ((a_high * b_high - p) + a_high * b_low + a_low * b_high) + a_low * b_low};
}

inline DoubleDouble Add(DoubleDouble a, DoubleDouble b) {
  DoubleDouble s = TwoSum(a.hi, b.hi);
  const DoubleDouble t = TwoSum(a.lo, b.lo);
  s = QuickTwoSum(s.hi, s.lo + t.hi);
  return QuickTwoSum(s.hi, s.lo + t.lo);
}

inline DoubleDouble Add(DoubleDouble a, double b) {
  const DoubleDouble s = TwoSum(a.hi, b);
  return QuickTwoSum(s.hi, s.lo + a.lo);
}

inline DoubleDouble Negate(DoubleDouble a) {
  return {-a.hi, -a.lo};
}

inline DoubleDouble Multiply(DoubleDouble a, DoubleDouble b) {
  const DoubleDouble p = TwoProduct(a.hi, b.hi);
  return QuickTwoSum(p.hi, p.lo + (a.hi * b.lo + a.lo * b.hi));
}

inline DoubleDouble Multiply(DoubleDouble a, double b) {
  const DoubleDouble p = TwoProduct(a.hi, b);
  return QuickTwoSum(p.hi, p.lo + a.lo * b);
}

// One correction of the quotient's leading double.
inline DoubleDouble Divide(DoubleDouble a, DoubleDouble b) {
  const double q = a.hi / b.hi;
  const DoubleDouble r = Add(a, Negate(Multiply(b, q)));
  const double q2 = r.hi / b.hi;
  const DoubleDouble r2 = Add(r, Negate(Multiply(b, q2)));
  return Add(QuickTwoSum(q, q2), r2.hi / b.hi);
}

}  // namespace talvo::page_math
