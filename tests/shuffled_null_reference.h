// The shuffled null by the direct walk over positions, with the count of
// special positions as a coordinate: O(N K L E), slow but straightforward, the
// reference for the program's transform-based computation.
#pragma once
#include <algorithm>
#include <cmath>
#include <vector>

namespace shuffled_reference {

// Q(n, k, s) for the last E + 1 positions n: weight of a first n positions
// with k special ones, the last of them at n in an open cluster of span s.
class OpenClusters {
 public:
  OpenClusters(int E, int L, int K)
      : slots_(E + 1),
        rows_(L),
        width_(K + 1),
        values_(static_cast<size_t>(slots_) * rows_ * width_) {}
  double* Row(int n, int s) {
    return values_.data() + (static_cast<size_t>(n % slots_) * rows_ + s) * width_;
  }

 private:
  int slots_, rows_, width_;
  std::vector<double> values_;
};

inline double ShuffledNullReference(int N, int K, int E, int L) {
  K = std::clamp(K, 0, std::max(N, 0));
  if (L <= 0) return 1.0;
  if (L > N || K == 0) return 0.0;
  if (L == 1 || K == N) return 1.0;
  E = std::clamp(E, 1, std::max(N, 1));
  const double p = static_cast<double>(K) / N;
  const double log_p = std::log(p);
  const double log_q = std::log1p(-p);
  std::vector<double> q_power(E + 1);
  for (int g = 0; g <= E; ++g) q_power[g] = std::exp(g * log_q);
  const double q = q_power[1];
  std::vector<double> weight(E);
  for (int g = 0; g < E; ++g) weight[g] = p * q_power[g];
  std::vector<const double*> from(E);

  OpenClusters open(E, L, K);
  std::vector<double> ready(K + 1, 0.0), next_ready(K + 1, 0.0), passage(K + 1), closed(K + 1);
  ready[0] = 1.0;
  std::vector<double> log_factorial(N + 1);
  int sign;  // lgamma_r: no write of the process-wide sign that lgamma makes
  for (int m = 0; m <= N; ++m) log_factorial[m] = lgamma_r(m + 1.0, &sign);
  const double log_total = log_factorial[N] - log_factorial[K] - log_factorial[N - K];
  double answer = 0.0;
  for (int n = 1; n <= N; ++n) {
    // k below K - (N - n) can no longer reach K; k above n is impossible.
    const int k_low = std::max(1, K - (N - n));
    const int k_high = std::min(n, K);
    double* first = open.Row(n, 1);
    for (int k = k_low; k <= k_high; ++k) first[k] = p * ready[k - 1];
    // Later positions read up to K: what no prefix of n positions can hold
    // must read 0, not what this slot held E + 1 positions ago.
    std::fill(first + k_high + 1, first + K + 1, 0.0);
    for (int s = 2; s < L; ++s) {
      double* row = open.Row(n, s);
      const int terms = std::min({E, s - 1, n - 1});
      for (int g = 0; g < terms; ++g) from[g] = open.Row(n - 1 - g, s - 1 - g);
      std::fill(row + k_low, row + k_high + 1, 0.0);
      for (int g = 0; g < terms; ++g) {
        for (int k = k_low; k <= k_high; ++k) row[k] += weight[g] * from[g][k - 1];
      }
      std::fill(row + k_high + 1, row + K + 1, 0.0);
    }
    std::fill(passage.begin() + k_low, passage.begin() + k_high + 1, 0.0);
    for (int g = 0; g < E && g < n - 1; ++g) {
      for (int s = std::max(1, L - 1 - g); s < L; ++s) {
        const double* row = open.Row(n - 1 - g, s);
        for (int k = k_low; k <= k_high; ++k) passage[k] += weight[g] * row[k - 1];
      }
    }
    for (int k = k_low; k <= k_high; ++k) {
      if (!(passage[k] > 0.0)) continue;
      // The rest holds K - k special positions among N - n in any order.
      const double log_rest = log_factorial[N - n] - log_factorial[K - k] -
                              log_factorial[N - n - K + k] - log_total - k * log_p -
                              (n - k) * log_q;
      answer += passage[k] * std::exp(log_rest);
    }
    const int r_low = std::max(0, K - (N - n));
    for (int k = r_low; k <= k_high; ++k) next_ready[k] = q * ready[k];
    if (n > E) {
      std::fill(closed.begin() + r_low, closed.begin() + k_high + 1, 0.0);
      for (int s = 1; s < L; ++s) {
        const double* row = open.Row(n - E, s);
        for (int k = r_low; k <= k_high; ++k) closed[k] += row[k];
      }
      for (int k = r_low; k <= k_high; ++k) next_ready[k] += q_power[E] * closed[k];
    }
    ready.swap(next_ready);
  }
  return std::min(answer, 1.0);
}

}  // namespace shuffled_reference
