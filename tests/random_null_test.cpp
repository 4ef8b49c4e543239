#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <numeric>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "alphabet/alphabet.h"
#include "detect/detect.h"
#include "driver/driver.h"
#include "random/random.h"
#include "reference/detect_reference.h"
#include "reference/random_reference.h"
#include "support/fragments.h"
#include "support/process.h"

namespace {

// Both sides of one word of separation, where the pass changes its method.
const int kSeparations[] = {INT_MIN, -3, -1, 0, 1, 2, 3, 4, 5, 9, 13, 63, 64, 65, 100, INT_MAX};

// The generator's whole state: flag, seed word, last output and table.
using GeneratorState = std::vector<int64_t>;

GeneratorState SaveGenerator() {
  GeneratorState g = {_ran1_not_initialized_, _idum_, iy};
  g.insert(g.end(), iv, iv + 32);
  return g;
}

void RestoreGenerator(const GeneratorState& g) {
  _ran1_not_initialized_ = static_cast<int>(g[0]);
  _idum_ = g[1];
  iy = g[2];
  std::copy(g.begin() + 3, g.end(), iv);
}

// Seeds as given; kRawModulusState stands for the raw state of seed
// 2147483647 before its warm-up: the table is all zeros, the first draw is 0
// and the next rebuilds the table.
const long kRawModulusState = LONG_MIN;
const long kSeeds[] = {1, 7, 123456, 2147483646, 2147483647, kRawModulusState};

void Seed(long seed) {
  if (seed != kRawModulusState) return init_ran1(seed);
  GeneratorState raw(35, 0);
  raw[1] = -2147483647;
  RestoreGenerator(raw);
}

// Test data comes from the standard library's engine, never from ran1.
std::string RandomString(int n, double density, unsigned seed, const std::string& other = "0") {
  std::mt19937 engine(seed);
  std::bernoulli_distribution special(density);
  std::uniform_int_distribution<size_t> pick(0, other.size() - 1);
  std::string s(n, '0');
  for (char& c : s) c = special(engine) ? '1' : other[pick(engine)];
  return s;
}

int Ones(const std::string& s) {
  return static_cast<int>(std::count(s.begin(), s.end(), '1'));
}

double Sum(const std::vector<double>& v) {
  return std::accumulate(v.begin(), v.end(), 0.0);
}

// Both entry points against runs and merge of the literal reference, with a
// tail of '1's past n that must never be read.
void ExpectLongestMatchesLiteral(const std::string& s) {
  static std::vector<uint64_t> scratch;  // reused between calls, as callers may
  const std::string padded = s + "1111111111";
  const int n = static_cast<int>(s.size());
  for (int E : kSeparations) {
    FragmentList list;
    literal::FindRuns(s.data(), n, list);
    const int expected = literal::MergeSegmentsDiscrete(s.data(), list, E);
    ASSERT_EQ(LongestMergedSegment(padded.data(), n, E, scratch), expected)
        << s.substr(0, 64) << " n=" << n << " E=" << E;
    ASSERT_EQ(LongestMergedSegment(padded.data(), n, E), expected) << "n=" << n << " E=" << E;
  }
}

TEST(LongestMergedSegment, AgreesWithRunsAndMergeOnEveryShortString) {
  for (int n = 0; n <= 12; ++n) {
    for (int bits = 0; bits < (1 << n); ++bits) {
      std::string s(n, '0');
      for (int i = 0; i < n; ++i) s[i] = (bits >> i & 1) ? '1' : '0';
      ASSERT_NO_FATAL_FAILURE(ExpectLongestMatchesLiteral(s));
    }
  }
}

// Across word boundaries, some with characters other than '0' between the
// special ones.
TEST(LongestMergedSegment, AgreesOnLongStrings) {
  unsigned seed = 1;
  for (int n : {63, 64, 65, 127, 128, 129, 1000, 4096}) {
    for (double density : {0.02, 0.36, 0.5, 0.8, 0.98}) {
      ASSERT_NO_FATAL_FAILURE(ExpectLongestMatchesLiteral(RandomString(n, density, seed++)));
    }
  }
  for (int n : {1, 9, 64, 200, 777}) {
    ASSERT_NO_FATAL_FAILURE(
        ExpectLongestMatchesLiteral(RandomString(n, 0.4, seed++, std::string("0x2\0Z", 5))));
  }
}

TEST(LongestMergedSegment, DocumentedJoins) {
  EXPECT_EQ(LongestMergedSegment("111000111", 9, 4), 9);
  EXPECT_EQ(LongestMergedSegment("1110000111", 10, 4), 3);
  EXPECT_EQ(LongestMergedSegment("110001100011", 12, 4), 12);
  EXPECT_EQ(LongestMergedSegment("0000", 4, 4), 0);
  EXPECT_EQ(LongestMergedSegment("1", 1, INT_MIN), 1);
  EXPECT_EQ(LongestMergedSegment("1000000001", 10, INT_MAX), 10);
  EXPECT_EQ(LongestMergedSegment("", 0, 4), 0);
}

void ClearDistribution() {
  special_rand_p.assign(kMinDistributionSize, 0.0);
  r_special.clear();
}

// Saves the generator and every global the random stage reads or writes, and
// restores them afterwards.
class RandomStageTest : public testing::Test {
 protected:
  void SetUp() override {
    saved_ = {SaveGenerator(),
              random_seqs,
              estimate_ran,
              max_separation,
              aa_freq,
              special_aa,
              std::vector<char>(long_seq, long_seq + sizeof long_seq)};
    std::strcpy(special_aa, "GPSTDNH");
  }
  void TearDown() override {
    RestoreGenerator(saved_.generator);
    std::tie(random_seqs, estimate_ran, max_separation, aa_freq) =
        std::tie(saved_.seqs, saved_.mode, saved_.separation, saved_.table);
    std::strcpy(special_aa, saved_.special.c_str());
    std::memcpy(long_seq, saved_.pool.data(), sizeof long_seq);
    ClearDistribution();
  }

