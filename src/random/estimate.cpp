// The empirical null distribution of the longest merged segment, from
// shuffles of the input's 0/1 string or from sequences drawn from the
// background composition.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "alphabet/alphabet.h"
#include "detect/detect.h"
#include "driver/driver.h"
#include "random/random.h"

namespace {

constexpr int kShuffledMode = 2;
constexpr int kProgressEvery = 1000;

void ReportProgress(int n) {
  if (n % kProgressEvery == 0) printf("N=%d\n", n);
}

void Record(int longest) {
  special_rand_p[longest] += 1;
}

// A random sequence of N positions can hold a segment of length N.
void CoverLongestPossibleSegment(int N) {
  const size_t needed = static_cast<size_t>(N) + 1;
  if (special_rand_p.size() < needed) special_rand_p.resize(needed, 0.0);
  if (special_rand_p.size() < static_cast<size_t>(kMinDistributionSize)) {
    special_rand_p.resize(kMinDistributionSize, 0.0);
  }
}

void EstimateFromShuffles(char* s, int N, std::vector<uint64_t>& scratch) {
  // The first arrangement only mixes the input; it is not counted.
  ShuffleSequenceRegular(s, N);
  for (int n = 1; n <= random_seqs; ++n) {
    ReportProgress(n);
    ShuffleSequenceRegular(s, N);
    Record(LongestMergedSegment(s, N, max_separation, scratch));
  }
}

void EstimateFromGenerated(char* s, int N, std::vector<uint64_t>& scratch) {
  SetIntervals(aa_freq, interval);
  GenerateRandomSequence(long_seq, kPoolSize, interval);
  // Drawing from the encoded pool gives the same 0/1 string as drawing
  // residues and encoding each of them afterwards.
  std::vector<char> encoded_pool(kPoolSize);
  EncodeBinary(long_seq, kPoolSize, special_aa, encoded_pool.data());
  for (int n = 1; n <= random_seqs; ++n) {
    ReportProgress(n);
    GenerateSequence(s, N, encoded_pool.data(), kPoolSize);
    Record(LongestMergedSegment(s, N, max_separation, scratch));
  }
}

}  // namespace

void EstimateRandomPM(char* s, int N) {
  // Without random sequences there is nothing to count, and normalising would
  // turn every entry into 0/0.
  if (random_seqs <= 0) return;
  if (N < 0) N = 0;
  CoverLongestPossibleSegment(N);

  std::vector<uint64_t> scratch;
  if (estimate_ran == kShuffledMode) {
    EstimateFromShuffles(s, N, scratch);
  } else {
    EstimateFromGenerated(s, N, scratch);
  }
  const double count = random_seqs;
  for (double& entry : special_rand_p) entry /= count;

  // Leave the merged segments of the last random sequence behind, as the
  // per-sequence detection would.
  r_special.clear();
  FindRuns(s, N, r_special);
  MergeSegmentsDiscrete(s, r_special, max_separation);
}
