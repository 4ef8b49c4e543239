// The empirical null distribution of the longest merged segment, from
// shuffles of the input's 0/1 string or from sequences drawn from the
// background composition.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "alphabet/alphabet.h"
#include "config/run_config.h"
#include "detect/detect.h"
#include "random/deviates.h"
#include "random/longest_segment.h"
#include "random/random.h"

namespace talvo::internal {

namespace {

constexpr int kShuffledMode = 2;

void ReportProgress(int n) {
  if (random_progress != nullptr) random_progress->RandomSequence(n);
}

void Record(int longest) {
  special_rand_p[longest] += 1;
  special_rand_count[longest] += 1;
}

// A random sequence of N positions can hold a segment of length N.
void CoverLongestPossibleSegment(int N) {
  const size_t needed = static_cast<size_t>(N) + 1;
  if (special_rand_p.size() < needed) special_rand_p.resize(needed, 0.0);
  if (special_rand_p.size() < static_cast<size_t>(kMinDistributionSize)) {
    special_rand_p.resize(kMinDistributionSize, 0.0);
  }
  special_rand_count.assign(needed, 0);
}

void EstimateFromShuffles(char* s, int N) {
  // The first arrangement only mixes the input; it is not counted.
  ShuffleSequenceRegular(s, N);
  std::vector<uint64_t> scratch;
  for (int n = 1; n <= random_seqs; ++n) {
    ReportProgress(n);
    ShuffleSequenceRegular(s, N);
    Record(LongestMergedSegment(s, N, max_separation, scratch));
  }
}

// GenerateSequence from the encoded pool, straight into a bitmap of the
// drawn '1' (BitmapWords(N) words): the same draws, the same positions.
void GenerateOnes(uint64_t* ones, int N, const uint64_t* pool_ones) {
  if (N <= 0) return;
  ones[N / 64] = 0;  // the final word, also when no position falls in it
  const double scale = kPoolSize;
  const unsigned count = N;
  deviates::DrawWhile(
      [ones, count, pool_ones, scale, i = 0u, word = uint64_t{0}](double t) mutable {
        const unsigned index = static_cast<unsigned>(t * scale);
        word |= (pool_ones[index / 64] >> (index % 64) & 1) << (i % 64);
        ++i;
        if (i % 64 == 0 || i == count) {
          ones[(i - 1) / 64] = word;
          word = 0;
        }
        return i < count;
      });
}

void UnpackOnes(const uint64_t* ones, int N, char* s) {
  for (int i = 0; i < N; ++i) s[i] = (ones[i / 64] >> (i % 64) & 1) ? '1' : '0';
}

// Whether a deviate picks a special residue, by a table of buckets over
// [0, 1): a bucket wholly inside one residue's interval answers at once, one
// that straddles a boundary walks the intervals as GenerateRandomSequence
// does (a deviate beyond the last boundary picks nothing special).
class SpecialPicker {
 public:
  explicit SpecialPicker(const double* bounds) : bounds_(bounds) {
    for (int j = 0; j < 20; ++j) special_[j] = strchr(special_aa, aa[j]) != nullptr;
    for (int b = 0; b < kBuckets; ++b) {
      const int low = Residue(static_cast<double>(b) / kBuckets);
      const int high = Residue(std::nextafter(static_cast<double>(b + 1) / kBuckets, 0.0));
      bucket_[b] = low == high ? Special(low) : kStraddles;
    }
  }
  bool operator()(double t) const {
    const int8_t answer = bucket_[static_cast<int>(t * kBuckets)];
    return answer == kStraddles ? Special(Residue(t)) : answer != 0;
  }

 private:
  static constexpr int kBuckets = 4096;
  static constexpr int8_t kStraddles = 2;
  int Residue(double x) const {
    for (int j = 1; j <= 20; ++j) {
      if (bounds_[j - 1] <= x && x < bounds_[j]) return j - 1;
    }
    return 20;
  }
  bool Special(int residue) const { return residue < 20 && special_[residue]; }
  const double* bounds_;
  bool special_[20];
  int8_t bucket_[kBuckets];
};

// One generated sequence into a bitmap of BitmapWords(N) words.
void DrawSpecial(uint64_t* ones, int N, const SpecialPicker& special) {
  ones[N / 64] = 0;  // the final word, also when no position falls in it
  if (N <= 0) return;
  const unsigned count = N;
  deviates::DrawWhile(
      [ones, count, picker = &special, i = 0u, word = uint64_t{0}](double t) mutable {
        word |= uint64_t{(*picker)(t)} << (i % 64);
        ++i;
        if (i % 64 == 0 || i == count) {
          ones[(i - 1) / 64] = word;
          word = 0;
        }
        return i < count;
      });
}

// Each position drawn from the composition, straight into a bitmap.
void EstimateFromComposition(char* s, int N) {
  SetIntervals(aa_freq, interval);
  const SpecialPicker special(interval);
  std::vector<uint64_t> ones(BitmapWords(N));
  for (int n = 1; n <= random_seqs; ++n) {
    ReportProgress(n);
    DrawSpecial(ones.data(), N, special);
    Record(LongestMergedSegmentOfOnes(ones.data(), N, max_separation));
  }
  UnpackOnes(ones.data(), N, s);
}

void EstimateFromGenerated(char* s, int N) {
  if (!generate_from_pool) return EstimateFromComposition(s, N);
  SetIntervals(aa_freq, interval);
  char* pool = PoolResidues();
  GenerateRandomSequence(pool, kPoolSize, interval);
  // Drawing from the encoded pool gives the same 0/1 string as drawing
  // residues and encoding each of them afterwards; packed, the pool stays in
  // the cache.
  std::vector<char> encoded_pool(kPoolSize);
  EncodeBinary(pool, kPoolSize, special_aa, encoded_pool.data());
  std::vector<uint64_t> pool_ones;
  PackOnes(encoded_pool.data(), kPoolSize, pool_ones);

  std::vector<uint64_t> ones(BitmapWords(N));
  for (int n = 1; n <= random_seqs; ++n) {
    ReportProgress(n);
    GenerateOnes(ones.data(), N, pool_ones.data());
    Record(LongestMergedSegmentOfOnes(ones.data(), N, max_separation));
  }
  UnpackOnes(ones.data(), N, s);
}

}  // namespace

void EstimateRandomPM(char* s, int N) {
  // Without random sequences there is nothing to count, and normalising would
  // turn every entry into 0/0.
  if (random_seqs <= 0) return;
  if (N < 0) N = 0;
  CoverLongestPossibleSegment(N);

  if (estimate_ran == kShuffledMode) {
    EstimateFromShuffles(s, N);
  } else {
    EstimateFromGenerated(s, N);
  }
  const double count = random_seqs;
  for (double& entry : special_rand_p) entry /= count;

  // Leave the merged segments of the last random sequence behind, as the
  // per-sequence detection would.
  r_special.clear();
  FindRuns(s, N, r_special);
  MergeSegmentsDiscrete(s, r_special, max_separation);
}

double CumulativeProb(int from, int to, const double* table) {
  double sum = 0.0;
  // No entry lies below index 0.
  for (int64_t i = from < 0 ? 0 : from; i <= to; i++) sum += table[i];
  return sum;
}

int64_t RandomSequencesReaching(int L) {
  int64_t reaching = 0;
  for (size_t i = L < 0 ? 0 : static_cast<size_t>(L); i < special_rand_count.size(); ++i) {
    reaching += special_rand_count[i];
  }
  return reaching;
}

}  // namespace talvo::internal
