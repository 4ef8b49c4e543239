// The empirical null distribution of the longest merged segment, from
// shuffles of the input's 0/1 string or from sequences drawn from the
// background composition.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "alphabet/alphabet.h"
#include "random/deviates.h"
#include "random/longest_segment.h"
#include "random/random.h"

namespace talvo::internal {

namespace {

// Before the n-th sequence is made.
void ReportProgress(const RandomStage& stage, int n) {
  if (stage.progress != nullptr) stage.progress->RandomSequence(n);
}

void EstimateFromShuffles(char* s, int N, const RandomStage& stage, RandomWork& work) {
  // The first arrangement only mixes the input; it is not counted.
  ShuffleSequenceRegular(work.generator, s, N);
  for (int n = 1; n <= stage.sequences; ++n) {
    ReportProgress(stage, n);
    ShuffleSequenceRegular(work.generator, s, N);
    work.longest[LongestMergedSegment(s, N, stage.separation, work.scratch)] += 1;
  }
}

// GenerateSequence from the encoded pool, straight into a bitmap of the
// drawn '1' (BitmapWords(N) words): the same draws, the same positions.
void GenerateOnes(Generator& g, uint64_t* ones, int N, const uint64_t* pool_ones) {
  if (N <= 0) return;
  ones[N / 64] = 0;  // the final word, also when no position falls in it
  const double scale = kPoolSize;
  const unsigned count = N;
  deviates::DrawWhile(
      g, [ones, count, pool_ones, scale, i = 0u, word = uint64_t{0}](double t) mutable {
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
  SpecialPicker(const double* bounds, const char* special) : bounds_(bounds) {
    for (int j = 0; j < 20; ++j) special_[j] = strchr(special, aa[j]) != nullptr;
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
void DrawSpecial(Generator& g, uint64_t* ones, int N, const SpecialPicker& special) {
  ones[N / 64] = 0;  // the final word, also when no position falls in it
  if (N <= 0) return;
  const unsigned count = N;
  deviates::DrawWhile(
      g, [ones, count, picker = &special, i = 0u, word = uint64_t{0}](double t) mutable {
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
void EstimateFromComposition(char* s, int N, const RandomStage& stage, RandomWork& work) {
  SetIntervals(stage.frequencies, work.interval);
  const SpecialPicker special(work.interval, stage.special);
  work.ones.assign(BitmapWords(N), 0);
  for (int n = 1; n <= stage.sequences; ++n) {
    ReportProgress(stage, n);
    DrawSpecial(work.generator, work.ones.data(), N, special);
    work.longest[LongestMergedSegmentOfOnes(work.ones.data(), N, stage.separation)] += 1;
  }
  UnpackOnes(work.ones.data(), N, s);
}

void EstimateFromGenerated(char* s, int N, const RandomStage& stage, RandomWork& work) {
  if (!stage.from_pool) return EstimateFromComposition(s, N, stage, work);
  SetIntervals(stage.frequencies, work.interval);
  // A draw beyond the last boundary leaves its pool residue a zero byte.
  work.pool.assign(kPoolSize + 1, '\0');
  GenerateRandomSequence(work.generator, work.pool.data(), kPoolSize, work.interval);
  // Drawing from the encoded pool gives the same 0/1 string as drawing
  // residues and encoding each of them afterwards; packed, the pool stays in
  // the cache.
  work.encoded_pool.resize(kPoolSize);
  EncodeBinary(work.pool.data(), kPoolSize, stage.special, work.encoded_pool.data());
  PackOnes(work.encoded_pool.data(), kPoolSize, work.pool_ones);

  work.ones.assign(BitmapWords(N), 0);
  for (int n = 1; n <= stage.sequences; ++n) {
    ReportProgress(stage, n);
    GenerateOnes(work.generator, work.ones.data(), N, work.pool_ones.data());
    work.longest[LongestMergedSegmentOfOnes(work.ones.data(), N, stage.separation)] += 1;
  }
  UnpackOnes(work.ones.data(), N, s);
}

}  // namespace

void EstimateRandomPM(char* s, int N, const RandomStage& stage, RandomWork& work) {
  if (stage.sequences <= 0) return;
  if (N < 0) N = 0;
  // A random sequence of N positions can hold a segment of length N.
  work.longest.assign(static_cast<size_t>(N) + 1, 0);
  if (stage.shuffled) {
    EstimateFromShuffles(s, N, stage, work);
  } else {
    EstimateFromGenerated(s, N, stage, work);
  }
}

std::vector<double> Distribution(const std::vector<int>& longest, int sequences) {
  std::vector<double> fractions(std::max<size_t>(longest.size(), kMinDistributionSize), 0.0);
  const double count = sequences;
  // Whole counts are exact doubles: the same as adding 1.0 for each sequence.
  for (size_t i = 0; i < longest.size(); ++i) fractions[i] = longest[i] / count;
  return fractions;
}

double CumulativeProb(int from, int to, const double* table) {
  double sum = 0.0;
  // No entry lies below index 0.
  for (int64_t i = from < 0 ? 0 : from; i <= to; i++) sum += table[i];
  return sum;
}

int64_t RandomSequencesReaching(const std::vector<int>& longest, int L) {
  int64_t reaching = 0;
  for (size_t i = L < 0 ? 0 : static_cast<size_t>(L); i < longest.size(); ++i) {
    reaching += longest[i];
  }
  return reaching;
}

}  // namespace talvo::internal
