// Whole runs of the program. Expected segments are worked out by hand or with
// the literal detection algorithms, expected p-values with the literal
// statistics, never taken from the program's own output.
#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <cmath>
#include <cstdio>
#include <regex>
#include <string>
#include <tuple>
#include <vector>

#include "alphabet/alphabet.h"
#include "reference/detect_reference.h"
#include "reference/stats_reference.h"
#include "support/process.h"

namespace {

struct Segment {
  int start;
  int end;
};

std::string Format(const char* format, double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, format, value);
  return buffer;
}

bool IsSpecial(char c) {
  return std::string("GPSTDNH").find(c) != std::string::npos;
}

// P_special of the default sub-alphabet under the default table, summed in
// sub-alphabet order.
double DefaultPSpecial() {
  const std::string alphabet = "WIYFLVMCAGHPSTNQDEKRX";
  double p = 0.0;
  for (char c : std::string("GPSTDNH")) p += sp_aa_freq[alphabet.find(c)];
  return p;
}

// The scan p-value; at least zero special residues is certain.
double ScanP(int k, int w, int N, double p) {
  return k == 0 ? 1.0 : literal::P_scan_ge_K_in_W_N(k, w, N, p);
}

std::string Wrapped(const std::string& seq) {
  std::string text;
  for (size_t i = 0; i < seq.size(); i += 80) text += seq.substr(i, 80) + "\n";
  return text;
}

int CountSpecial(const std::string& seq, int start, int end) {
  int k = 0;
  for (int pos = start; pos <= end; pos++) k += IsSpecial(seq[pos - 1]);
  return k;
}

// The whole report after the header lines.
std::string ExpectedBody(const std::string& name, const std::string& seq,
                         const std::vector<Segment>& segments) {
  const double P = DefaultPSpecial();
  const int N = static_cast<int>(seq.size());
  std::string body =
      "\n>" + name + "\n" + Wrapped(seq) + "\n#Segments: " + std::to_string(segments.size()) + "\n";
  for (size_t i = 0; i < segments.size(); i++) {
    const Segment& s = segments[i];
    const int length = s.end - s.start + 1;
    const int k = CountSpecial(seq, s.start, s.end);
    body += std::to_string(i + 1) + " " + std::to_string(s.start) + " " + std::to_string(s.end) +
            " " + std::to_string(length) + " " + std::to_string(k) + " " +
            Format("%e", ScanP(k, length, N, P)) + " " + seq.substr(s.start - 1, length) + "\n";
  }
  const int a = CountSpecial(seq, 1, N);
  const bool below = std::ceil(N * P) > a;
  int valid = 0;
  const double exact =
      below ? literal::Binomial_P_LessThan_K(a, N, P) : literal::Binomial_P_GreaterThan_K(a, N, P);
  const double approx = below ? literal::ApproxBinomial_P_LessThan_K(a, N, P, valid)
                              : literal::ApproxBinomial_P_GreaterThan_K(a, N, P, valid);
  body += "\n#Overall: " + std::to_string(a) + " " + Format("%e", exact) + " " +
          Format("%e", approx) + (valid ? " " : "* ") + (below ? "(-)\n" : "(+)\n");
  return body;
}

// The report's header lines: runs mode shows the linkage distance, window
// mode the window and its threshold.
std::string Header(int N, int W, int E = 4) {
  const std::string mode =
      W < 2 ? "W=0 E=" + std::to_string(E) : "W=" + std::to_string(W) + " E=4 P=0.050000";
  return "Length=" + std::to_string(N) + " " + mode +
         "\nSpecial AA: GPSTDNH; SPROT frequencies; P=0.3653;\n";
}

std::vector<Segment> LiteralSegments(const std::string& seq, int E, int W, bool merge) {
  std::string binary;
  for (char c : seq) binary += IsSpecial(c) ? '1' : '0';
  const int N = static_cast<int>(seq.size());
  FragmentList list;
  if (W < 2) {
    literal::FindRuns(binary.data(), N, list);
  } else {
    literal::SlideWindowP(binary.data(), N, W, 0.05, list, DefaultPSpecial(), ScanP);
  }
  if (merge) literal::MergeSegmentsDiscrete(binary.data(), list, E);
  std::vector<Segment> segments;
  for (const FRAGMENT& f : list) segments.push_back({f.start, f.end});
  return segments;
}

