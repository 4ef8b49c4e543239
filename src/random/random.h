// Random number generator and the empirical null distribution of the longest
// merged segment in shuffled or generated sequences.
#pragma once
#include <cstdint>
#include <vector>

#include "talvo/talvo.h"

namespace talvo::internal {

// Generator state, one per thread (parallel analyses must not share draws)
// (minimal standard generator with a 32-entry shuffle table).
extern thread_local int _ran1_not_initialized_;
extern thread_local int64_t _idum_;
extern thread_local int64_t iy;
extern thread_local int64_t iv[32];

// Next deviate in (0, 1) times x. Ends the process when not seeded.
double ran1(double x);
// Seeds the generator (a seed of 0 stands for -123456789).
void init_ran1(long seed);

// Told of every random sequence before it is made, when set.
extern thread_local Progress* random_progress;

// Size of the residue pool of generated mode.
constexpr int kPoolSize = 1000000;
// Smallest size of the distribution of longest merged segments.
constexpr int kMinDistributionSize = 10001;

// Per thread, like the generator, as are the pool and the boundaries below.
// Entry i: fraction of random sequences whose longest merged segment has
// length i. At least kMinDistributionSize entries; EstimateRandomPM grows it
// to N + 1 entries when needed, so the longest possible segment has its entry.
extern thread_local std::vector<double> special_rand_p;
// Entry i: how many of those random sequences had a longest merged segment of
// length i (N + 1 entries), so that a front end can divide once.
extern thread_local std::vector<int> special_rand_count;
// Generated sequences pick from a pool of kPoolSize residues drawn first, as
// TALVO does (the default); when cleared, each position is drawn straight
// from the composition, without a pool.
extern thread_local bool generate_from_pool;

// The pool of generated residues: kPoolSize residues and a zero byte, all zero
// until drawn. Allocated by the first generated estimate of a thread, so that
// threads and processes that never generate pay nothing for it.
extern thread_local std::vector<char> long_seq;
char* PoolResidues();
extern thread_local double interval[21];

// Swaps each position in turn with another drawn uniformly; a sequence of
// fewer than two positions stays as it is, without a draw.
void ShuffleSequenceRegular(char* s, int n);
void SetIntervals(const double* freq, double* bounds);
void GenerateRandomSequence(char* d, int c, const double* bounds);
void GenerateSequence(char* d, int n, const char* pool, int pool_size);
// Fills and normalises special_rand_p from random_seqs random sequences made
// in the working 0/1 string s of length N; does nothing when random_seqs is
// not above 0.
void EstimateRandomPM(char* s, int N);
// The sum of table[from..to], in ascending order; 0 when from > to.
double CumulativeProb(int from, int to, const double* table);
// Random sequences among the last EstimateRandomPM's whose longest merged
// segment is at least L.
int64_t RandomSequencesReaching(int L);

// Length of the longest segment that FindRuns followed by
// MergeSegmentsDiscrete with separation E would leave for the first n
// characters of s (0 when there is none), computed in one linear pass.
// scratch is working memory that callers may reuse between calls.
int LongestMergedSegment(const char* s, int n, int E, std::vector<uint64_t>& scratch);
int LongestMergedSegment(const char* s, int n, int E);

}  // namespace talvo::internal
