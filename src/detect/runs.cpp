#include <cstdint>
#include <cstring>

#include "detect/detect.h"

namespace talvo::internal {

int ComputeN(const char* s, int i1, int i2) {
  int count = 0;
  // 64-bit index so that i2 = INT_MAX cannot overflow the loop.
  for (int64_t p = i1; p <= i2; p++) {
    if (s[p] == '1') count++;
  }
  return count;
}

int FindRuns(const char* s, int n, FragmentList& list) {
  int longest = 0;
  int i = 0;
  while (i < n) {
    const void* hit = std::memchr(s + i, '1', static_cast<size_t>(n - i));
    if (hit == nullptr) break;
    const int first = static_cast<int>(static_cast<const char*>(hit) - s);
    i = first + 1;
    while (i < n && s[i] == '1') i++;
    FRAGMENT run;
    run.start = first + 1;
    run.end = i;
    run.length = i - first;
    run.n_special = run.length;  // every position of a run of '1' is special
    list.push_back(run);
    if (run.length > longest) longest = run.length;
  }
  return longest;
}

}  // namespace talvo::internal