class TalvoRun : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = MakeTempDir(); }

  ProcessResult Run(const std::string& fasta, std::vector<std::string> options) {
    WriteFile(dir_ + "/in.fa", fasta);
    std::vector<std::string> args = {"in.fa", "out"};
    args.insert(args.end(), options.begin(), options.end());
    return RunProcess(TALVO_EXE, args, dir_);
  }

  std::string Report() const { return ReadFile(dir_ + "/out.seg"); }
  std::string Masked() const { return ReadFile(dir_ + "/out.fas"); }

  static void ExpectFinishedRun(const ProcessResult& r, int E) {
    EXPECT_EQ(r.exit_status, 0) << r.out << r.err;
    const std::regex lines("Linkage distance = " + std::to_string(E) +
                           "\nSEED=[0-9]+\n\nElapsed time: [0-9]+ seconds\n");
    EXPECT_TRUE(std::regex_match(r.out, lines)) << r.out;
  }

  std::string dir_;
};

// 40 residues: runs GS (3..4), P (7), ST (16..17), DNH (36..38).
const std::string kSmall = "MKGSAAPLLLLLLLLSTAAAAAAAAAAAAAAAAAADNHAA";

// The default distance of 4 joins the runs at 3..4 and 7; the extremes join
// nothing or everything.
TEST_F(TalvoRun, LinkageDistanceDecidesWhatIsJoined) {
  const std::vector<Segment> unjoined = {{3, 4}, {7, 7}, {16, 17}, {36, 38}};
  const std::tuple<std::vector<std::string>, int, std::vector<Segment>> cases[] = {
      {{}, 4, {{3, 7}, {16, 17}, {36, 38}}},
      {{"-E:2"}, 2, unjoined},
      {{"-E:12"}, 12, {{3, 17}, {36, 38}}},
      {{"-E:-2147483648"}, INT_MIN, unjoined},
      {{"-E:2147483647"}, INT_MAX, {{3, 38}}}};
  for (const auto& [options, E, segments] : cases) {
    const ProcessResult r = Run(">small test\n" + kSmall + "\n", options);
    ExpectFinishedRun(r, E);
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(Report(), Header(40, 0, E) + ExpectedBody("small test", kSmall, segments)) << E;
    EXPECT_FALSE(FileExists(dir_ + "/out.fas"));
  }
}

TEST_F(TalvoRun, SequenceWithoutSegmentsStillGetsTheOverallLine) {
  const std::string seq(30, 'A');
  const ProcessResult r = Run(">none\n" + seq + "\n", {"-F"});
  ExpectFinishedRun(r, 4);
  EXPECT_EQ(Report(), Header(30, 0) + ExpectedBody("none", seq, {}));
  EXPECT_EQ(Masked(), ">none\n" + seq + "\n");
}

TEST_F(TalvoRun, SequencesOfEightyAndEightyOneResidues) {
  for (int N : {80, 81, 160}) {
    std::string seq(N, 'L');
    seq[N - 1] = 'G';  // a run at the very last position
    Run(">edge\n" + seq + "\n", {});
    EXPECT_EQ(Report(), Header(N, 0) + ExpectedBody("edge", seq, {{N, N}})) << N;
  }
}

TEST_F(TalvoRun, MaskedFastaWithXOrLowerCase) {
  // A dense block gives a small p-value, a lone residue a large one.
  const std::string seq = "LLLLLLLLLLGSPTGSPTDNLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLGLLLL";
  const int N = static_cast<int>(seq.size());
  const double P = DefaultPSpecial();
  ASSERT_LT(ScanP(10, 10, N, P), 0.05);
  ASSERT_GT(ScanP(1, 1, N, P), 0.05);
  std::string x_masked = seq;
  x_masked.replace(10, 10, "XXXXXXXXXX");
  std::string lower_masked = seq;
  lower_masked.replace(10, 10, "gsptgsptdn");

  EXPECT_EQ(Run(">m\n" + seq + "\n", {"-F"}).exit_status, 0);
  EXPECT_EQ(Masked(), ">m\n" + x_masked + "\n");
  EXPECT_EQ(Report(), Header(N, 0) + ExpectedBody("m", seq, {{11, 20}, {59, 59}}));
  Run(">m\n" + seq + "\n", {"-L"});
  EXPECT_EQ(Masked(), ">m\n" + lower_masked + "\n");
  Run(">m\n" + seq + "\n", {"-L", "-M:1"});
  lower_masked[58] = 'g';
  EXPECT_EQ(Masked(), ">m\n" + lower_masked + "\n");
  Run(">m\n" + seq + "\n", {"-F", "-M:0"});
  EXPECT_EQ(Masked(), ">m\n" + seq + "\n");
}

