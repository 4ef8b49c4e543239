#include "proteome/benjamini_hochberg.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <memory>

namespace talvo {

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

using KeyList = std::vector<uint64_t, internal::LargeAllocator<uint64_t>>;

// Room for a list, left uninitialised: its pages are first touched when
// written.
struct Spare {
  explicit Spare(size_t n) : list(internal::LargeAllocator<uint64_t>().allocate(n)), n(n) {}
  ~Spare() { internal::LargeAllocator<uint64_t>().deallocate(list, n); }
  Spare(const Spare&) = delete;
  Spare& operator=(const Spare&) = delete;
  uint64_t* list;
  size_t n;
};

// The table's values (their bits) in ascending order. Only the bits are
// sorted: 8 bytes a value keep the passes within the cache where the counts
// and places would not, and Finish finds each slot again by its bits. The
// bits of values without a sign order as the values do, so that a radix sort
// on them (from the lowest digit) serves; any negative value takes the
// comparison sort.
template <class Slots>
KeyList SortedKeys(const Slots& slots, size_t distinct) {
  KeyList sorted;
  sorted.reserve(distinct);
  bool negative = false;
  for (const auto& slot : slots) {
    if (slot.bits == kEmpty) continue;
    sorted.push_back(slot.bits);
    negative |= (slot.bits >> 63) != 0;
  }
  if (negative) {
    std::sort(sorted.begin(), sorted.end(),
              [](uint64_t a, uint64_t b) { return ValueOf(a) < ValueOf(b); });
    return sorted;
  }
  // Eight bits at a time, over the bits in which the values differ, between
  // the list and a spare.
  constexpr int kDigit = 8;
  constexpr size_t kBuckets = size_t{1} << kDigit;
  uint64_t any = 0, all = ~uint64_t{0};
  for (uint64_t bits : sorted) any |= bits, all &= bits;
  const uint64_t differ = any ^ all;
  const size_t n = sorted.size();
  const Spare spare(n);
  uint64_t *from = sorted.data(), *to = spare.list;
  std::vector<size_t> start(kBuckets + 1);
  for (int shift = 0; shift < 64; shift += kDigit) {
    if (((differ >> shift) & (kBuckets - 1)) == 0) continue;
    std::fill(start.begin(), start.end(), 0);
    for (size_t i = 0; i < n; i++) start[((from[i] >> shift) & (kBuckets - 1)) + 1]++;
    for (size_t b = 0; b < kBuckets; b++) start[b + 1] += start[b];
    for (size_t i = 0; i < n; i++) to[start[(from[i] >> shift) & (kBuckets - 1)]++] = from[i];
    std::swap(from, to);
  }
  if (from != sorted.data()) std::copy(from, from + n, sorted.data());
  return sorted;
}

}  // namespace

QValues::QValues() : slots_(1024, Slot{kEmpty, {0}}) {}

// The product's top bits, which every bit of the value moves: values that
// differ only in their exponent, as 0.5 and 0.25, land apart.
size_t QValues::Home(uint64_t bits) const {
  return static_cast<size_t>((bits * 0x9E3779B97F4A7C15ULL) >>
                             (64 - std::countr_zero(slots_.size())));
}

size_t QValues::Find(uint64_t bits) const {
  const size_t mask = slots_.size() - 1;
  size_t i = Home(bits);
  while (slots_[i].bits != bits && slots_[i].bits != kEmpty) i = (i + 1) & mask;
  return i;
}

void QValues::Grow() {
  decltype(slots_) old(internal::GrownTableSlots(slots_.size(), sizeof(Slot)), Slot{kEmpty, {0}});
  old.swap(slots_);
  for (const Slot& slot : old) {
    if (slot.bits != kEmpty) slots_[Find(slot.bits)] = slot;
  }
}

void QValues::Tally(uint64_t bits, uint64_t count) {
  Slot* slot = &slots_[Find(bits)];
  if (slot->bits == kEmpty) {
    slot->bits = bits;
    if (++distinct_ * 4 > slots_.size() * 3) {
      Grow();
      slot = &slots_[Find(bits)];
    }
  }
  slot->count += count;
}

void QValues::Count(double p, uint64_t times) {
  total_ += times;
  if (std::isnan(p)) {
    not_a_number_ += times;
  } else {
    Tally(BitsOf(p), times);
  }
}

void QValues::Count(std::span<const std::pair<double, uint32_t>> counts) {
  constexpr size_t kAhead = 16;
  for (size_t i = 0; i < counts.size(); i++) {
    if (i + kAhead < counts.size()) {
      __builtin_prefetch(&slots_[Home(BitsOf(counts[i + kAhead].first))]);
    }
    Count(counts[i].first, counts[i].second);
  }
}

void QValues::Add(const QValues& other) {
  total_ += other.total_;
  not_a_number_ += other.not_a_number_;
  constexpr size_t kAhead = 16;
  const size_t size = other.slots_.size();
  for (size_t i = 0; i < size; i++) {
    if (i + kAhead < size && other.slots_[i + kAhead].bits != kEmpty) {
      __builtin_prefetch(&slots_[Home(other.slots_[i + kAhead].bits)]);
    }
    const Slot& slot = other.slots_[i];
    if (slot.bits != kEmpty) Tally(slot.bits, slot.count);
  }
}

// Equal p-values share their q-value: at the last rank s of a value v the
// adjustment v * m / s is the smallest of its ranks, so the step-up's minimum
// is the same for all of them, and the distinct values give exactly the
// sorted list's result.
void QValues::Finish() {
  // The values in order, then each one's slot, found again by its bits a
  // few values ahead of its turn: the step-up pass reads the counts and
  // writes the q-values there.
  const KeyList sorted = SortedKeys(slots_, distinct_);
  const double m = static_cast<double>(total_);
  uint64_t last_rank = total_ - not_a_number_;
  double running_min = 1.0;
  constexpr size_t kAhead = 16;
  for (size_t i = sorted.size(); i-- > 0;) {
    if (i >= kAhead) __builtin_prefetch(&slots_[Home(sorted[i - kAhead])], 1);
    Slot& slot = slots_[Find(sorted[i])];
    const double adjusted = ValueOf(sorted[i]) * m / static_cast<double>(last_rank);
    running_min = std::min(running_min, adjusted);
    last_rank -= slot.count;
    slot.q = running_min;  // the count is spent: the q-value
  }
}

void QValues::Prefetch(double p) const {
  if (!std::isnan(p)) __builtin_prefetch(&slots_[Home(BitsOf(p))]);
}

double QValues::Of(double p) const {
  if (std::isnan(p)) return 1.0;
  const Slot& slot = slots_[Find(BitsOf(p))];
  return slot.bits == kEmpty ? 1.0 : slot.q;
}

std::vector<double> QValuesOf(const std::vector<double>& p_values) {
  QValues q;
  for (double p : p_values) q.Count(p);
  q.Finish();
  std::vector<double> q_values;
  q_values.reserve(p_values.size());
  for (double p : p_values) q_values.push_back(q.Of(p));
  return q_values;
}

}  // namespace talvo
