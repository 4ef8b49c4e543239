#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "alphabet/alphabet.h"
#include "driver/driver.h"
#include "fasta/fasta.h"
#include "report/report.h"
#include "support/process.h"

namespace {

const char kSeven[] = ">seven residues\ngpsTAAW\n";

struct TalvoRun {
  ProcessResult result;
  std::string dir;
  std::string Report() const { return ReadFile(dir + "/out.seg"); }
};

// Runs TALVO in a fresh directory holding in.fa (unless fasta is null), with
// output name "out".
TalvoRun RunTalvoOn(const char* fasta, std::vector<std::string> options) {
  TalvoRun run;
  run.dir = MakeTempDir();
  if (fasta) WriteFile(run.dir + "/in.fa", fasta);
  std::vector<std::string> args = {"in.fa", "out"};
  args.insert(args.end(), options.begin(), options.end());
  run.result = RunProcess(TALVO_EXE, args, run.dir);
  return run;
}

// The set-up's console lines: the linkage distance, then the seed.
void ExpectSetUpLines(const std::string& out, const std::string& linkage_line) {
  EXPECT_TRUE(std::regex_search(out, std::regex("^" + linkage_line + "\nSEED=[0-9]+\n"))) << out;
}

TEST(SetUpFailures, HelpWithoutBothFileNames) {
  for (const auto& args : {std::vector<std::string>{}, std::vector<std::string>{"in.fa"}}) {
    const ProcessResult r = RunProcess(TALVO_EXE, args);
    EXPECT_EQ(r.exit_status, 1);
    EXPECT_EQ(r.out, std::string(Help) + "\n");
    EXPECT_EQ(r.err, "");
  }
}

// Failures before the report is opened: status 1, the message on its stream
// and no report file.
TEST(SetUpFailures, MessagesBeforeTheReport) {
  const std::string lone_dash("\nUnrecognized command line argument: '\0'\n", 41);
  const char kTooLong[] = "\nERROR: window is longer than the sequence\n";
  const char kNoResidues[] = "\nNo valid residues were found\n";
  struct Case {
    const char* fasta;  // nullptr: no input file
    std::vector<std::string> options;
    std::string out;
    std::string err;
  };
  const Case cases[] = {
      {kSeven, {"-"}, lone_dash, ""},
      {kSeven, {"-W:20", "-N", "-F"}, "", "Incompatible switches: no merge+fasta output\n"},
      {nullptr, {}, "\nCan't open input file\n\n", ""},
      {"MKV\n", {}, "\nError reading FASTA file\n\n", ""},
      {">x\nXXxx--\n", {"-I"}, "", kNoResidues},
      {">empty\n>next\nAC\n", {"-I"}, "", kNoResidues},
      {kSeven, {"-W:8"}, kTooLong, ""},
      {">empty\n>next\nAC\n", {"-W:1"}, kTooLong, ""}};
  for (const Case& c : cases) {
    const TalvoRun run = RunTalvoOn(c.fasta, c.options);
    SCOPED_TRACE(std::string(c.fasta ? c.fasta : "(no input)") + testing::PrintToString(c.options));
    EXPECT_EQ(run.result.exit_status, 1);
    EXPECT_EQ(run.result.out, c.out);
    EXPECT_EQ(run.result.err, c.err);
    EXPECT_FALSE(FileExists(run.dir + "/out.seg"));
  }
}

TEST(SetUpFailures, UnwritableReportDirectory) {
  const std::string dir = MakeTempDir();
  WriteFile(dir + "/in.fa", kSeven);
  const ProcessResult r = RunProcess(TALVO_EXE, {"in.fa", "missing-dir/out"}, dir);
  EXPECT_EQ(r.exit_status, 1);
  ExpectSetUpLines(r.out, "Linkage distance = 4");
  EXPECT_TRUE(r.out.ends_with("\nCan't open output file\n\n")) << r.out;
}

TEST(SetUpFailures, UnopenableMaskedFastaKeepsTheReportHeader) {
  const std::string dir = MakeTempDir();
  WriteFile(dir + "/in.fa", kSeven);
  ASSERT_EQ(mkdir((dir + "/out.fas").c_str(), 0700), 0);
  const ProcessResult r = RunProcess(TALVO_EXE, {"in.fa", "out", "-F"}, dir);
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.err, "\nCan't open output file out.fas\n");
  EXPECT_EQ(ReadFile(dir + "/out.seg"),
            "Length=7 W=0 E=4\nSpecial AA: GPSTDNH; SPROT frequencies; P=0.3653;\n");
}

