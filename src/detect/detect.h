// Segment detection: fragments, runs of special positions, significant
// scanning windows and merging within the linkage distance.
#pragma once
#include <vector>

namespace talvo::internal {

struct FRAGMENT {
  int start = 0;  // 1-based, inclusive
  int end = 0;    // 1-based, inclusive
  int length = 0;
  int n_special = 0;
  double p_value = 0.0;
};

using FragmentList = std::vector<FRAGMENT>;

// Per thread, so that analyses can run side by side.
extern thread_local FragmentList special;         // raw fragments of the input
extern thread_local FragmentList special_merged;  // the fragments that are reported
extern thread_local FragmentList r_special;       // scratch for one random sequence

// Number of '1' at 0-based indices i1..i2 of s; 0 when i1 > i2.
int ComputeN(const char* s, int i1, int i2);
// Appends one fragment per maximal run of '1' in s[0..n-1]; returns the
// longest run appended.
int FindRuns(const char* s, int n, FragmentList& list);
// Appends every window of W positions whose scan p-value is below min_p
// (reads P_special); returns the largest window count.
int SlideWindowP(const char* s, int N, int W, double min_p, FragmentList& list);
// The same with the p-values of scan_p, e.g. P_scan_ge_K_in_W_N_fractional.
int SlideWindowP(const char* s, int N, int W, double min_p, FragmentList& list,
                 double (*scan_p)(int k, int w, int N, double p));
// Joins fragments (ascending start) lying within E of each other; recomputes
// length and n_special; returns the longest fragment left.
int MergeSegmentsDiscrete(const char* s, FragmentList& list, int E);

}  // namespace talvo::internal
