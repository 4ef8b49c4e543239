// Literal report writer: every count taken residue by residue, every p-value
// evaluated anew, every character written one at a time. Reads and writes the
// same globals as the program's writer; the statistics are passed in so that
// both the program's and the literal statistics can stand behind it.
#pragma once
#include <cstdio>

#include "detect/detect.h"

namespace literal {

struct ReportStats {
  double (*scan)(int k, int w, int N, double p);
  double (*less_than)(int k, int n, double p);
  double (*greater_than)(int k, int n, double p);
  double (*approx_less_than)(int k, int n, double p, int& valid);
  double (*approx_greater_than)(int k, int n, double p, int& valid);
};

// The program's statistics functions.
ReportStats ProgramStats();

void form_out_l(FILE* stream, const char* data, int len, int width);
double CumulativeProb(int from, int to, const double* table);
int ComputeNSuccesses(const char* set, const char* seq, int from, int to);
int WriteSegments(char* seq, char* name, int N, FragmentList& list,
                  const ReportStats& stats = ProgramStats());

}  // namespace literal
