// Literal random-sequence stage, written straight from its step-by-step
// description for clarity, not speed: one ran1 call per draw, the pool
// re-encoded after every generated sequence, and the run finder and quadratic
// list merge on every random sequence. Tests compare the program's fast
// paths with these bit for bit.
#pragma once

namespace literal {

// Leaves a sequence of fewer than two positions unchanged (no draw).
void ShuffleSequenceRegular(char* s, int n);
void SetIntervals(const double* freq, double* bounds);
void GenerateRandomSequence(char* d, int c, const double* bounds);
void GenerateSequence(char* d, int n, const char* pool, int pool_size);
// Reads and writes the same globals as the program's stage (random_seqs,
// estimate_ran, max_separation, aa_freq, special_aa, long_seq, interval,
// r_special, special_rand_p). special_rand_p is grown to N + 1 entries when
// shorter; does nothing when random_seqs is not above 0.
void EstimateRandomPM(char* s, int N);

}  // namespace literal
