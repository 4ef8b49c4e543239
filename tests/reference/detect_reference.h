// Literal detection algorithms, written straight from their step-by-step
// descriptions for clarity, not speed: the run finder, the window scanner that
// recounts every window and scores each one, and the quadratic list merge.
// Tests compare the program's fast paths with these bit for bit.
#pragma once
#include "detect/detect.h"

namespace literal {

// Scan p-value function: (count, window, sequence length, probability).
using ScanPValue = double (*)(int k, int w, int N, double p);

int ComputeN(const char* s, int i1, int i2);
int FindRuns(const char* s, int n, FragmentList& list);
// Scores every window with `scan` (the program's scan statistic by default)
// and p_special.
int SlideWindowP(const char* s, int N, int W, double min_p, FragmentList& list, double p_special,
                 ScanPValue scan = nullptr);
// Absorbs and erases fragments one at a time; `start` - E is formed in 64 bits.
int MergeSegmentsDiscrete(const char* s, FragmentList& list, int E);

}  // namespace literal
