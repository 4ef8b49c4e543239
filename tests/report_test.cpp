#include "report/report.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "alphabet/alphabet.h"
#include "detect/detect.h"
#include "driver/driver.h"
#include "random/random.h"
#include "reference/report_reference.h"
#include "stats/stats.h"
#include "support/fragments.h"
#include "support/process.h"

namespace {

std::string Printf(const char* format, double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, format, value);
  return buffer;
}

std::string Repeat(const std::string& unit, int times) {
  std::string s;
  while (times-- > 0) s += unit;
  return s;
}

template <typename Writer>
std::string Capture(Writer write) {
  FILE* stream = std::tmpfile();
  write(stream);
  std::fflush(stream);
  std::rewind(stream);
  std::string text;
  for (int c = std::fgetc(stream); c != EOF; c = std::fgetc(stream)) text.push_back(char(c));
  std::fclose(stream);
  return text;
}

TEST(FormOutL, BreaksLinesAfterEveryWidthCharactersLikeTheLiteralWriter) {
  const std::string a80(80, 'A'), data = a80 + "B" + a80;
  auto lines = [](const char* d, int len, int width) {
    return Capture([&](FILE* f) { form_out_l(f, d, len, width); });
  };
  EXPECT_EQ(lines(data.data(), 0, 80), "");
  EXPECT_EQ(lines(data.data(), -5, 80), "");
  EXPECT_EQ(lines(data.data(), 80, 80), a80 + "\n");
  EXPECT_EQ(lines(data.data(), 81, 80), a80 + "\nB\n");
  EXPECT_EQ(lines("abcdefg", 7, 3), "abc\ndef\ng\n");
  EXPECT_EQ(lines("abcdef", 6, 3), "abc\ndef\n");
  std::string letters(300, 'x');
  for (size_t i = 0; i < letters.size(); i++) letters[i] = char('a' + i % 26);
  for (int width = 1; width <= 90; width += 7) {
    for (int len = 0; len <= 300; len += 13) {
      EXPECT_EQ(lines(letters.data(), len, width),
                Capture([&](FILE* f) { literal::form_out_l(f, letters.data(), len, width); }))
          << len << " " << width;
    }
  }
}

TEST(CumulativeProb, SumsInclusiveRangeInAscendingOrder) {
  const double table[] = {0.5, 0.25, 0.125, 0.0625};
  EXPECT_EQ(CumulativeProb(1, 2, table), 0.375);
  EXPECT_EQ(CumulativeProb(0, 3, table), 0.9375);
  EXPECT_EQ(CumulativeProb(3, 2, table), 0.0);
  std::mt19937 rng(3);
  std::uniform_real_distribution<double> value(0.0, 1e-3);
  std::vector<double> big(10001);
  for (double& v : big) v = value(rng);
  for (int from = 0; from <= 10001; from += 97) {
    const double fast = CumulativeProb(from, 10000, big.data()),
                 slow = literal::CumulativeProb(from, 10000, big.data());
    EXPECT_EQ(std::memcmp(&fast, &slow, sizeof fast), 0) << from;
  }
}

TEST(ComputeNSuccesses, CountsResiduesOfTheSetInInclusiveRange) {
  EXPECT_EQ(ComputeNSuccesses("GPSTDNH", "AGPXAS", 0, 5), 3);
  EXPECT_EQ(ComputeNSuccesses("GPSTDNH", "AGPXAS", 1, 1), 1);
  EXPECT_EQ(ComputeNSuccesses("GPSTDNH", "AGPXAS", 3, 2), 0);
  EXPECT_EQ(ComputeNSuccesses("", "AGPXAS", 0, 5), 0);
  EXPECT_EQ(ComputeNSuccesses("G", "ggGG", 0, 3), 2);  // the set is case sensitive
}

// Runs the program's writer or the literal one on a fresh pair of files.
class WriteSegmentsTest : public ::testing::Test {
 protected:
  struct Written {
    std::string report, fasta;
    int status;
  };

  void SetUp() override {
    dir_ = MakeTempDir();
    Reset(0.36532);
  }
  void TearDown() override { Reset(0.0); }

  static void Reset(double p_special) {
    std::strcpy(special_aa, "GPSTDNH");
    P_special = p_special;
    fasta_output = 0;
    masking_p_val = 0.05;
    random_seqs = 0;
    special_rand_p.assign(kMinDistributionSize, 0.0);
  }

