#include <cstdint>
#include <vector>

#include "detect/detect.h"
#include "stats/stats.h"

namespace talvo::internal {

namespace {

// Every window of one scan shares W, N and p, so its p-value depends on the
// count alone: W + 1 possible values, each evaluated at most once.
class ScanPValueCache {
 public:
  ScanPValueCache(ScanPValueFunction scan_p, int W, int N, double p)
      : scan_p_(scan_p), W_(W), N_(N), p_(p), known_(W + 1, 0), value_(W + 1, 0.0) {}

  double Get(int k) {
    if (!known_[k]) {
      value_[k] = scan_p_(k, W_, N_, p_);
      known_[k] = 1;
    }
    return value_[k];
  }

 private:
  ScanPValueFunction scan_p_;
  int W_;
  int N_;
  double p_;
  std::vector<char> known_;
  std::vector<double> value_;
};

}  // namespace

int SlideWindowP(const char* s, int N, int W, double min_p, double p, FragmentList& list,
                 ScanPValueFunction scan_p) {
  // A window needs at least one position; set-up only asks for W >= 2.
  if (W < 1 || int64_t{N} - W + 1 <= 0) return 0;
  ScanPValueCache p_of_count(scan_p, W, N, p);
  int largest = 0;
  int k = ComputeN(s, 0, W - 1);
  for (int j = 0; j <= N - W; j++) {
    if (j > 0) k += (s[j + W - 1] == '1') - (s[j - 1] == '1');
    if (k > largest) largest = k;
    const double window_p = p_of_count.Get(k);
    if (min_p > window_p) {
      FRAGMENT window;
      window.start = j + 1;
      window.end = j + W;
      window.length = W;
      window.n_special = k;
      window.p_value = window_p;
      list.push_back(window);
    }
  }
  return largest;
}

}  // namespace talvo::internal
