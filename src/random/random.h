// Random number generator and the empirical null distribution of the longest
// merged segment in shuffled or generated sequences.
#pragma once
#include <cstdint>
#include <vector>

#include "talvo/talvo.h"

namespace talvo::internal {

// The generator's state (minimal standard generator with a 32-entry shuffle
// table); each workspace has its own, so parallel analyses never share draws.
struct Generator {
  int not_initialized = 1;  // ran1 refuses to draw until init_ran1
  int64_t idum = 0;         // the generator value; 0 or below rebuilds the table
  int64_t iy = 0;           // the table entry returned last
  int64_t iv[32] = {};      // the shuffle table
};

// Next deviate in (0, 1) times x. Throws Error when g was never seeded.
double ran1(Generator& g, double x);
// Seeds the generator (a seed of 0 stands for -123456789).
void init_ran1(Generator& g, long seed);

// Size of the residue pool of generated mode.
constexpr int kPoolSize = 1000000;
// Smallest size of the normalised distribution of longest merged segments.
constexpr int kMinDistributionSize = 10001;

// What the random stage makes and measures.
struct RandomStage {
  int sequences = 0;                    // how many random sequences (none below 1)
  bool shuffled = true;                 // shuffles of the input, else generated
  int separation = 4;                   // the linkage distance of merging
  const double* frequencies = nullptr;  // generated: the background composition
  const char* special = "";             // generated: the special residues
  // Generated: positions drawn from a pool of kPoolSize residues drawn first,
  // as TALVO does; otherwise each straight from the composition.
  bool from_pool = true;
  Progress* progress = nullptr;  // told of every random sequence before it is made
};

// The random stage's working memory, reused from call to call.
struct RandomWork {
  Generator generator;
  // Entry i: how many random sequences had a longest merged segment of
  // length i (N + 1 entries).
  std::vector<int> longest;
  // The pool: kPoolSize residues and a zero byte, zeroed for every estimate.
  std::vector<char> pool;
  std::vector<char> encoded_pool;
  std::vector<uint64_t> pool_ones;
  std::vector<uint64_t> ones;  // the current sequence as a bitmap
  std::vector<uint64_t> scratch;
  double interval[21] = {};
};

// Swaps each position in turn with another drawn uniformly; a sequence of
// fewer than two positions stays as it is, without a draw.
void ShuffleSequenceRegular(Generator& g, char* s, int n);
void SetIntervals(const double* freq, double* bounds);
void GenerateRandomSequence(Generator& g, char* d, int c, const double* bounds);
void GenerateSequence(Generator& g, char* d, int n, const char* pool, int pool_size);
// Counts into work.longest the longest merged segments of stage.sequences
// random sequences made in the working 0/1 string s of length N, which is
// left holding the last one; nothing when stage.sequences is below 1.
void EstimateRandomPM(char* s, int N, const RandomStage& stage, RandomWork& work);
// The normalised distribution of those counts: entry i is the fraction of
// the sequences whose longest merged segment has length i; at least
// kMinDistributionSize entries.
std::vector<double> Distribution(const std::vector<int>& longest, int sequences);
// The sum of table[from..to], in ascending order; 0 when from > to.
double CumulativeProb(int from, int to, const double* table);
// How many of the counted sequences had a longest merged segment of at least L.
int64_t RandomSequencesReaching(const std::vector<int>& longest, int L);

// Length of the longest segment that FindMergedRuns with separation E would
// leave for the first n characters of s (0 when there is none), computed in
// one linear pass.
// scratch is working memory that callers may reuse between calls.
int LongestMergedSegment(const char* s, int n, int E, std::vector<uint64_t>& scratch);
int LongestMergedSegment(const char* s, int n, int E);

}  // namespace talvo::internal
