#include "proteome/benjamini_hochberg.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace talvo::proteome {

namespace {

// A NaN's bits: never a key, since NaNs are counted apart.
constexpr uint64_t kEmpty = 0x7FF8DEADBEEF0001ULL;

uint64_t BitsOf(double value) {
  uint64_t bits = 0;
  if (value != 0) memcpy(&bits, &value, sizeof bits);  // -0 and 0 alike
  return bits;
}

double ValueOf(uint64_t bits) {
  double value = 0;
  memcpy(&value, &bits, sizeof value);
  return value;
}

}  // namespace

QValues::QValues() : slots_(1024, Slot{kEmpty, 0, 1.0}) {}

size_t QValues::Find(uint64_t bits) const {
  const size_t mask = slots_.size() - 1;
  size_t i = static_cast<size_t>((bits * 0x9E3779B97F4A7C15ULL) >> 20) & mask;
  while (slots_[i].bits != bits && slots_[i].bits != kEmpty) i = (i + 1) & mask;
  return i;
}

void QValues::Grow() {
  std::vector<Slot> old(slots_.size() * 2, Slot{kEmpty, 0, 1.0});
  old.swap(slots_);
  for (const Slot& slot : old) {
    if (slot.bits != kEmpty) slots_[Find(slot.bits)] = slot;
  }
}

void QValues::Count(double p) {
  total_++;
  if (std::isnan(p)) {
    not_a_number_++;
    return;
  }
  const uint64_t bits = BitsOf(p);
  Slot& slot = slots_[Find(bits)];
  if (slot.bits == kEmpty) {
    slot.bits = bits;
    if (++distinct_ * 2 > slots_.size()) {
      Grow();
      slots_[Find(bits)].count++;
      return;
    }
  }
  slot.count++;
}

// Equal p-values share their q-value: at the last rank s of a value v the
// adjustment v * m / s is the smallest of its ranks, so the step-up's minimum
// is the same for all of them, and the distinct values give exactly the
// sorted list's result.
void QValues::Finish() {
  std::vector<Slot*> sorted;
  sorted.reserve(distinct_);
  for (Slot& slot : slots_) {
    if (slot.bits != kEmpty) sorted.push_back(&slot);
  }
  std::sort(sorted.begin(), sorted.end(),
            [](const Slot* a, const Slot* b) { return ValueOf(a->bits) < ValueOf(b->bits); });
  const double m = static_cast<double>(total_);
  uint64_t last_rank = total_ - not_a_number_;
  double running_min = 1.0;
  for (auto it = sorted.rbegin(); it != sorted.rend(); ++it) {
    const double adjusted = ValueOf((*it)->bits) * m / static_cast<double>(last_rank);
    running_min = std::min(running_min, adjusted);
    (*it)->q = running_min;
    last_rank -= (*it)->count;
  }
}

double QValues::Of(double p) const {
  if (std::isnan(p)) return 1.0;
  return slots_[Find(BitsOf(p))].q;
}

}  // namespace talvo::proteome
