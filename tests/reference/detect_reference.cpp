#include "reference/detect_reference.h"

#include <cstddef>
#include <cstdint>

#include "stats/stats.h"

namespace literal {

int ComputeN(const char* s, int i1, int i2) {
  int count = 0;
  for (int p = i1; p <= i2; p++) {
    if (s[p] == '1') count++;
  }
  return count;
}

int FindRuns(const char* s, int n, FragmentList& list) {
  int longest = 0;
  if (n <= 0) return 0;
  if (n == 1) {
    if (s[0] == '1') {
      FRAGMENT f;
      f.start = 1;
      f.end = 1;
      f.length = 1;
      f.n_special = 1;
      list.push_back(f);
      return 1;
    }
    return 0;
  }
  char run_char = s[0];
  int f = 0;
  for (int i = 1; i < n; i++) {
    if (s[i] != run_char) {
      if (run_char == '1') {
        FRAGMENT frag;
        frag.start = f + 1;
        frag.end = i;
        frag.length = i - f;
        frag.n_special = ComputeN(s, f, i - 1);
        list.push_back(frag);
        if (i - f > longest) longest = i - f;
      }
      run_char = s[i];
      f = i;
    }
    if (i == n - 1 && run_char == '1') {
      FRAGMENT frag;
      frag.start = f + 1;
      frag.end = n;
      frag.length = n - f;
      frag.n_special = ComputeN(s, f, n - 1);
      list.push_back(frag);
      if (n - f > longest) longest = n - f;
    }
  }
  return longest;
}

int SlideWindowP(const char* s, int N, int W, double min_p, FragmentList& list, double p_special,
                 ScanPValue scan) {
  if (scan == nullptr) scan = P_scan_ge_K_in_W_N;
  int64_t windows = int64_t{N} - W + 1;
  if (windows <= 0) return 0;
  int largest = 0;
  for (int64_t j = 0; j < windows; j++) {
    int k = 0;
    for (int64_t i = j; i <= j + W - 1; i++) {
      if (s[i] == '1') k++;
    }
    if (k > largest) largest = k;
    double p = scan(k, W, N, p_special);
    if (min_p > p) {
      FRAGMENT frag;
      frag.start = static_cast<int>(j + 1);
      frag.end = static_cast<int>(j + W);
      frag.length = W;
      frag.n_special = k;
      frag.p_value = p;
      list.push_back(frag);
    }
  }
  return largest;
}

int MergeSegmentsDiscrete(const char* s, FragmentList& list, int E) {
  for (size_t current = 0; current < list.size(); current++) {
    size_t scanned = current + 1;
    while (scanned < list.size()) {
      FRAGMENT& cur = list[current];
      const FRAGMENT& next = list[scanned];
      if (int64_t{next.start} - E > int64_t{cur.end}) {
        scanned++;
        continue;
      }
      if (next.end > cur.end) {
        cur.end = next.end;
        cur.length = cur.end - cur.start + 1;
      }
      list.erase(list.begin() + static_cast<std::ptrdiff_t>(scanned));
      scanned = current + 1;
    }
  }
  int longest = 0;
  for (FRAGMENT& frag : list) {
    frag.length = frag.end - frag.start + 1;
    frag.n_special = ComputeN(s, frag.start - 1, frag.end - 1);
    if (frag.length > longest) longest = frag.length;
  }
  return longest;
}

}  // namespace literal
