// The shuffled null: P(longest merged segment >= L) over the arrangements of
// K special positions among N, every arrangement equally likely.
//
// Give a special position the weight a = p y and a non-special one b = 1 - p.
// The walk of exact_null.cpp then sums, over the sequences whose longest
// merged segment reaches L,
//   phi(y) = sum_k n(k) p^k b^(N - k) y^k,
// n(k) the number of such arrangements of k special positions; the answer is
// n(K) / C(N, K). One coefficient of a polynomial comes from its values on the
// unit circle, y_j = e^(i theta_j), theta_j = 2 pi j / M:
//   (1 / M) sum_j e^(-i theta_j K) phi(y_j) = sum over k = K mod M of the terms.
// p is chosen so that the terms peak at k = K (a saddle point). They then fall
// off like a Gaussian of some width sigma on either side, so with M about
// 10 sigma nothing comes back from K +- M, and |phi(y_j)| falls like
// exp(-(sigma theta_j)^2 / 2), so only the first dozen or so y_j carry weight.
// On the unit circle nothing grows: every quantity of the walk is bounded by
// its value at y = 1, and so is its rounding error.
//
// The walk costs O(E) per position. The cluster weights obey
// c(s) = a sum_{g<E} b^g c(s - 1 - g) at every span, so with
// D(z) = 1 - a sum_{g<E} b^g z^(g+1) and the first-passage polynomial
// P(z) = sum_t c'(t) z^t, the clusters below L sum to (a z - P(z)) / D(z) and
// the weights H(j) of ready prefixes have the generating function
//   H(z) = D(z) / (1 - w z + b^E z^E P(z)),  w = a + b:
//   H(j) = D_j + w H(j - 1) - b^E sum_t c'(t) H(j - E - t).
// The roots of D(z), which this form adds, lie outside the unit circle: the
// modes they bring in die away. Where E reaches L the direct sum over spans
// below L is the shorter one and is used instead.
#include <algorithm>
#include <cmath>
#include <vector>

#include "random/exact_null.h"