// Successful set-ups: the console's linkage line, the report's header lines
// and no masked output unless asked for.
TEST(SetUpOutput, HeaderAndConsoleLines) {
  const std::string kSprot = "Special AA: GPSTDNH; SPROT frequencies; P=0.3653;\n";
  const std::string kLinkage = "Linkage distance = 4";
  const std::string kEstimated = "Estimated linkage distance = ";
  struct Case {
    std::vector<std::string> options;
    std::string header;
    std::string linkage_line;
    std::string fasta = kSeven;
  };
  const Case cases[] = {
      {{}, "Length=7 W=0 E=4\n" + kSprot, kLinkage},
      {{"-W:7"}, "Length=7 W=7 E=4 P=0.050000\n" + kSprot, kLinkage},
      {{"-X", "-S:100"},
       "Length=7 W=0 E=4\nSpecial AA: GPSTDNH; PDB frequencies; P=0.3627;\n"
       "Estimates using 100 shuffled sequences\n",
       kLinkage},
      {{"-S:0", "-A:gP"},
       "Length=7 W=0 E=4\nSpecial AA: GP; SPROT frequencies; P=0.1133;\n"
       "Estimates using 0 shuffled sequences\n",
       kLinkage},
      {{"-G:-2"},
       "Length=7 W=0 E=4\n" + kSprot + "Estimates using -2 generated sequences\n",
       kLinkage},
      // The estimated linkage distance replaces the option, in either order.
      {{"-K"}, "Length=7 W=0 E=2\n" + kSprot, kEstimated + "2"},
      {{"-E:7", "-K"}, "Length=7 W=0 E=2\n", kEstimated + "2"},
      {{"-K", "-E:7"}, "Length=7 W=0 E=2\n", kEstimated + "2"},
      // An empty sub-alphabet saturates the estimated distance.
      {{"-A:x", "-K"},
       "Length=7 W=0 E=2147483647\nSpecial AA: ; SPROT frequencies; P=0.0000;\n",
       kEstimated + "2147483647"},
      // G, P, S and T are four of the seven residues of the first entry.
      {{"-I"},
       "Length=7 W=0 E=4\nSpecial AA: GPSTDNH; Sequence frequencies; P=0.5714;\n",
       kLinkage,
       std::string(kSeven) + ">second\nWWWW\n"},
      // An empty first entry is accepted.
      {{}, "Length=0 W=0 E=4\n" + kSprot, kLinkage, ">empty\n>next\nAC\n"},
  };
  for (const Case& c : cases) {
    const TalvoRun run = RunTalvoOn(c.fasta.c_str(), c.options);
    SCOPED_TRACE(testing::PrintToString(c.options));
    EXPECT_EQ(run.result.exit_status, 0);
    ExpectSetUpLines(run.result.out, c.linkage_line);
    EXPECT_TRUE(run.Report().starts_with(c.header)) << run.Report();
    EXPECT_FALSE(FileExists(run.dir + "/out.fas"));
  }
}

// In-process set-up, for the globals it leaves behind.
class InitAllInProcess : public testing::Test {
 protected:
  void TearDown() override {
    if (out) fclose(out);
    if (fasta_out) fclose(fasta_out);
    out = fasta_out = nullptr;
    ResetConfiguration();
  }

  void InitOn(const std::string& fasta, std::vector<std::string> options) {
    dir_ = MakeTempDir();
    WriteFile(dir_ + "/in.fa", fasta);
    args_ = {"TALVO", dir_ + "/in.fa", dir_ + "/out"};
    args_.insert(args_.end(), options.begin(), options.end());
    std::vector<char*> argv;
    for (std::string& arg : args_) argv.push_back(arg.data());
    argv.push_back(nullptr);
    InitAll(static_cast<int>(args_.size()), argv.data());
  }

  std::string dir_;
  std::vector<std::string> args_;
};

TEST_F(InitAllInProcess, EncodesTheUpperCasedFirstEntry) {
  InitOn(">x\ngpsTAAw\n", {});
  EXPECT_STREQ(f_file.seqs[0], "GPSTAAW");
  EXPECT_EQ(std::string(binary_seq, 8), "11110000");
  EXPECT_EQ(std::string(random_binary_seq, 8), "11110000");
  ASSERT_NE(masked_seq, nullptr);
  EXPECT_EQ(P_special, 0.36532);
}

TEST_F(InitAllInProcess, EstimatedProbabilityNeverExceedsOne) {
  // The five frequencies 1/9, 5/9, 1/9, 1/9, 1/9 sum to just above 1.
  InitOn(">x\nGPPPPPSTD\n", {"-I", "-A:GPSTD"});
  double unclamped[21];
  ComputeAAfreq("GPPPPPSTD", 9, unclamped);
  ASSERT_GT(ComputeResidueP("GPSTD", unclamped), 1.0);
  EXPECT_EQ(P_special, 1.0);
  EXPECT_EQ(seq_freq[ConvToInt('P')], 5.0 / 9.0);
}

TEST_F(InitAllInProcess, LaterBuiltInTableLeavesTheEstimateUntouched) {
  for (double& f : seq_freq) f = 0.25;
  InitOn(">x\nGGGG\n", {"-I", "-X"});
  EXPECT_EQ(aa_freq, pdb_aa_freq);
  EXPECT_EQ(P_special, 0.362732);
  EXPECT_EQ(seq_freq[0], 0.25);
}

}  // namespace
