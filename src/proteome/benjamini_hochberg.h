// Benjamini-Hochberg q-values in memory proportional to the distinct
// p-values, not to their number: a first pass counts every p-value, a second
// looks each one up.
#pragma once
#include <cstddef>
#include <cstdint>
#include <span>
#include <utility>
#include <vector>

namespace talvo::proteome {

class QValues {
 public:
  QValues();
  // First pass: every p-value of the family, in any order (`times` times).
  void Count(double p, uint64_t times = 1);
  // The same for many (p-value, times) at once, sooner than one by one: the
  // slots of the later ones are fetched while the earlier ones are counted.
  void Count(std::span<const std::pair<double, uint32_t>> counts);
  // Between the passes: the step-up adjustment p * m / rank with the
  // cumulative minimum from the largest p down, capped at 1.
  void Finish();
  // Second pass: the q-value of a counted p-value (1 for one never counted).
  double Of(double p) const;

  uint64_t total() const { return total_; }
  size_t distinct() const { return distinct_; }

 private:
  // An open-addressing table keyed by the value's bits (-0 as 0); every
  // lookup of a run's many p-values stays in a few cache lines. A slot holds
  // the value's count until Finish, its q-value after.
  struct Slot {
    uint64_t bits;
    union {
      uint64_t count;
      double q;
    };
  };
  size_t Home(uint64_t bits) const;  // where the search for bits starts
  size_t Find(uint64_t bits) const;  // the slot holding bits, or the empty one to take
  void Grow();

  std::vector<Slot> slots_;  // a power of two, at most half full
  size_t distinct_ = 0;
  uint64_t total_ = 0;
  uint64_t not_a_number_ = 0;  // rank last, q-value 1
};

}  // namespace talvo::proteome