  struct {
    GeneratorState generator;
    int seqs, mode, separation;
    const double* table;
    std::string special;
    std::vector<char> pool;
  } saved_;
};
using GeneratorTest = RandomStageTest;
using EstimateTest = RandomStageTest;

// Runs fast and literal on copies of input from the same generator state; both
// must write the same text and leave the same state behind. Returns the text.
template <class Fast, class Literal>
std::string ExpectSameDraws(const std::string& input, Fast fast, Literal literal,
                            const std::string& what) {
  std::string a = input, b = input;
  const GeneratorState start = SaveGenerator();
  fast(a.data());
  const GeneratorState after_fast = SaveGenerator();
  RestoreGenerator(start);
  literal(b.data());
  EXPECT_EQ(a, b) << what;
  EXPECT_EQ(after_fast, SaveGenerator()) << what;
  return a;
}

// Fewer than two positions stay as they are without a draw, on both sides.
TEST_F(GeneratorTest, ShuffleMatchesLiteralFromManyStates) {
  unsigned seed = 1;
  for (long generator_seed : kSeeds) {
    for (int n : {0, 1, 2, 3, 5, 17, 50, 64, 100, 1000, 4097}) {
      Seed(generator_seed);
      ExpectSameDraws(
          RandomString(n, 0.4, seed++), [&](char* s) { ShuffleSequenceRegular(s, n); },
          [&](char* s) { literal::ShuffleSequenceRegular(s, n); },
          "seed=" + std::to_string(generator_seed) + " n=" + std::to_string(n));
    }
  }
}

TEST_F(GeneratorTest, ShuffleBeforeSeedingIsRefused) {
  EXPECT_EXIT(
      {
        _ran1_not_initialized_ = 1;
        dup2(2, 1);  // the refusal goes to standard output
        char s[] = "0101";
        ShuffleSequenceRegular(s, 4);
      },
      testing::ExitedWithCode(1), "^\nERROR: RAN1\\(\\) was not initialized$");
}

TEST_F(GeneratorTest, GeneratedResiduesMatchLiteralForEveryTable) {
  double with_gaps[20] = {};
  with_gaps[0] = 0.5;
  with_gaps[5] = 0.25;
  with_gaps[19] = 0.125;  // sums to 0.875: one draw in eight writes nothing
  for (const double* table : {sp_aa_freq, pdb_aa_freq, static_cast<const double*>(with_gaps)}) {
    double bounds[21], literal_bounds[21];
    SetIntervals(table, bounds);
    literal::SetIntervals(table, literal_bounds);
    EXPECT_EQ(0, std::memcmp(bounds, literal_bounds, sizeof bounds));
    if (table == sp_aa_freq) {
      EXPECT_EQ(bounds[20], 0.9999999999999999);
    } else if (table == pdb_aa_freq) {
      EXPECT_LT(bounds[20], 1.0);
    }
    for (long generator_seed : kSeeds) {
      Seed(generator_seed);
      const std::string residues = ExpectSameDraws(
          std::string(100000, '#'), [&](char* d) { GenerateRandomSequence(d, 100000, bounds); },
          [&](char* d) { literal::GenerateRandomSequence(d, 100000, bounds); },
          "seed=" + std::to_string(generator_seed));
      if (table == sp_aa_freq) {
        EXPECT_EQ(residues.find_first_not_of(std::string(aa, 20)), std::string::npos);
      }
    }
  }
}

TEST_F(GeneratorTest, PoolDrawsMatchLiteral) {
  const std::string pool = RandomString(1000000, 0.3, 11, "ACDEFGHIK");
  for (long generator_seed : {1L, kRawModulusState}) {
    for (int pool_size : {1, 7, 1000, 1000000}) {
      for (int n : {0, 1, 255, 256, 257, 600, 40000}) {
        generator_seed == 1 ? init_ran1(pool_size + n) : Seed(generator_seed);
        ExpectSameDraws(
            std::string(n, '#'), [&](char* d) { GenerateSequence(d, n, pool.data(), pool_size); },
            [&](char* d) { literal::GenerateSequence(d, n, pool.data(), pool_size); },
            "n=" + std::to_string(n) + " pool=" + std::to_string(pool_size));
      }
    }
  }
}

struct Outcome {
  std::vector<double> distribution;
  std::string sequence;
  FragmentList last_segments;
  GeneratorState generator;
  std::vector<char> pool;
};

// Both stages from the same generator state and pool: same distribution
// (entries compared with ==), working string, last segments, state and pool.
// Returns the program's outcome.
Outcome ExpectMatchesLiteral(const std::string& input, long seed) {
  const std::vector<char> pool(long_seq, long_seq + sizeof long_seq);
  Outcome outcomes[2];
  for (int literal_side = 0; literal_side < 2; ++literal_side) {
    init_ran1(seed);
    std::memcpy(long_seq, pool.data(), sizeof long_seq);
    ClearDistribution();
    std::string s = input;
    (literal_side ? literal::EstimateRandomPM : EstimateRandomPM)(s.data(),
                                                                  static_cast<int>(s.size()));
    outcomes[literal_side] = {special_rand_p, s, r_special, SaveGenerator(),
                              std::vector<char>(long_seq, long_seq + sizeof long_seq)};
  }
  const Outcome &fast = outcomes[0], &slow = outcomes[1];
  EXPECT_TRUE(fast.distribution == slow.distribution);
  EXPECT_EQ(fast.sequence, slow.sequence);
  ExpectSameFragments(fast.last_segments, slow.last_segments);
  EXPECT_EQ(fast.generator, slow.generator);
  EXPECT_TRUE(fast.pool == slow.pool);
  return fast;
}

TEST_F(EstimateTest, ShuffledRunsMatchLiteralEntryByEntry) {
  estimate_ran = 2;
  random_seqs = 300;
  unsigned seed = 1;
  for (int n : {1, 2, 37, 300}) {
    for (int E : kSeparations) {
      max_separation = E;
      SCOPED_TRACE("n=" + std::to_string(n) + " E=" + std::to_string(E));
      ExpectMatchesLiteral(RandomString(n, 0.36, seed), seed);
      ++seed;
    }
  }
  random_seqs = 40;
  max_separation = 4;
  ExpectMatchesLiteral(RandomString(3000, 0.36, 99), 2147483647);
}

// Generated sequences hold only encoded residues and the pool never an 'X',
// even with the table whose boundaries sum below 1.
TEST_F(EstimateTest, GeneratedRunsMatchLiteralWithBothTables) {
  estimate_ran = 1;
  random_seqs = 150;
  unsigned seed = 1;
  for (const double* table : {sp_aa_freq, pdb_aa_freq}) {
    aa_freq = table;
    for (int E : {INT_MIN, 0, 4, INT_MAX}) {
      max_separation = E;
      SCOPED_TRACE("E=" + std::to_string(E));
      ExpectMatchesLiteral(std::string(400, '0'), seed++);
    }
    max_separation = 4;
    for (int n : {1, 64, 129, 5000}) {
      const Outcome o = ExpectMatchesLiteral(std::string(n, '0'), seed++);
      EXPECT_EQ(o.sequence.find_first_not_of("01"), std::string::npos);
      EXPECT_EQ(std::string(o.pool.data(), kPoolSize).find('X'), std::string::npos);
      EXPECT_NEAR(Sum(o.distribution), 1.0, 1e-12);
    }
  }
}

// Shuffles keep the special count; no-special and all-special inputs give a
// certain length; the distribution grows to N + 1 entries past its minimum;
// no random sequences leave the string, the table and the generator alone.
TEST_F(EstimateTest, ShufflesGiveTheDocumentedDistributions) {
  const struct {
    std::string input;
    int seqs;
    int certain_length;  // -1: a spread distribution, -2: none at all
  } cases[] = {
      {RandomString(2000, 0.2, 8), 25, -1},
      {std::string(500, '0'), 30, 0},
      {std::string(2, '1'), 3, 2},
      {std::string(10, '1'), 3, 10},
      {std::string(10000, '1'), 3, 10000},
      {std::string(12000, '1'), 2, 12000},
      {"0110", 0, -2},
  };
  estimate_ran = 2;
  for (const auto& c : cases) {
    const int n = static_cast<int>(c.input.size());
    SCOPED_TRACE("n=" + std::to_string(n));
    random_seqs = c.seqs;
    init_ran1(n);
    ClearDistribution();
    const GeneratorState before = SaveGenerator();
    std::string s = c.input;
    EstimateRandomPM(s.data(), n);
    EXPECT_EQ(Ones(s), Ones(c.input));
    EXPECT_EQ(special_rand_p.size(), static_cast<size_t>(std::max(kMinDistributionSize, n + 1)));
    if (c.certain_length == -2) {
      EXPECT_EQ(s, c.input);
      EXPECT_EQ(Sum(special_rand_p), 0.0);
      EXPECT_EQ(before, SaveGenerator());
    } else if (c.certain_length == -1) {
      EXPECT_NE(s, c.input);
      EXPECT_NEAR(Sum(special_rand_p), 1.0, 1e-12);
    } else {
      EXPECT_EQ(special_rand_p[c.certain_length], 1.0);
      EXPECT_EQ(Sum(special_rand_p), 1.0);
    }
  }
}

// Whole runs of the program with random sequences.
class RandomRunTest : public testing::Test {
 protected:
  void SetUp() override { dir_ = MakeTempDir(); }