  Written Write(const std::string& residues, FragmentList list, bool use_literal = false,
                const char* fasta_path = nullptr) {
    std::vector<char> seq(residues.begin(), residues.end());
    seq.push_back('\0');
    std::vector<char> masked(seq.size(), '\0');
    char name[] = "test protein";
    masked_seq = masked.data();
    const std::string report_path = dir_ + "/r.seg";
    const std::string fasta_file = fasta_path ? fasta_path : dir_ + "/r.fas";
    out = std::fopen(report_path.c_str(), "w");
    fasta_out = fasta_output > 0 ? std::fopen(fasta_file.c_str(), "w") : nullptr;
    const int N = static_cast<int>(residues.size());
    Written w;
    w.status = use_literal ? literal::WriteSegments(seq.data(), name, N, list)
                           : WriteSegments(seq.data(), name, N, list);
    std::fclose(out);
    out = nullptr;
    w.report = ReadFile(report_path);
    w.fasta = fasta_output > 0 && !fasta_path ? ReadFile(fasta_file) : "";
    masked_seq = nullptr;
    return w;
  }

  std::string dir_;
};

// An empty list gives zero segments and the overall line: the upper tail from
// the expected count on (+), the lower below it (-), '*' where the normal
// approximation is not valid and "nan" where its variance is 0.
TEST_F(WriteSegmentsTest, EmptyListGivesZeroSegmentsAndTheOverallLine) {
  const struct {
    std::string seq;
    double p;
    int count;
    bool plus;
    const char* approx_format;  // the end of the line, given the approximation
  } cases[] = {
      {"GGGG" + std::string(16, 'A'), 0.36532, 4, false, "%e* (-)\n"},
      {Repeat("GAAA", 20), 0.25, 20, true, "%e (+)\n"},
      {"AAAA" + Repeat("GAAA", 19), 0.25, 19, false, "%e (-)\n"},
      {"GGAA", 0.0, 2, true, "nan* (+)\n"},
      {"GGAA", 1.0, 2, false, "nan* (-)\n"},
  };
  fasta_output = 1;
  for (const auto& c : cases) {
    P_special = c.p;
    const int N = static_cast<int>(c.seq.size());
    int valid = 0;
    const double exact =
        c.plus ? Binomial_P_GreaterThan_K(c.count, N, c.p) : Binomial_P_LessThan_K(c.count, N, c.p);
    const double approx = c.plus ? ApproxBinomial_P_GreaterThan_K(c.count, N, c.p, valid)
                                 : ApproxBinomial_P_LessThan_K(c.count, N, c.p, valid);
    const Written w = Write(c.seq, {});
    EXPECT_EQ(w.report, "\n>test protein\n" + c.seq +
                            "\n\n#Segments: 0\n\n#Overall: " + std::to_string(c.count) + " " +
                            Printf("%e", exact) + " " + Printf(c.approx_format, approx))
        << c.seq << " p=" << c.p;
    EXPECT_EQ(w.fasta, ">test protein\n" + c.seq + "\n");
    EXPECT_EQ(w.status, 1);
  }
}

TEST_F(WriteSegmentsTest, SegmentLinesRecountAndRescoreEveryFragment) {
  // 90 residues; the segment 41..58 holds 12 special residues.
  std::string seq(90, 'A');
  for (int pos : {41, 42, 44, 45, 47, 48, 50, 51, 53, 55, 57, 58}) seq[pos - 1] = 'S';
  FragmentList list = {Frag(1, 2), Frag(3, 3), Frag(41, 58)};
  list[2].n_special = 999;  // stale fields are never trusted
  list[2].p_value = 0.5;
  const Written w = Write(seq, list);
  const std::string third = "3 41 58 18 12 " +
                            Printf("%e", P_scan_ge_K_in_W_N(12, 18, 90, P_special)) + " " +
                            seq.substr(40, 18) + "\n";
  const std::string first =
      "1 1 2 2 0 " + Printf("%e", P_scan_ge_K_in_W_N(0, 2, 90, P_special)) + " AA\n";
  EXPECT_NE(w.report.find("\n\n#Segments: 3\n" + first), std::string::npos) << w.report;
  EXPECT_NE(w.report.find("\n" + third + "\n#Overall: 12 "), std::string::npos) << w.report;
  EXPECT_NE(w.report.find("\n>test protein\n" + seq.substr(0, 80) + "\n" + seq.substr(80) +
                          "\n\n#Segments"),
            std::string::npos);
}

