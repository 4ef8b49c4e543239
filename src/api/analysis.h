// The steps of one protein's analysis and the working memory they share,
// for the single-alphabet Analyser and for discovery over a class set.
#pragma once
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "api/internal.h"
#include "detect/detect.h"
#include "random/exact_null.h"
#include "random/random.h"
#include "stats/stats.h"
#include "talvo/memory.h"
#include "talvo/talvo.h"

namespace talvo {
namespace internal {

// Scan p-values kept across the proteins that one workspace analyses, for
// one background probability p. The whole-window functions depend on N only
// through the number of windows, ceil(N / w), so proteins of different
// lengths share their values; the fractional ones are keyed by N itself.
class ScanCache {
 public:
  double Get(ScanPValueFunction scan_p, int k, int w, int N, double p) {
    if (scan_p != function_ || memcmp(&p, &p_, sizeof p) != 0 || count_ >= kMaxValues) {
      Clear();
      function_ = scan_p;
      p_ = p;
    }
    const bool whole_windows =
        scan_p == &P_scan_ge_K_in_W_N || scan_p == &P_scan_ge_K_in_W_N_accurate;
    const int n_key = whole_windows ? N / w + (N % w != 0 ? 1 : 0) : N;
    if (slots_.empty()) slots_.resize(kFirstSlots);
    Slot* slot = Find(k, w, n_key);
    if (slot->used) return slot->value;
    const double value = scan_p(k, w, N, p);
    *slot = Slot{k, w, n_key, true, value};
    if (++count_ * 2 > slots_.size()) Grow();
    return value;
  }

 private:
  // Open addressing in one array: a value found is one cache line away, and
  // a value added takes no allocation of its own.
  struct Slot {
    int k = 0, w = 0, n = 0;
    bool used = false;
    double value = 0.0;
  };
  Slot* Find(int k, int w, int n) {
    uint64_t h = static_cast<uint32_t>(k);
    h = h * 0x9E3779B97F4A7C15ULL ^ static_cast<uint32_t>(w);
    h = h * 0x9E3779B97F4A7C15ULL ^ static_cast<uint32_t>(n);
    h *= 0x9E3779B97F4A7C15ULL;
    const size_t mask = slots_.size() - 1;
    for (size_t i = static_cast<size_t>(h >> 32) & mask;; i = (i + 1) & mask) {
      Slot& slot = slots_[i];
      if (!slot.used || (slot.k == k && slot.w == w && slot.n == n)) return &slot;
    }
  }
  void Grow() {
    std::vector<Slot, LargeAllocator<Slot>> old(GrownTableSlots(slots_.size(), sizeof(Slot)));
    old.swap(slots_);
    for (const Slot& slot : old) {
      if (slot.used) *Find(slot.k, slot.w, slot.n) = slot;
    }
  }
  void Clear() {
    std::fill(slots_.begin(), slots_.end(), Slot{});
    count_ = 0;
  }
  static constexpr size_t kMaxValues = 1 << 16;
  static constexpr size_t kFirstSlots = 256;  // a power of two, at most half full
  ScanPValueFunction function_ = nullptr;
  double p_ = -1.0;
  std::vector<Slot, LargeAllocator<Slot>> slots_;
  size_t count_ = 0;
};

// Scan p-values across proteins, for one P at a time (a class of a
// discovery, or the single analysis). For the
// default formula the terms that depend on k, w and P alone are kept for
// every short segment, so that a protein takes only the last step for its N;
// everything else goes through a ScanCache.
class ScanValues {
 public:
  double Get(ScanPValueFunction scan_p, int k, int w, int N, double p) {
    if (scan_p != &P_scan_ge_K_in_W_N_accurate || w > kLongest || k < 0 || k > w) {
      return cache_.Get(scan_p, k, w, N, p);
    }
    uint64_t p_bits = 0;
    memcpy(&p_bits, &p, sizeof p_bits);
    Entry& entry = terms_[w * (w + 1) / 2 + k];
    if (!entry.ready || entry.p_bits != p_bits) {
      entry.terms = AccurateScanTerms(k, w, p);
      entry.p_bits = p_bits;
      entry.ready = true;
    }
    return AccurateScanP(entry.terms, w, N);
  }

 private:
  static constexpr int kLongest = 32;
  struct Entry {
    bool ready = false;
    uint64_t p_bits = 0;
    ScanTerms terms;
  };
  std::vector<Entry> terms_ = std::vector<Entry>((kLongest + 1) * (kLongest + 2) / 2);
  ScanCache cache_;
};

// What one protein's analysis works with, beside the settings.
struct Protein {
  std::string_view residues;
  int N = 0;
  char special[21] = {};  // the sub-alphabet, upper case, each residue once
  const double* background = nullptr;
  double p = 0.0;  // P of a special residue
  int linkage = 0;
};

// The exact null's values of one protein. The tables of the generated null
// serve every protein for a built-in background (the process shares them),
// and the classes of one protein of equal P and linkage for its own
// composition (Background::kInput).
class ExactNullValues {
 public:
  // Forgets the last protein's values and tables.
  void NewProtein() {
    values_.clear();
    own_.clear();
  }
  // The value of a segment length, each worked out once per protein.
  double P(const Settings& settings, const Protein& protein, int K, int L);
  // The same worked out anew, for callers that keep values themselves.
  double Value(const Settings& settings, const Protein& protein, int K, int L);

