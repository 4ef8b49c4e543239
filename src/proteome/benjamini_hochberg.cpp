#include "proteome/benjamini_hochberg.h"

#include <algorithm>
#include <numeric>

std::vector<double> BenjaminiHochberg(const std::vector<double>& p) {
  const size_t m = p.size();
  std::vector<size_t> order(m);
  std::iota(order.begin(), order.end(), size_t{0});
  // Stable, so that equal p-values keep a fixed order and the result never
  // depends on the sort's implementation.
  std::stable_sort(order.begin(), order.end(), [&p](size_t a, size_t b) { return p[a] < p[b]; });
  std::vector<double> q(m);
  double running_min = 1.0;
  for (size_t rank = m; rank >= 1; rank--) {
    const size_t i = order[rank - 1];
    const double adjusted = p[i] * static_cast<double>(m) / static_cast<double>(rank);
    running_min = std::min(running_min, adjusted);
    q[i] = running_min;
  }
  return q;
}
