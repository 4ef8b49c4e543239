// Segment detection: fragments, runs of special positions, significant
// scanning windows and merging within the linkage distance.
#pragma once
#include <vector>

#include "stats/stats.h"

namespace talvo::internal {

struct FRAGMENT {
  int start = 0;  // 1-based, inclusive
  int end = 0;    // 1-based, inclusive
  int length = 0;
  int n_special = 0;
  double p_value = 0.0;
};

using FragmentList = std::vector<FRAGMENT>;

// Number of '1' at 0-based indices i1..i2 of s; 0 when i1 > i2.
int ComputeN(const char* s, int i1, int i2);
// The maximal runs of '1' in s[0..n-1], joined as MergeSegmentsDiscrete
// joins them with E, appended in one pass with their counts of '1'; returns
// the longest.
int FindMergedRuns(const char* s, int n, int E, FragmentList& list);
// Appends every window of W positions whose scan p-value scan_p(k, W, N, p)
// is below min_p; returns the largest window count.
int SlideWindowP(const char* s, int N, int W, double min_p, double p, FragmentList& list,
                 ScanPValueFunction scan_p = P_scan_ge_K_in_W_N);
// Joins fragments (ascending start) lying within E of each other; recomputes
// length and n_special; returns the longest fragment left.
int MergeSegmentsDiscrete(const char* s, FragmentList& list, int E);

}  // namespace talvo::internal