 private:
  GeneratedNull& Table(const Settings& settings, int E, double p);

  struct Key {
    int K, E, L;
    uint64_t p_bits;
    bool operator<(const Key& o) const {
      return std::tie(K, E, L, p_bits) < std::tie(o.K, o.E, o.L, o.p_bits);
    }
  };
  struct Tables {
    int E;
    uint64_t p_bits;
    GeneratedNull* shared;
    std::unique_ptr<GeneratedNull> own;
  };
  std::map<Key, double> values_;
  std::vector<Tables> shared_;  // kept across proteins
  std::vector<Tables> own_;
  size_t last_shared_ = 0, last_own_ = 0;  // the tables found last
};

// The p-values of short segments within one protein and class, where N, P and
// the linkage are fixed: a p-value then depends on the special count k and
// length w alone, and short segments repeat them many times. Each value also
// counts how often it was asked for.
class ShortSegmentValues {
 public:
  static constexpr int kLongest = 31;
  void NewClass() {
    used_.clear();
    if (++current_ == 0) {
      for (auto& row : stamp_) std::fill(std::begin(row), std::end(row), 0u);
      current_ = 1;
    }
  }
  // The stored value of (k, w), or compute() stored first; asked for
  // `times` times.
  template <class Compute>
  double Get(int k, int w, const Compute& compute, uint32_t times = 1) {
    if (w > kLongest || k < 0 || k > w) return compute();
    if (stamp_[w][k] != current_) {
      value_[w][k] = compute();
      stamp_[w][k] = current_;
      count_[w][k] = 0;
      used_.push_back({k, w});
    }
    count_[w][k] += times;
    return value_[w][k];
  }
  // Appends each value of the class with how often it was asked for.
  void Tally(std::vector<std::pair<double, uint32_t>>& out) const {
    for (const auto& [k, w] : used_) {
      if (count_[w][k] > 0) out.emplace_back(value_[w][k], count_[w][k]);
    }
  }

 private:
  uint32_t current_ = 0;
  uint32_t stamp_[kLongest + 1][kLongest + 1] = {};
  double value_[kLongest + 1][kLongest + 1] = {};
  uint32_t count_[kLongest + 1][kLongest + 1] = {};
  std::vector<std::pair<int, int>> used_;  // (k, w) of the class's values
};

// The working memory of discovery, beside the single analysis's.
struct DiscoveryWork {
  ShortSegmentValues short_segments;
  std::vector<unsigned char> residue_index;  // ConvToInt of every position
  size_t words = 0;                          // of a bitmap of the protein's positions
  std::vector<uint64_t> residue_bits;        // 20 bitmaps, one per residue
  std::vector<uint64_t> class_bits;          // a class's bitmap
  std::vector<int> class_positions;          // its special positions
  std::vector<int> upper_special;            // the classes tested by the upper tail
  std::vector<double> upper_p, upper_tail;
  std::vector<ScanValues> scan_values;  // one per class
};

}  // namespace internal

struct Workspace::Data {
  std::string kept;                 // the residues of an input that holds more
  double composition[21] = {};      // the protein's own (Background::kInput)
  std::vector<char> binary;         // the 0/1 string, N + 1 characters
  std::vector<char> random_binary;  // the random stage's working copy
  internal::FragmentList segments;  // detected, then merged in place
  std::vector<int> special_before;  // special positions before each position
  internal::RandomWork random;
  std::vector<double> distribution;  // the random stage's, normalised
  internal::ScanValues scan_cache;
  internal::ExactNullValues exact_null;
  internal::DiscoveryWork discovery;
};

namespace internal {

using Work = Workspace::Data;

// Why a protein is not analysed, in TALVO's order; Skip::kNone to analyse it.
Skip FindSkip(const Settings& settings, std::string_view residues);
const double* BuiltInTable(Background background);
// The background of the protein: the built-in table, or its own composition
// (computed into work.composition).
const double* ProteinBackground(const Settings& settings, std::string_view residues, Work& work);
// Segments from work.binary into work.segments, and the random stage's
// distribution when random sequences are sampled.
void Detect(const Settings& settings, const Protein& protein, long entry_number, Work& work,
            Progress* progress);
// The segments of work.segments with their p-values into result.
void ScoreSegments(const Settings& settings, const Protein& protein, Work& work,
                   ScanValues& scan_cache, Result& result);
// The overall binomial test of overall.special; upper_tail, when given, is
// P(X >= special) worked out already.
void OverallTest(const Settings& settings, int N, double p, Overall& overall,
                 const double* upper_tail = nullptr);
// Whether the test of `special` is the upper tail's.
bool UpperTailTested(int N, double p, int special);
// A private workspace of the calling thread, for the calls that bring none.
Workspace& ThreadWorkspace();

}  // namespace internal
}  // namespace talvo
