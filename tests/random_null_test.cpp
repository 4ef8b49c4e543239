#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cstring>
#include <numeric>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "alphabet/alphabet.h"
#include "detect/detect.h"
#include "driver/driver.h"
#include "random/random.h"
#include "reference/detect_reference.h"
#include "reference/random_reference.h"
#include "support/process.h"

namespace {

// Both sides of one word of separation, where the pass changes its method.
const int kSeparations[] = {INT_MIN, -3, -1, 0, 1, 2, 3, 4, 5, 9, 13, 63, 64, 65, 100, INT_MAX};

struct GeneratorState {
  int flag;
  int64_t idum;
  int64_t y;
  int64_t table[32];
};

GeneratorState SaveGenerator() {
  GeneratorState g{_ran1_not_initialized_, _idum_, iy, {}};
  std::memcpy(g.table, iv, sizeof iv);
  return g;
}

void RestoreGenerator(const GeneratorState& g) {
  _ran1_not_initialized_ = g.flag;
  _idum_ = g.idum;
  iy = g.y;
  std::memcpy(iv, g.table, sizeof iv);
}

void ExpectSameGenerator(const GeneratorState& a, const GeneratorState& b) {
  EXPECT_EQ(a.flag, b.flag);
  EXPECT_EQ(a.idum, b.idum);
  EXPECT_EQ(a.y, b.y);
  EXPECT_EQ(0, std::memcmp(a.table, b.table, sizeof a.table));
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

int LiteralLongest(const std::string& s, int E) {
  FragmentList list;
  literal::FindRuns(s.data(), static_cast<int>(s.size()), list);
  return literal::MergeSegmentsDiscrete(s.data(), list, E);
}

int Ones(const std::string& s) {
  return static_cast<int>(std::count(s.begin(), s.end(), '1'));
}

TEST(LongestMergedSegment, AgreesWithRunsAndMergeOnEveryShortString) {
  for (int n = 0; n <= 12; ++n) {
    for (int bits = 0; bits < (1 << n); ++bits) {
      std::string s(n, '0');
      for (int i = 0; i < n; ++i) s[i] = (bits >> i & 1) ? '1' : '0';
      for (int E : kSeparations) {
        ASSERT_EQ(LongestMergedSegment(s.data(), n, E), LiteralLongest(s, E)) << s << " E=" << E;
      }
    }
  }
}

TEST(LongestMergedSegment, AgreesOnLongStringsAcrossWordBoundaries) {
  std::vector<uint64_t> scratch;
  unsigned seed = 1;
  for (int n : {63, 64, 65, 127, 128, 129, 1000, 4096}) {
    for (double density : {0.02, 0.36, 0.5, 0.8, 0.98}) {
      const std::string s = RandomString(n, density, seed++);
      for (int E : kSeparations) {
        ASSERT_EQ(LongestMergedSegment(s.data(), n, E, scratch), LiteralLongest(s, E))
            << "n=" << n << " density=" << density << " E=" << E;
      }
    }
  }
}

TEST(LongestMergedSegment, ReadsOnlyTheFirstNCharactersAndTreatsOthersAsNonSpecial) {
  unsigned seed = 100;
  for (int n : {1, 9, 64, 200, 777}) {
    const std::string s = RandomString(n, 0.4, seed++, std::string("0x2\0Z", 5));
    const std::string padded = s + "1111111111";
    for (int E : kSeparations) {
      ASSERT_EQ(LongestMergedSegment(padded.data(), n, E), LiteralLongest(s, E));
    }
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

class GeneratorTest : public testing::Test {
 protected:
  void SetUp() override { saved_ = SaveGenerator(); }
  void TearDown() override { RestoreGenerator(saved_); }

  // Runs fast and literal from the same generator state; both must leave the
  // same state behind.
  template <class Fast, class Literal>
  void ExpectSameDraws(Fast fast, Literal literal) {
    const GeneratorState start = SaveGenerator();
    fast();
    const GeneratorState after_fast = SaveGenerator();
    RestoreGenerator(start);
    literal();
    ExpectSameGenerator(after_fast, SaveGenerator());
  }

  // Raw state of seed 2147483647 before its warm-up: the first table is all
  // zeros, the first draw is 0 and the next rebuilds the table.
  static void SetModulusState() {
    _ran1_not_initialized_ = 0;
    _idum_ = -2147483647;
    iy = 0;
    std::memset(iv, 0, sizeof iv);
  }

  GeneratorState saved_;
};

const long kSeeds[] = {1, 7, 123456, 2147483646, 2147483647};

TEST_F(GeneratorTest, ShuffleMatchesLiteralFromManyStates) {
  unsigned seed = 1;
  for (long generator_seed : kSeeds) {
    for (int n : {2, 3, 5, 17, 64, 100, 1000, 4097}) {
      init_ran1(generator_seed);
      const std::string input = RandomString(n, 0.4, seed++);
      std::string fast = input, slow = input;
      ExpectSameDraws([&] { ShuffleSequenceRegular(fast.data(), n); },
                      [&] { literal::ShuffleSequenceRegular(slow.data(), n); });
      ASSERT_EQ(fast, slow) << "seed=" << generator_seed << " n=" << n;
      EXPECT_EQ(Ones(fast), Ones(input));
    }
  }
}

TEST_F(GeneratorTest, ShuffleMatchesLiteralThroughATableRebuild) {
  for (int n : {2, 3, 50}) {
    SetModulusState();
    const std::string input = RandomString(n, 0.5, 7);
    std::string fast = input, slow = input;
    ExpectSameDraws([&] { ShuffleSequenceRegular(fast.data(), n); },
                    [&] { literal::ShuffleSequenceRegular(slow.data(), n); });
    EXPECT_EQ(fast, slow);
  }
}

TEST_F(GeneratorTest, ShuffleOfFewerThanTwoPositionsChangesNothingAndDrawsNothing) {
  init_ran1(5);
  const GeneratorState before = SaveGenerator();
  char one[] = "1";
  ShuffleSequenceRegular(one, 1);
  ShuffleSequenceRegular(one, 0);
  EXPECT_STREQ(one, "1");
  ExpectSameGenerator(before, SaveGenerator());
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

TEST_F(GeneratorTest, IntervalsFollowTheTablesInResidueOrder) {
  double fast[21], slow[21];
  SetIntervals(sp_aa_freq, fast);
  literal::SetIntervals(sp_aa_freq, slow);
  EXPECT_EQ(0, std::memcmp(fast, slow, sizeof fast));
  EXPECT_EQ(fast[20], 0.9999999999999999);
  SetIntervals(pdb_aa_freq, fast);
  literal::SetIntervals(pdb_aa_freq, slow);
  EXPECT_EQ(0, std::memcmp(fast, slow, sizeof fast));
  EXPECT_LT(fast[20], 1.0);
}

TEST_F(GeneratorTest, GeneratedResiduesMatchLiteralForEveryTable) {
  double with_gaps[20] = {};
  with_gaps[0] = 0.5;
  with_gaps[5] = 0.25;
  with_gaps[19] = 0.125;  // sums to 0.875: one draw in eight writes nothing
  for (const double* table : {sp_aa_freq, pdb_aa_freq, static_cast<const double*>(with_gaps)}) {
    for (long generator_seed : kSeeds) {
      init_ran1(generator_seed);
      double bounds[21];
      SetIntervals(table, bounds);
      const int count = 100000;
      std::string fast(count, '#'), slow(count, '#');
      ExpectSameDraws([&] { GenerateRandomSequence(fast.data(), count, bounds); },
                      [&] { literal::GenerateRandomSequence(slow.data(), count, bounds); });
      ASSERT_EQ(fast, slow);
      if (table == sp_aa_freq) {
        EXPECT_EQ(fast.find_first_not_of(std::string(aa, 20)), std::string::npos);
      }
    }
  }
}

TEST_F(GeneratorTest, PoolDrawsMatchLiteral) {
  const std::string pool = RandomString(1000000, 0.3, 11, "ACDEFGHIK");
  for (int pool_size : {1, 7, 1000, 1000000}) {
    for (int n : {0, 1, 255, 256, 257, 40000}) {
      init_ran1(pool_size + n);
      std::string fast(n, '#'), slow(n, '#');
      ExpectSameDraws([&] { GenerateSequence(fast.data(), n, pool.data(), pool_size); },
                      [&] { literal::GenerateSequence(slow.data(), n, pool.data(), pool_size); });
      ASSERT_EQ(fast, slow);
    }
  }
  SetModulusState();
  std::string fast(600, '#'), slow(600, '#');
  ExpectSameDraws([&] { GenerateSequence(fast.data(), 600, pool.data(), 1000000); },
                  [&] { literal::GenerateSequence(slow.data(), 600, pool.data(), 1000000); });
  EXPECT_EQ(fast, slow);
}

// Saves every global the stage reads or writes and restores it afterwards.
class EstimateTest : public GeneratorTest {
 protected:
  void SetUp() override {
    GeneratorTest::SetUp();
    saved_seqs_ = random_seqs;
    saved_mode_ = estimate_ran;
    saved_separation_ = max_separation;
    saved_table_ = aa_freq;
    std::memcpy(saved_special_, special_aa, sizeof special_aa);
    saved_pool_.assign(long_seq, long_seq + sizeof long_seq);
    std::strcpy(special_aa, "GPSTDNH");
  }
  void TearDown() override {
    random_seqs = saved_seqs_;
    estimate_ran = saved_mode_;
    max_separation = saved_separation_;
    aa_freq = saved_table_;
    std::memcpy(special_aa, saved_special_, sizeof special_aa);
    std::memcpy(long_seq, saved_pool_.data(), sizeof long_seq);
    special_rand_p.assign(kMinDistributionSize, 0.0);
    r_special.clear();
    GeneratorTest::TearDown();
  }

  struct Outcome {
    std::vector<double> distribution;
    std::string sequence;
    FragmentList last_segments;
    GeneratorState generator;
    std::vector<char> pool;
  };

  template <class Estimate>
  Outcome Run(Estimate estimate, const std::string& input, long seed,
              const std::vector<char>& pool) {
    init_ran1(seed);
    std::memcpy(long_seq, pool.data(), sizeof long_seq);
    special_rand_p.assign(kMinDistributionSize, 0.0);
    r_special.clear();
    std::string s = input;
    estimate(s.data(), static_cast<int>(s.size()));
    return {special_rand_p, s, r_special, SaveGenerator(),
            std::vector<char>(long_seq, long_seq + sizeof long_seq)};
  }

  void ExpectMatchesLiteral(const std::string& input, long seed) {
    const std::vector<char> pool(long_seq, long_seq + sizeof long_seq);
    const Outcome fast = Run(EstimateRandomPM, input, seed, pool);
    const Outcome slow = Run(literal::EstimateRandomPM, input, seed, pool);
    ASSERT_EQ(fast.distribution.size(), slow.distribution.size());
    for (size_t i = 0; i < fast.distribution.size(); ++i) {
      ASSERT_EQ(fast.distribution[i], slow.distribution[i]) << "entry " << i;
    }
    EXPECT_EQ(fast.sequence, slow.sequence);
    ASSERT_EQ(fast.last_segments.size(), slow.last_segments.size());
    for (size_t i = 0; i < fast.last_segments.size(); ++i) {
      EXPECT_EQ(fast.last_segments[i].start, slow.last_segments[i].start);
      EXPECT_EQ(fast.last_segments[i].end, slow.last_segments[i].end);
      EXPECT_EQ(fast.last_segments[i].length, slow.last_segments[i].length);
      EXPECT_EQ(fast.last_segments[i].n_special, slow.last_segments[i].n_special);
    }
    ExpectSameGenerator(fast.generator, slow.generator);
    EXPECT_TRUE(fast.pool == slow.pool);
  }

  static double Sum(const std::vector<double>& v) {
    return std::accumulate(v.begin(), v.end(), 0.0);
  }

  int saved_seqs_ = 0, saved_mode_ = 0, saved_separation_ = 0;
  const double* saved_table_ = nullptr;
  char saved_special_[21] = {};
  std::vector<char> saved_pool_;
};

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
    for (int n : {1, 64, 129}) ExpectMatchesLiteral(std::string(n, '0'), seed++);
  }
}

TEST_F(EstimateTest, GeneratedModeDrawsOnlyEncodedResidues) {
  estimate_ran = 1;
  random_seqs = 20;
  aa_freq = pdb_aa_freq;
  std::memset(long_seq, 0, sizeof long_seq);
  init_ran1(3);
  std::string s(5000, '0');
  EstimateRandomPM(s.data(), 5000);
  EXPECT_EQ(s.find_first_not_of("01"), std::string::npos);
  EXPECT_EQ(std::string(long_seq, kPoolSize).find('X'), std::string::npos);
  EXPECT_NEAR(Sum(special_rand_p), 1.0, 1e-12);
}

TEST_F(EstimateTest, ShufflesKeepTheNumberOfSpecialPositions) {
  estimate_ran = 2;
  random_seqs = 25;
  init_ran1(8);
  const std::string input = RandomString(2000, 0.2, 8);
  std::string s = input;
  EstimateRandomPM(s.data(), 2000);
  EXPECT_EQ(Ones(s), Ones(input));
  EXPECT_NE(s, input);
  EXPECT_NEAR(Sum(special_rand_p), 1.0, 1e-12);
}

TEST_F(EstimateTest, InputWithoutSpecialPositionsGivesOnlyLengthZero) {
  estimate_ran = 2;
  random_seqs = 30;
  init_ran1(1);
  std::string s(500, '0');
  EstimateRandomPM(s.data(), 500);
  EXPECT_EQ(special_rand_p[0], 1.0);
  EXPECT_EQ(Sum(special_rand_p), 1.0);
}

TEST_F(EstimateTest, AllSpecialInputGivesItsOwnLength) {
  estimate_ran = 2;
  random_seqs = 3;
  for (int n : {2, 10, 10000}) {
    init_ran1(n);
    special_rand_p.assign(kMinDistributionSize, 0.0);
    std::string s(n, '1');
    EstimateRandomPM(s.data(), n);
    EXPECT_EQ(special_rand_p.size(), static_cast<size_t>(kMinDistributionSize));
    EXPECT_EQ(special_rand_p[n], 1.0);
    EXPECT_EQ(Sum(special_rand_p), 1.0);
  }
}

TEST_F(EstimateTest, LongInputsGetEntriesForTheirLongestSegments) {
  estimate_ran = 2;
  random_seqs = 2;
  init_ran1(4);
  std::string s(12000, '1');
  EstimateRandomPM(s.data(), 12000);
  ASSERT_EQ(special_rand_p.size(), 12001u);
  EXPECT_EQ(special_rand_p[12000], 1.0);
  EXPECT_EQ(Sum(special_rand_p), 1.0);
}

TEST_F(EstimateTest, ProgressIsPrintedEveryThousandSequences) {
  estimate_ran = 2;
  max_separation = 4;
  for (int seqs : {999, 2000}) {
    random_seqs = seqs;
    init_ran1(2);
    std::string s = RandomString(12, 0.5, 2);
    testing::internal::CaptureStdout();
    EstimateRandomPM(s.data(), 12);
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(printed, seqs == 2000 ? "N=1000\nN=2000\n" : "");
  }
}

TEST_F(EstimateTest, NoRandomSequencesLeavesEverythingAlone) {
  random_seqs = 0;
  estimate_ran = 2;
  init_ran1(6);
  const GeneratorState before = SaveGenerator();
  std::string s = "0110";
  EstimateRandomPM(s.data(), 4);
  EXPECT_EQ(s, "0110");
  EXPECT_EQ(Sum(special_rand_p), 0.0);
  ExpectSameGenerator(before, SaveGenerator());
}

// Whole runs of the program with random sequences.
class RandomRunTest : public testing::Test {
 protected:
  void SetUp() override { dir_ = MakeTempDir(); }

  ProcessResult Run(const std::string& residues, const std::vector<std::string>& options) {
    WriteFile(dir_ + "/in.fa", ">test\n" + residues + "\n");
    std::vector<std::string> args = {"in.fa", "out"};
    args.insert(args.end(), options.begin(), options.end());
    return RunProcess(TALVO_EXE, args, dir_);
  }

  struct SegmentLine {
    int length;
    int special;
    std::string p_value;
  };

  std::vector<SegmentLine> Segments() {
    std::istringstream report(ReadFile(dir_ + "/out.seg"));
    std::string line;
    while (std::getline(report, line) && line.rfind("#Segments:", 0) != 0) {
    }
    std::vector<SegmentLine> segments;
    while (std::getline(report, line) && !line.empty()) {
      std::istringstream fields(line);
      int index, start, end;
      SegmentLine segment;
      fields >> index >> start >> end >> segment.length >> segment.special >> segment.p_value;
      segments.push_back(segment);
    }
    return segments;
  }

  static int Count(const std::string& text, const std::string& part) {
    int count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
      ++count;
    }
    return count;
  }

  std::string dir_;
};

TEST_F(RandomRunTest, ProgressLinesEveryThousandSequences) {
  const std::string protein = "MVHLTPEEKSAVTALWGKVNVDEVGGEALGRLLVVYPWTQRFFESFGDLSTPDAVMGNPKV";
  ProcessResult two_thousand = Run(protein, {"-S:2000"});
  ASSERT_EQ(two_thousand.exit_status, 0) << two_thousand.err;
  EXPECT_EQ(Count(two_thousand.out, "N="), 2);
  EXPECT_EQ(Count(two_thousand.out, "\nN=1000\nN=2000\n"), 1);

  ProcessResult generated = Run(protein, {"-G:1000"});
  ASSERT_EQ(generated.exit_status, 0) << generated.err;
  EXPECT_EQ(Count(generated.out, "\nN=1000\n"), 1);

  ProcessResult below = Run(protein, {"-S:999"});
  ASSERT_EQ(below.exit_status, 0) << below.err;
  EXPECT_EQ(Count(below.out, "N="), 0);
}

TEST_F(RandomRunTest, SegmentPValuesDependOnlyOnLength) {
  // Two segments of five positions, one all special (GGGGG), one with a
  // non-special residue inside (GAGGG), far apart.
  const std::string filler(40, 'L');
  const std::string residues = filler + "GGGGG" + filler + "GAGGG" + filler + "GG" + filler;
  for (const char* mode : {"-S:300", "-G:300"}) {
    ASSERT_EQ(Run(residues, {mode}).exit_status, 0);
    const std::vector<SegmentLine> segments = Segments();
    ASSERT_EQ(segments.size(), 3u) << mode;
    EXPECT_EQ(segments[0].length, 5);
    EXPECT_EQ(segments[1].length, 5);
    EXPECT_EQ(segments[0].special, 5);
    EXPECT_EQ(segments[1].special, 4);
    EXPECT_EQ(segments[0].p_value, segments[1].p_value) << mode;
    if (std::string(mode) == "-S:300") {
      // Sparse shuffles rarely reach five; the shorter segment is commoner.
      EXPECT_NE(segments[0].p_value, "1.000000e+00");
      EXPECT_NE(segments[0].p_value, segments[2].p_value);
    }
  }
}

TEST_F(RandomRunTest, AllSpecialInputLongerThanTenThousandIsNotSignificant) {
  // Every shuffle of 12,000 special residues is one segment of 12,000, so the
  // input's own segment is as long as every random one: p = 1.
  ProcessResult result = Run(std::string(12000, 'G'), {"-S:3"});
  ASSERT_EQ(result.exit_status, 0) << result.err;
  const std::vector<SegmentLine> segments = Segments();
  ASSERT_EQ(segments.size(), 1u);
  EXPECT_EQ(segments[0].length, 12000);
  EXPECT_EQ(segments[0].p_value, "1.000000e+00");
}

}  // namespace
