// Benjamini-Hochberg q-values in memory proportional to the distinct
// p-values, not to their number: a first pass counts every p-value, a second
// looks each one up.
#pragma once
#include <cstddef>
#include <cstdint>
#include <unordered_map>

class QValues {
 public:
  // First pass: every p-value of the family, in any order.
  void Count(double p);
  // Between the passes: the step-up adjustment p * m / rank with the
  // cumulative minimum from the largest p down, capped at 1.
  void Finish();
  // Second pass: the q-value of a counted p-value (1 for one never counted).
  double Of(double p) const;

  uint64_t total() const { return total_; }
  size_t distinct() const { return by_value_.size(); }

 private:
  // Hashes the bits (0 and -0 alike, as they compare equal); cheaper than the
  // library's byte hash.
  struct ValueHash {
    size_t operator()(double value) const;
  };
  struct Entry {
    uint64_t count = 0;
    double q = 1.0;
  };
  std::unordered_map<double, Entry, ValueHash> by_value_;  // never holds NaN
  uint64_t total_ = 0;
  uint64_t not_a_number_ = 0;  // rank last, q-value 1
};