TEST_F(WriteSegmentsTest, MasksSegmentsBelowTheThresholdOnly) {
  const std::string seq = "AGSPTGAAAAAAAAAAAAAAAAAGSTAAAAAAAAAAAAAAAAAAAAAAAAAAAAA";
  const int N = static_cast<int>(seq.size());
  const double p_strong = P_scan_ge_K_in_W_N(5, 5, N, P_special);
  const double p_weak = P_scan_ge_K_in_W_N(3, 3, N, P_special);
  ASSERT_LT(p_strong, p_weak);
  FragmentList list = {Frag(2, 6), Frag(24, 26)};

  // A p-value equal to the threshold is not masked.
  const struct {
    int mode;
    double threshold;
    const char* first;
    const char* second;
  } cases[] = {{1, p_weak, "XXXXX", "GST"},
               {2, p_weak, "gsptg", "GST"},
               {2, 1.0, "gsptg", "gst"},
               {2, 0.0, "GSPTG", "GST"}};
  for (const auto& c : cases) {
    fasta_output = c.mode;
    masking_p_val = c.threshold;
    std::string masked = seq;
    masked.replace(1, 5, c.first).replace(23, 3, c.second);
    EXPECT_EQ(Write(seq, list).fasta, ">test protein\n" + masked + "\n") << c.mode << c.threshold;
  }
}

TEST_F(WriteSegmentsTest, OverlappingSegmentsAreEachMaskedAndListed) {
  const std::string seq = "AAGSGSGSGSGSAAAAA";
  FragmentList list = {Frag(3, 10), Frag(5, 12)};
  masking_p_val = 1.0;
  fasta_output = 2;
  const Written w = Write(seq, list);
  EXPECT_EQ(w.fasta, ">test protein\nAAgsgsgsgsgsAAAAA\n");
  EXPECT_NE(w.report.find("\n1 3 10 8 8 "), std::string::npos);
  EXPECT_NE(w.report.find("\n2 5 12 8 8 "), std::string::npos);
}

TEST_F(WriteSegmentsTest, EmpiricalPValueDependsOnLengthOnly) {
  random_seqs = 10;
  special_rand_p[2] = 0.5;
  special_rand_p[3] = 0.25;
  special_rand_p[7] = 0.25;
  const std::string seq = "GGAAASSAAAAAA";
  const Written w = Write(seq, {Frag(1, 3), Frag(5, 7), Frag(6, 12)});
  EXPECT_NE(w.report.find("\n1 1 3 3 2 5.000000e-01 GGA\n"), std::string::npos) << w.report;
  EXPECT_NE(w.report.find("\n2 5 7 3 2 5.000000e-01 ASS\n"), std::string::npos);
  EXPECT_NE(w.report.find("\n3 6 12 7 2 2.500000e-01 SSAAAAA\n"), std::string::npos);
}

TEST_F(WriteSegmentsTest, SegmentLongerThanTheDistributionGetsZero) {
  random_seqs = 1;
  special_rand_p.assign(kMinDistributionSize, 1e-4);
  const std::string seq(kMinDistributionSize, 'G');
  const Written w = Write(seq, {Frag(1, kMinDistributionSize)});
  EXPECT_NE(w.report.find("\n1 1 10001 10001 10001 0.000000e+00 GGG"), std::string::npos);
}

TEST_F(WriteSegmentsTest, LostFastaOutputIsReportedAndTheReportCompleted) {
  if (!FileExists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  fasta_output = 1;
  testing::internal::CaptureStderr();
  const Written w = Write(std::string(50, 'G'), {Frag(1, 50)}, false, "/dev/full");
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error closing FASTA file\n");
  EXPECT_EQ(w.status, 0);
  EXPECT_NE(w.report.find("#Overall: 50 "), std::string::npos);
  EXPECT_EQ(fasta_out, nullptr);
}

TEST_F(WriteSegmentsTest, MatchesLiteralWriterOnRandomInputs) {
  std::mt19937 rng(5);
  const char residues[] = "GPSTDNHAWLKX-";
  for (int trial = 0; trial < 150; trial++) {
    const int N = 1 + trial * 3 % 220;
    std::string seq(N, 'A');
    std::uniform_int_distribution<int> pick(0, 12);
    for (char& c : seq) c = residues[pick(rng)];
    std::uniform_int_distribution<int> pos(1, N);
    FragmentList list;
    for (int i = trial % 9; i > 0; i--) {
      int a = pos(rng), b = pos(rng);
      list.push_back(Frag(std::min(a, b), std::max(a, b)));
    }
    fasta_output = trial % 3;
    random_seqs = trial % 4 == 3 ? 5 : 0;
    for (double& v : special_rand_p) v = random_seqs ? 1.0 / (1 + pick(rng)) / 1000 : 0.0;
    masking_p_val = (trial % 5) / 4.0;
    P_special = trial % 11 == 0 ? 0.5 : 0.36532;
    testing::internal::CaptureStderr();
    const Written fast = Write(seq, list);
    const Written slow = Write(seq, list, true);
    testing::internal::GetCapturedStderr();
    ASSERT_EQ(fast.report, slow.report) << trial;
    ASSERT_EQ(fast.fasta, slow.fasta) << trial;
  }
}

}  // namespace