  ProcessResult Run(const std::string& residues, const std::string& option) {
    WriteFile(dir_ + "/in.fa", ">test\n" + residues + "\n");
    return RunProcess(TALVO_EXE, {"in.fa", "out", option}, dir_);
  }

  std::string Report() { return ReadFile(dir_ + "/out.seg"); }

  std::string dir_;
};

TEST_F(RandomRunTest, ProgressLinesEveryThousandSequences) {
  const std::string protein = "MVHLTPEEKSAVTALWGKVNVDEVGGEALGRLLVVYPWTQRFFESFGDLSTPDAVMGNPKV";
  const struct {
    const char* option;
    const char* progress;
  } cases[] = {{"-S:2000", "N=1000\nN=2000\n"}, {"-G:1000", "N=1000\n"}, {"-S:999", ""}};
  for (const auto& c : cases) {
    const ProcessResult r = Run(protein, c.option);
    ASSERT_EQ(r.exit_status, 0) << c.option << r.err;
    std::istringstream lines(r.out);
    std::string progress;
    for (std::string line; std::getline(lines, line);) {
      if (line.find("N=") != std::string::npos) progress += line + "\n";
    }
    EXPECT_EQ(progress, c.progress) << c.option;
  }
}

TEST_F(RandomRunTest, SegmentPValuesDependOnlyOnLength) {
  // Two segments of five positions, one all special (GGGGG), one with a
  // non-special residue inside (GAGGG), far apart.
  const std::string filler(40, 'L');
  const std::string residues = filler + "GGGGG" + filler + "GAGGG" + filler + "GG" + filler;
  const std::regex lines(
      "\n#Segments: 3\n1 41 45 5 5 (\\S+) GGGGG\n2 86 90 5 4 (\\S+) GAGGG\n3 131 132 2 2 (\\S+) "
      "GG\n");
  for (const std::string mode : {"-S:300", "-G:300"}) {
    ASSERT_EQ(Run(residues, mode).exit_status, 0);
    const std::string report = Report();
    std::smatch p;
    ASSERT_TRUE(std::regex_search(report, p, lines)) << mode << report;
    EXPECT_EQ(p[1], p[2]) << mode;
    if (mode == "-S:300") {
      // Sparse shuffles rarely reach five; the shorter segment is commoner.
      EXPECT_NE(p[1], "1.000000e+00");
      EXPECT_NE(p[1], p[3]);
    }
  }
}

TEST_F(RandomRunTest, AllSpecialInputLongerThanTenThousandIsNotSignificant) {
  // Every shuffle of 12,000 special residues is one segment of 12,000, so the
  // input's own segment is as long as every random one: p = 1.
  ProcessResult result = Run(std::string(12000, 'G'), "-S:3");
  ASSERT_EQ(result.exit_status, 0) << result.err;
  EXPECT_NE(Report().find("\n#Segments: 1\n1 1 12000 12000 12000 1.000000e+00 GGG"),
            std::string::npos);
}

}  // namespace
