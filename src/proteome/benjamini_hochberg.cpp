#include "proteome/benjamini_hochberg.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

size_t QValues::ValueHash::operator()(double value) const {
  uint64_t bits = 0;
  if (value != 0) memcpy(&bits, &value, sizeof bits);
  bits *= 0x9E3779B97F4A7C15ULL;
  return static_cast<size_t>(bits ^ (bits >> 32));
}

void QValues::Count(double p) {
  total_++;
  if (std::isnan(p)) {
    not_a_number_++;
  } else {
    by_value_[p].count++;
  }
}

// Equal p-values share their q-value: at the last rank s of a value v the
// adjustment v * m / s is the smallest of its ranks, so the step-up's minimum
// is the same for all of them, and the distinct values give exactly the
// sorted list's result.
void QValues::Finish() {
  std::vector<std::pair<double, Entry*>> sorted;
  sorted.reserve(by_value_.size());
  for (auto& [value, entry] : by_value_) sorted.emplace_back(value, &entry);
  std::sort(sorted.begin(), sorted.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  const double m = static_cast<double>(total_);
  uint64_t last_rank = total_ - not_a_number_;
  double running_min = 1.0;
  for (auto it = sorted.rbegin(); it != sorted.rend(); ++it) {
    const double adjusted = it->first * m / static_cast<double>(last_rank);
    running_min = std::min(running_min, adjusted);
    it->second->q = running_min;
    last_rank -= it->second->count;
  }
}

double QValues::Of(double p) const {
  const auto it = by_value_.find(p);
  return it == by_value_.end() ? 1.0 : it->second.q;
}
