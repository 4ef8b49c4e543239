// The scan p-value's formula in exact arithmetic. A double p is a fraction
// P / 2^s, so b(i; n) = C(n, i) P^i (2^s - P)^(n - i) / 2^(s n) and every term
// of Q2 (Q3) is an integer over 2^(2 s w) (2^(3 s w)): written straight from
// the formulas, the complements 1 - Q2 and Q2 - Q3 come out exact; only the
// final power is taken in extended precision.
#pragma once
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

namespace literal {

// A nonnegative integer in base 2^32, lowest limb first, no leading zeros.
struct Big {
  std::vector<uint32_t> limb;
  Big(uint64_t v = 0) {
    for (; v; v >>= 32) limb.push_back((uint32_t)v);
  }
  uint32_t At(size_t i) const { return i < limb.size() ? limb[i] : 0; }
  Big& Trim() {
    while (!limb.empty() && limb.back() == 0) limb.pop_back();
    return *this;
  }
};

inline Big operator+(const Big& a, const Big& b) {
  Big s;
  uint64_t carry = 0;
  for (size_t i = 0; i < std::max(a.limb.size(), b.limb.size()) || carry; i++, carry >>= 32)
    s.limb.push_back((uint32_t)(carry += (uint64_t)a.At(i) + b.At(i)));
  return s;
}

inline Big operator-(Big a, const Big& b) {  // a >= b
  int64_t borrow = 0;
  for (size_t i = 0; i < a.limb.size(); i++, borrow = borrow < 0 ? -1 : 0)
    a.limb[i] = (uint32_t)(borrow += (int64_t)a.limb[i] - b.At(i));
  return a.Trim();
}

inline Big operator*(const Big& a, const Big& b) {
  Big r;
  r.limb.assign(a.limb.size() + b.limb.size(), 0);
  for (size_t i = 0; i < a.limb.size(); i++) {
    uint64_t carry = 0;
    for (size_t j = 0; j < b.limb.size(); j++, carry >>= 32)
      r.limb[i + j] = (uint32_t)(carry += (uint64_t)a.limb[i] * b.limb[j] + r.limb[i + j]);
    r.limb[i + b.limb.size()] = (uint32_t)carry;
  }
  return r.Trim();
}

inline Big Divided(Big a, uint32_t d) {  // exact division
  uint64_t rest = 0;
  for (size_t i = a.limb.size(); i-- > 0; rest %= d)
    a.limb[i] = (uint32_t)((rest = rest << 32 | a.limb[i]) / d);
  return a.Trim();
}

inline Big Power2(int n) {
  Big x;
  x.limb.assign(n / 32 + 1, 0);
  x.limb.back() = 1u << n % 32;
  return x;
}

// (plus - minus) / 2^shift, to 64 bits.
inline long double Scaled(const Big& plus, const Big& minus, int shift) {
  const bool negative = plus.limb.size() != minus.limb.size()
                            ? plus.limb.size() < minus.limb.size()
                            : std::lexicographical_compare(plus.limb.rbegin(), plus.limb.rend(),
                                                           minus.limb.rbegin(), minus.limb.rend());
  if (negative) return -Scaled(minus, plus, shift);
  const Big x = plus - minus;
  long double v = 0;
  for (size_t i = x.limb.size(); i-- > 0 && i + 3 >= x.limb.size();)
    v += ldexpl(x.limb[i], 32 * (int)i - shift);
  return v;
}

struct ExactScanTerms {
  long double one_minus_q2, q2, q2_minus_q3, q3;
  long double tail, crossing;  // P(X >= k; w) and p (1 - p) b(k - 1; w - 1)
};

// 1 <= k <= w, 2 <= w, 0 < p < 1.
inline ExactScanTerms ExactTerms(int k, int w, double p) {
  int exponent;
  uint64_t P = (uint64_t)ldexp(frexp(p, &exponent), 53);
  int s = 53 - exponent;
  for (; P % 2 == 0; P /= 2) s--;
  const Big Pb = P, Q = Power2(s) - Pb;
  // b[n - w + 2][i] and sums[n - w + 2][i]: the numerators of b(i; n) and
  // F(i; n) over 2^(s n), for n = w - 2, w - 1, w.
  std::vector<std::vector<Big>> b(3), sums(3);
  for (int n = w - 2; n <= w; n++) {
    std::vector<Big> Pi{1}, Qj{1};
    for (int i = 1; i <= n; i++) Pi.push_back(Pi.back() * Pb), Qj.push_back(Qj.back() * Q);
    Big choose = 1, sum;
    for (int i = 0; i <= n; i++) {
      b[n - w + 2].push_back(choose * Pi[i] * Qj[n - i]);
      sums[n - w + 2].push_back(sum = sum + b[n - w + 2].back());
      choose = Divided(choose * Big(n - i), i + 1);
    }
  }
  auto B = [&](int i) { return i <= w ? b[2][i] : Big(); };
  auto F = [&](int i, int n) { return i < 0 ? Big() : sums[n - w + 2][std::min(i, n)]; };
  const Big one = Power2(s * w), bk = B(k), Fk = F(k - 1, w), wP = Big(w) * Pb;
  const Big q2_plus = Fk * Fk + F(k - 3, w - 1) * bk * wP, q2_minus = F(k - 2, w) * bk * Big(k - 1);
  // Twice Q3, for the half in A2.
  Big q3_plus = Big(2) * Fk * Fk * Fk + Big(4) * Fk * bk * wP * F(k - 3, w - 1);
  Big q3_minus = Big(4) * Fk * bk * F(k - 2, w) * Big(k - 1);
  if (k >= 3) {
    q3_plus = q3_plus + bk * bk *
                            (F(k - 3, w) * Big((k - 1) * (k - 2)) +
                             Big(w * (w - 1)) * Pb * Pb * F(k - 5, w - 2));
    q3_minus = q3_minus + bk * bk * Big(2 * (k - 2)) * wP * F(k - 4, w - 1);
  }
  for (int r = 2; r <= k - 1; r++) {
    q3_plus = q3_plus + Big(2) * B(2 * k - r) * F(r - 1, w) * F(r - 1, w) +
              Big(2) * B(r) * B(2 * k - r) * F(r - 3, w - 1) * wP;
    q3_minus = q3_minus + Big(2) * B(r) * B(2 * k - r) * F(r - 2, w) * Big(r - 1);
  }
  const Big up = Power2(s * w + 1);
  return {Scaled(one * one + q2_minus, q2_plus, 2 * s * w),
          Scaled(q2_plus, q2_minus, 2 * s * w),
          Scaled(up * q2_plus + q3_minus, up * q2_minus + q3_plus, 3 * s * w + 1),
          Scaled(q3_plus, q3_minus, 3 * s * w + 1),
          Scaled(one, F(k - 1, w), s * w),
          Scaled(Pb * Q * b[1][k - 1], 0, s * (w + 1))};
}

// 1 - Q2 (Q3 / Q2)^e = (1 - Q2) - Q2 ((Q3 / Q2)^e - 1).
inline long double ExactTermsToPValue(const ExactScanTerms& t, long double e) {
  const long double drop = t.q2_minus_q3 / t.q2;
  return t.one_minus_q2 -
         t.q2 * (drop < 0.5L ? expm1l(e * log1pl(-drop)) : powl(t.q3 / t.q2, e) - 1);
}

}  // namespace literal
