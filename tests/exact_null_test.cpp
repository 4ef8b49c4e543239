// The exact null probabilities against every sequence of small lengths, the
// core's own random stage, and each other.
#include "random/exact_null.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "alphabet/alphabet.h"
#include "random/random.h"
#include "shuffled_null_reference.h"

using namespace talvo::internal;

namespace {

void ExpectRelative(double actual, double expected, double tolerance, const std::string& where) {
  EXPECT_LE(std::fabs(actual - expected), tolerance * expected)
      << where << " " << actual << " vs " << expected;
}

// Every 0/1 string of N positions, by its special count K and its longest
// merged segment: count[K][longest].
std::vector<std::vector<double>> CountAll(int N, int E) {
  std::vector<std::vector<double>> count(N + 1, std::vector<double>(N + 1, 0.0));
  std::string s(N, '0');
  for (uint32_t bits = 0; bits < (1u << N); ++bits) {
    int K = 0;
    for (int i = 0; i < N; ++i) K += (s[i] = bits >> i & 1 ? '1' : '0') == '1';
    count[K][LongestMergedSegment(s.data(), N, E)] += 1;
  }
  return count;
}

TEST(ExactNull, MatchesEveryStringOfSmallLengths) {
  for (int N : {1, 2, 5, 9, 13, 16}) {
    for (int E : {-3, 1, 2, 4, 7}) {
      const auto count = CountAll(N, E);
      for (int L = 0; L <= N + 1; ++L) {
        for (double p : {0.05, 0.3653, 0.9}) {
          double generated = 0.0;
          for (int K = 0; K <= N; ++K) {
            for (int m = std::max(L, 0); m <= N; ++m) {
              generated += count[K][m] * std::pow(p, K) * std::pow(1 - p, N - K);
            }
          }
          const std::string where = std::to_string(N) + " " + std::to_string(E) + " " +
                                    std::to_string(L) + " " + std::to_string(p);
          ExpectRelative(GeneratedNullP(N, E, p, L), generated, 1e-12, "G " + where);
        }
        for (int K = 0; K <= N; ++K) {
          double above = 0.0, all = 0.0;
          for (int m = 0; m <= N; ++m) (m >= L ? above : all) += count[K][m];
          ExpectRelative(ShuffledNullP(N, K, E, L), above / (above + all), 1e-12,
                         "S " + std::to_string(N) + " " + std::to_string(K) + " " +
                             std::to_string(E) + " " + std::to_string(L));
        }
      }
    }
  }
}

// Closed forms far in the tail, and the degenerate cases.
TEST(ExactNull, TailsAndEdges) {
  ExpectRelative(GeneratedNullP(300, 1, 0.1, 300), std::pow(0.1, 300), 1e-11, "p^N");
  // 30 special in a row among 60 with E = 1: 31 places out of C(60, 30).
  ExpectRelative(ShuffledNullP(60, 30, 1, 30), 31 / 1.1826458156486115e17, 1e-12, "run");
  ExpectRelative(ShuffledNullP(300, 299, 1, 299), 2.0 / 300, 1e-12, "one gap");
  EXPECT_EQ(GeneratedNullP(3000, 4, 0.01, 3000), 0.0);  // below the smallest double
  for (double p : {0.0, 1.0, 1e-300, 1 - 1e-16}) {
    for (int L : {-1, 0, 1, 2, 50, 51}) {
      const double value = GeneratedNullP(50, 4, p, L);
      EXPECT_TRUE(value >= 0.0 && value <= 1.0) << p << " " << L;
    }
  }
  EXPECT_EQ(ShuffledNullP(50, 0, 4, 1), 0.0);
  EXPECT_EQ(ShuffledNullP(50, 50, 4, 50), 1.0);
  EXPECT_EQ(ShuffledNullP(50, 60, 4, 51), 0.0);
}

// The transform-based shuffled null against the direct walk over the count,
// on a random grid that reaches deep into the tails (the widest merged segment
// K special positions can make) and linkage distances beyond L and N.
TEST(ExactNull, ShuffledMatchesTheDirectWalk) {
  std::mt19937 random(20261207);
  const auto below = [&](int n) { return static_cast<int>(random() % n); };
  for (int trial = 0; trial < 200; ++trial) {
    const int N = trial == 0 ? 700 : 1 + below(160);
    const int K = 1 + below(N);
    const int E = below(5) == 0 ? 1 + below(N + 5) : 1 + below(6);
    const long long widest = K + static_cast<long long>(K - 1) * (std::min(E, N) - 1);
    const int span = static_cast<int>(std::min<long long>(N, widest));
    const int L = below(2) ? span - below(span / 3 + 1) : 1 + below(N + 1);
    const double expected = shuffled_reference::ShuffledNullReference(N, K, E, L);
    const std::string where = std::to_string(N) + " " + std::to_string(K) + " " +
                              std::to_string(E) + " " + std::to_string(L);
    if (expected == 0.0) {
      EXPECT_EQ(ShuffledNullP(N, K, E, L), 0.0) << where;
    } else {
      ExpectRelative(ShuffledNullP(N, K, E, L), expected, 1e-10, where);
    }
  }
}

// The shared instance, asked out of order and for longer N first, gives the
// values of a fresh computation bit for bit: short segments of proteins
// below 32768 (kept by N), long segments and long proteins (kept by L).
TEST(ExactNull, SharedValuesAreTheFreshOnes) {
  GeneratedNull& shared = GeneratedNull::Shared(4, 0.3653);
  for (int N : {400, 37, 400, 1200, 5, 40000, 33000}) {
    for (int L : {1, 2, 3, 17, 63, 5, 64, 90, 2}) {
      EXPECT_EQ(shared.P(N, L), GeneratedNullP(N, 4, 0.3653, L)) << N << " " << L;
    }
  }
}

// The random stage with many sequences lands within four standard errors:
// generated from TALVO's pool and drawn straight from the composition, and
// shuffled.
TEST(ExactNull, AgreesWithTheRandomStage) {
  const int sequences = 20000;
  const double p = ComputeResidueP("GPSTDNH", sp_aa_freq);
  struct Stage {
    int mode;
    bool pool;
  };
  RandomWork work;
  for (const Stage stage : {Stage{1, true}, Stage{1, false}, Stage{2, true}}) {
    const int mode = stage.mode;
    for (int N : {40, 250}) {
      std::string s(N, '0');
      const int K = N / 3;
      for (int i = 0; i < K; ++i) s[i] = '1';
      init_ran1(work.generator, N + mode);
      EstimateRandomPM(s.data(), N,
                       RandomStage{sequences, mode == 2, 4, sp_aa_freq, "GPSTDNH", stage.pool},
                       work);
      const std::vector<double> fractions = Distribution(work.longest, sequences);
      double sampled = 0.0;
      for (int L = N; L >= 1; --L) {
        sampled += fractions[L];
        if (L % 9 != 1) continue;  // a few lengths are enough
        const double exact = mode == 1 ? GeneratedNullP(N, 4, p, L) : ShuffledNullP(N, K, 4, L);
        EXPECT_LE(std::fabs(sampled - exact), 4 * std::sqrt(exact * (1 - exact) / sequences) + 1e-9)
            << mode << " " << stage.pool << " " << N << " " << L;
      }
    }
  }
}

// Conditioning on the count matters less and less as N grows: the largest
// difference around the median shrinks.
TEST(ExactNull, ShuffledApproachesGenerated) {
  const double p = 0.3;
  double last_gap = 1.0;
  for (int N : {40, 320, 1280}) {
    int median = 1;
    while (GeneratedNullP(N, 4, p, median) >= 0.5) ++median;
    double gap = 0.0;
    for (int L = median - 2; L <= median + 1; ++L) {
      gap = std::max(
          gap, std::fabs(ShuffledNullP(N, std::lround(N * p), 4, L) - GeneratedNullP(N, 4, p, L)));
    }
    EXPECT_LT(gap, last_gap) << N;
    last_gap = gap;
  }
  EXPECT_LT(last_gap, 0.01);
}

}  // namespace