// 60 residues with a special-rich middle.
const std::string kWindowed = "LLLLLLLLLLLLLLLLLLLLGSGLSPTLGDNSLPGTLLLLLLLLLLLLLLLLLLLLLLLL";

TEST_F(TalvoRun, WindowModeWithAndWithoutMerging) {
  const int N = static_cast<int>(kWindowed.size());
  // Merged, overlapping significant windows become segments.
  const std::vector<Segment> merged = LiteralSegments(kWindowed, 4, 15, true);
  ASSERT_FALSE(merged.empty());
  ExpectFinishedRun(Run(">w\n" + kWindowed + "\n", {"-W:15"}), 4);
  EXPECT_EQ(Report(), Header(N, 15) + ExpectedBody("w", kWindowed, merged));
  // Unmerged, every significant window is listed.
  const std::vector<Segment> windows = LiteralSegments(kWindowed, 4, 15, false);
  ASSERT_GT(windows.size(), 1u);
  for (const Segment& s : windows) ASSERT_EQ(s.end - s.start + 1, 15);
  Run(">w\n" + kWindowed + "\n", {"-W:15", "-N"});
  EXPECT_EQ(Report(), Header(N, 15) + ExpectedBody("w", kWindowed, windows));
  // A window as long as the sequence.
  const std::string all = "GSPTDNHGSPTDNHGSPT";
  Run(">all\n" + all + "\n", {"-W:18"});
  EXPECT_EQ(Report(), Header(18, 18) + ExpectedBody("all", all, {{1, 18}}));
}

TEST_F(TalvoRun, ExampleProteinMatchesLiteralAlgorithms) {
  const std::string fasta = ReadFile(std::string(TALVO_SOURCE_DIR) + "/examples/HBB_HUMAN.fa");
  std::string seq;
  std::string name = fasta.substr(1, fasta.find('\n') - 1);
  for (size_t i = fasta.find('\n'); i < fasta.size(); i++) {
    if (std::isalpha(static_cast<unsigned char>(fasta[i]))) seq += fasta[i];
  }
  const int N = static_cast<int>(seq.size());
  WriteFile(dir_ + "/in.fa", fasta);
  ExpectFinishedRun(RunProcess(TALVO_EXE, {"in.fa", "out"}, dir_), 4);
  EXPECT_EQ(Report(), Header(N, 0) + ExpectedBody(name, seq, LiteralSegments(seq, 4, 0, true)));
  RunProcess(TALVO_EXE, {"in.fa", "out", "-W:20"}, dir_);
  EXPECT_EQ(Report(), Header(N, 20) + ExpectedBody(name, seq, LiteralSegments(seq, 4, 20, true)));
}

TEST_F(TalvoRun, AllSpecialInputHasCertainEmpiricalPValue) {
  const std::string seq = "GSPTDNHGSPTDNH";
  const ProcessResult r = Run(">rich\n" + seq + "\n", {"-S:30"});
  EXPECT_EQ(r.exit_status, 0) << r.out << r.err;
  EXPECT_NE(Report().find("\n#Segments: 1\n1 1 14 14 14 1.000000e+00 " + seq + "\n"),
            std::string::npos)
      << Report();
}

// The report is still finished, and the run ends with status 1.
TEST_F(TalvoRun, UnwritableMaskedFastaEndsWithStatusOneAfterTheReport) {
  if (!FileExists("/dev/full")) GTEST_SKIP() << "no /dev/full";
  ASSERT_EQ(symlink("/dev/full", (dir_ + "/out.fas").c_str()), 0);
  for (const char* option : {"-F", "-L"}) {
    const ProcessResult r = Run(">s\n" + kSmall + "\n", {option});
    EXPECT_EQ(r.exit_status, 1) << option;
    EXPECT_EQ(r.err, "Error closing FASTA file\n") << option;
    EXPECT_EQ(Report(), Header(40, 0) + ExpectedBody("s", kSmall, {{3, 7}, {16, 17}, {36, 38}}));
  }
}

}  // namespace
