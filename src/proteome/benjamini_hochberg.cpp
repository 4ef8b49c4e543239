#include "proteome/benjamini_hochberg.h"

#include <algorithm>
#include <cstddef>
#include <unordered_map>
#include <utility>

// Equal p-values share their q-value: at the last rank s of a value v the
// adjustment v * m / s is the smallest of its ranks, so the step-up's minimum
// is the same for all of them. Working on the distinct values (few, since
// p-values repeat across a proteome) gives exactly the sorted-list result.
std::vector<double> BenjaminiHochberg(const std::vector<double>& p) {
  const size_t m = p.size();
  std::unordered_map<double, size_t> slot;          // value -> index into distinct
  std::vector<std::pair<double, size_t>> distinct;  // value, count
  for (double value : p) {
    auto [it, inserted] = slot.try_emplace(value, distinct.size());
    if (inserted) distinct.emplace_back(value, 0);
    distinct[it->second].second++;
  }
  std::vector<size_t> by_value(distinct.size());
  for (size_t i = 0; i < by_value.size(); i++) by_value[i] = i;
  std::sort(by_value.begin(), by_value.end(),
            [&distinct](size_t a, size_t b) { return distinct[a].first < distinct[b].first; });

  std::vector<double> q_of_distinct(distinct.size());
  size_t last_rank = m;
  double running_min = 1.0;
  for (auto it = by_value.rbegin(); it != by_value.rend(); ++it) {
    const auto [value, count] = distinct[*it];
    const double adjusted = value * static_cast<double>(m) / static_cast<double>(last_rank);
    running_min = std::min(running_min, adjusted);
    q_of_distinct[*it] = running_min;
    last_rank -= count;
  }
  std::vector<double> q(m);
  for (size_t i = 0; i < m; i++) q[i] = q_of_distinct[slot.find(p[i])->second];
  return q;
}
