// The body of the .seg report and the masked FASTA file.
#pragma once
#include <cstdio>

#include "detect/detect.h"

namespace talvo::internal {

extern thread_local char*
    masked_seq;    // per thread, like the set-up products  // N+1 characters, allocated by set-up
extern FILE* out;  // the .seg report
extern FILE* fasta_out;  // the .fas file, when fasta_output > 0

// Writes the report body and the masked FASTA file. Returns 1 on success and
// 0 when the masked FASTA file could not be written or closed (after printing
// "Error closing FASTA file\n"); the report is completed either way.
int WriteSegments(char* seq, char* name, int N, FragmentList& list);
void form_out_l(FILE* stream, const char* data, int len, int width);
double CumulativeProb(int from, int to, const double* table);
int ComputeNSuccesses(const char* set, const char* seq, int from, int to);

}  // namespace talvo::internal