namespace talvo::internal {

namespace {

constexpr double kPi = 3.14159265358979323846;

// ------------------------------------------------- binomial probabilities

// log(n!) - log(sqrt(2 pi n) (n / e)^n), by its asymptotic series above 15;
// below, n! itself is exact in a double (and lgamma would write the
// process-wide sign, a race between threads).
double StirlingError(int n) {
  if (n <= 15) {
    double factorial = 1.0;
    for (int i = 2; i <= n; ++i) factorial *= i;
    return std::log(factorial) - (n + 0.5) * std::log(n) + n - 0.5 * std::log(2 * kPi);
  }
  const double nn = static_cast<double>(n) * n;
  return (1.0 / 12 - (1.0 / 360 - (1.0 / 1260 - (1.0 / 1680 - 1.0 / 1188 / nn) / nn) / nn) / nn) /
         n;
}

// x log(x / m) + m - x, without the cancellation when x is close to m.
double Deviance(double x, double m) {
  if (std::fabs(x - m) < 0.1 * (x + m)) {
    const double v = (x - m) / (x + m);
    double sum = (x - m) * v;
    double term = 2 * x * v;
    for (int j = 1; j < 1000; ++j) {
      term *= v * v;
      const double next = sum + term / (2 * j + 1);
      if (next == sum) return next;
      sum = next;
    }
    return sum;
  }
  return x * std::log(x / m) + m - x;
}

// log of C(N, K) p^K (1 - p)^(N - K), 0 < K < N, accurate to a few units in
// the last place where the plain sum of log-factorials loses digits.
double LogBinomialProbability(int K, int N, double p) {
  const double k = K, n = N, rest = N - K;
  return StirlingError(N) - StirlingError(K) - StirlingError(N - K) - Deviance(k, n * p) -
         Deviance(rest, n * (1 - p)) + 0.5 * std::log(n / (2 * kPi * k * rest));
}

// ------------------------------------------------------ cluster weights

// The cluster weights fall off like rho^s; they are kept as c(s) / rho^s,
// rho the rate at which sum_{g<G} kappa_g = 1 with kappa_g = p b^g / rho^(g+1).
// The scaled weights then obey
//   c^(s) = y sum_g kappa_g c^(s - 1 - g),
// a weighted mean times y: at y = 1 they neither vanish nor grow, however long
// the clusters, and on the unit circle they stay within those bounds.
struct Clusters {
  int L, E, passages;  // first passages at L + i, i < passages, fit in N
  double p, b;
  double log_rho;
  std::vector<double> kappa;  // kappa_g for g < E
  double passage_at_one;      // c'(L) / rho^L at y = 1
};

// p moved by at most 2^-54 so that 1 - p is exact and the weights of the walk
// add up to exactly 1: an excess would compound over the N positions. Above
// 1/2 the complement is exact already; far below, the move would be too large.
double WithExactComplement(double p) {
  return p < 0.5 && p >= 0x1p-40 ? (p + 0.5) - 0.5 : p;
}

// -log rho: where sum_{g<G} p b^g e^((g+1) u) reaches 1, between u = 0 (the
// sum is 1 - b^G there) and u = -log p (its first term alone is 1). Any rate
// near the root serves; bisection is enough.
double ScaleRate(double p, double b, int G) {
  const double log_p = std::log(p), log_b = std::log(b);
  double low = 0.0, high = -log_p;
  for (int round = 0; round < 50; ++round) {
    const double u = 0.5 * (low + high);
    double sum = 0.0;
    for (int g = 0; g < G && sum < 2.0; ++g) sum += std::exp(log_p + g * log_b + (g + 1) * u);
    (sum < 1.0 ? low : high) = u;
  }
  return 0.5 * (low + high);
}

double Constant(double c, double) {
  return c;
}

// c^(s, y) = c(s, y) / rho^s for s < L, and likewise for the first passages at
// L + i: their last special position follows one at a span below L after a
// gap of at least i.
template <class T>
void ClusterWeights(const Clusters& c, const T& y, std::vector<T>& span, std::vector<T>& passage) {
  const int L = c.L, E = c.E;
  const T zero = Constant(0.0, y);
  span.assign(std::max(L, 2), zero);
  span[1] = c.kappa[0] * y;
  for (int s = 2; s < L; ++s) {
    T sum = zero;
    for (int g = 0; g <= std::min(E - 1, s - 2); ++g) sum = sum + c.kappa[g] * span[s - 1 - g];
    span[s] = y * sum;
  }
  passage.assign(c.passages, zero);
  for (int i = 0; i < c.passages; ++i) {
    T sum = zero;
    for (int g = i; g <= std::min(E - 1, L + i - 2); ++g)
      sum = sum + c.kappa[g] * span[L + i - 1 - g];
    passage[i] = y * sum;
  }
}

Clusters MakeClusters(int N, int L, int E, double p) {
  p = WithExactComplement(p);
  Clusters c{L, E, std::min(E, N - L + 1), p, 1.0 - p, 0.0, {}, 0.0};
  c.log_rho = -ScaleRate(p, c.b, std::min(E, L));
  const double log_p = std::log(p), log_b = std::log1p(-p);
  for (int g = 0; g < E; ++g) c.kappa.push_back(std::exp(log_p + g * log_b - (g + 1) * c.log_rho));
  std::vector<double> span, passage;
  ClusterWeights(c, 1.0, span, passage);
  c.passage_at_one = passage[0];
  return c;
}

// ------------------------------------------------------------ walk values

// A value of the walk with its first two derivatives in t, y = e^t, at t = 0:
// the total, first and second moments of the count.
struct Moments {
  double v = 0, d1 = 0, d2 = 0;
};
Moments operator+(const Moments& x, const Moments& y) {
  return {x.v + y.v, x.d1 + y.d1, x.d2 + y.d2};
}
Moments operator-(const Moments& x, const Moments& y) {
  return {x.v - y.v, x.d1 - y.d1, x.d2 - y.d2};
}
Moments operator*(double c, const Moments& x) {
  return {c * x.v, c * x.d1, c * x.d2};
}
Moments operator*(const Moments& x, const Moments& y) {
  return {x.v * y.v, x.d1 * y.v + x.v * y.d1, x.d2 * y.v + 2.0 * (x.d1 * y.d1) + x.v * y.d2};
}
Moments Constant(double c, Moments) {
  return {c, 0.0, 0.0};
}
double Size(const Moments& x) {
  return std::fabs(x.v) + std::fabs(x.d1) + std::fabs(x.d2);
}

// kLanes complex values, one per point of the unit circle; kept as separate
// real and imaginary arrays so that each operation is one vector loop.
constexpr int kLanes = 4;
struct Lanes {
  double re[kLanes], im[kLanes];
};
Lanes operator+(const Lanes& x, const Lanes& y) {
  Lanes r;
  for (int l = 0; l < kLanes; ++l) r.re[l] = x.re[l] + y.re[l], r.im[l] = x.im[l] + y.im[l];
  return r;
}
Lanes operator-(const Lanes& x, const Lanes& y) {
  Lanes r;
  for (int l = 0; l < kLanes; ++l) r.re[l] = x.re[l] - y.re[l], r.im[l] = x.im[l] - y.im[l];
  return r;
}
Lanes operator*(double c, const Lanes& x) {
  Lanes r;
  for (int l = 0; l < kLanes; ++l) r.re[l] = c * x.re[l], r.im[l] = c * x.im[l];
  return r;
}
Lanes operator*(const Lanes& x, const Lanes& y) {
  Lanes r;
  for (int l = 0; l < kLanes; ++l) {
    r.re[l] = x.re[l] * y.re[l] - x.im[l] * y.im[l];
    r.im[l] = x.re[l] * y.im[l] + x.im[l] * y.re[l];
  }
  return r;
}
Lanes Constant(double c, Lanes) {
  Lanes r;
  for (int l = 0; l < kLanes; ++l) r.re[l] = c, r.im[l] = 0.0;
  return r;
}
double Size(const Lanes& x) {
  double size = 0.0;
  for (int l = 0; l < kLanes; ++l) size = std::max(size, std::fabs(x.re[l]) + std::fabs(x.im[l]));
  return size;
}

// Whether every value of the ring is below what can still count beside
// H(0) = 1; no later H is larger than the largest of the ring, so the walk can
// drop them (and stay clear of slow subnormal arithmetic).
template <class T>
bool Vanished(const std::vector<T>& ring) {
  for (const T& x : ring) {
    if (Size(x) >= 1e-200) return false;
  }
  return true;
}

// phi(y) / c'(L) at y = 1: the walk's sum, scaled so that it does not vanish
// when long clusters are rare.
template <class T>
T Walk(const Clusters& c, int N, const T& y) {
  const int L = c.L, E = c.E;
  const T zero = Constant(0.0, y), one = Constant(1.0, y);
  std::vector<T> span, passage;
  ClusterWeights(c, y, span, passage);
  const T a = c.p * y;
  const T w = a + Constant(c.b, y);
  const double b_to_E = std::pow(c.b, E);

  // The recurrence for H, over a ring of its last values; a slot not yet
  // written holds 0, which is what H is before position 0.
  const bool by_passage = E + 1 <= L;
  const int reach = by_passage ? L + 2 * E : L + E + 1;
  int size = 1;
  while (size <= reach) size *= 2;
  const int mask = size - 1;
  std::vector<T> ready(size, zero);
  std::vector<T> coefficient;
  if (by_passage) {
    // Past N - L + 1 first passages no longer fit; their terms would reach
    // only beyond the walk's end.
    for (int i = 0; i < c.passages; ++i) {
      coefficient.push_back((b_to_E * std::exp((L + i) * c.log_rho)) * passage[i]);
    }
  } else {
    coefficient.push_back(zero);
    for (int s = 1; s < L; ++s) coefficient.push_back((b_to_E * std::exp(s * c.log_rho)) * span[s]);
  }
  std::vector<T> tail(c.passages, zero);  // A(N - L - i)
  T total = zero;                         // A(j) = sum over j' <= j of H(j') w^(j - j')
  T d = a;                                // D_j = -a b^(j-1) for 1 <= j <= E
  const int last = N - L;
  int j = 0;
  for (; j <= last; ++j) {
    T h = zero;
    if (by_passage) {
      if (j == 0) h = one;
      if (j >= 1) h = w * ready[(j - 1) & mask];
      if (j >= 1 && j <= E) {
        h = h - d;
        d = c.b * d;
      }
      for (int i = 0; i < c.passages; ++i) h = h - coefficient[i] * ready[(j - E - L - i) & mask];
    } else {
      h = j == 0 ? one : c.b * ready[(j - 1) & mask];
      for (int s = 1; s < L; ++s) h = h + coefficient[s] * ready[(j - E - s) & mask];
    }
    ready[j & mask] = h;
    total = j == 0 ? h : w * total + h;
    if (last - j < c.passages) tail[last - j] = total;
    if ((j & mask) == mask && Vanished(ready)) break;
  }
  // With no prefix left ready, the rest of the walk only carries A along.
  for (++j; j <= last; ++j) {
    total = w * total;
    if (last - j < c.passages) tail[last - j] = total;
  }
  T phi = zero;
  for (int i = 0; i < c.passages; ++i) {
    phi = phi + (std::exp(i * c.log_rho) / c.passage_at_one) * (passage[i] * tail[i]);
  }
  return phi;
}

// ------------------------------------------------------------ the answer

// Moves p until the count's distribution over the sequences that reach L
// peaks within a standard deviation of K; returns its moments there.
Moments SaddlePoint(int N, int K, int E, int L, Clusters& clusters) {
  double p = static_cast<double>(K) / N;
  Moments m;
  for (int round = 0;; ++round) {
    clusters = MakeClusters(N, L, E, p);
    m = Walk(clusters, N, Moments{1.0, 1.0, 1.0});
    const double mean = m.d1 / m.v;
    const double variance = std::max(m.d2 / m.v - mean * mean, 1e-12);
    if (std::fabs(mean - K) <= std::sqrt(variance) || round == 30) return m;
    // Tilting the count by e^(t k) moves its mean by about t times its
    // variance and multiplies p / (1 - p) by e^t.
    const double log_odds =
        std::log(clusters.p) - std::log(clusters.b) + std::clamp((K - mean) / variance, -4.0, 4.0);
    p = 1.0 / (1.0 + std::exp(-log_odds));
  }
}

}  // namespace

double ShuffledNullP(int N, int K, int E, int L) {
  K = std::clamp(K, 0, std::max(N, 0));
  if (L <= 0) return 1.0;
  if (L > N || K == 0) return 0.0;
  if (L == 1 || K == N) return 1.0;
  E = std::clamp(E, 1, N);
  // The widest a merged segment of K special positions can be.
  if (static_cast<long long>(K) + static_cast<long long>(K - 1) * (E - 1) < L) return 0.0;

  Clusters clusters;
  const Moments at_one = SaddlePoint(N, K, E, L, clusters);
  const double mean = at_one.d1 / at_one.v;
  const double sigma = std::sqrt(std::max(at_one.d2 / at_one.v - mean * mean, 0.0));
  const long long width = static_cast<long long>(std::ceil(10.0 * sigma)) + 16;
  const int M = static_cast<int>(std::min<long long>(N + 1, width));

  double sum = at_one.v;
  for (int first = 1; 2 * first <= M; first += kLanes) {
    Lanes y;
    for (int l = 0; l < kLanes; ++l) {
      const double theta = 2 * kPi * (first + l) / M;
      y.re[l] = std::cos(theta), y.im[l] = std::sin(theta);
    }
    const Lanes phi = Walk(clusters, N, y);
    double last_size = 0.0;
    for (int l = 0; l < kLanes && 2 * (first + l) <= M; ++l) {
      const int j = first + l;
      // e^(-i theta_j K), the angle reduced exactly first.
      const double angle = 2 * kPi * static_cast<double>(static_cast<long long>(j) * K % M) / M;
      const double term = std::cos(angle) * phi.re[l] + std::sin(angle) * phi.im[l];
      sum += (2 * j == M ? 1.0 : 2.0) * term;
      last_size = std::hypot(phi.re[l], phi.im[l]);
    }
    // |phi| falls off like a Gaussian: once it is below the rounding of
    // phi(1), the rest is too.
    if (last_size <= 1e-17 * at_one.v && 2 * kPi * (first + kLanes - 1) / M * sigma >= 6.0) break;
  }
  if (!(sum > 0.0)) return 0.0;
  // phi was scaled by c'(L) = rho^L c'^(L) at y = 1.
  const double log_passage = L * clusters.log_rho + std::log(clusters.passage_at_one);
  const double log_answer =
      log_passage + std::log(sum / M) - LogBinomialProbability(K, N, clusters.p);
  return std::min(1.0, std::exp(log_answer));
}

}  // namespace talvo::internal
