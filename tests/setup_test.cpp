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

// Runs TALVO in a fresh directory holding in.fa, with output name "out".
TalvoRun RunTalvoOn(const std::string& fasta, std::vector<std::string> options) {
  TalvoRun run;
  run.dir = MakeTempDir();
  WriteFile(run.dir + "/in.fa", fasta);
  std::vector<std::string> args = {"in.fa", "out"};
  args.insert(args.end(), options.begin(), options.end());
  run.result = RunProcess(TALVO_EXE, args, run.dir);
  return run;
}

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
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

TEST(SetUpFailures, OptionMessagesGoToTheirStreams) {
  const char kLoneDash[] = "\nUnrecognized command line argument: '\0'\n";
  TalvoRun run = RunTalvoOn(kSeven, {"-"});
  EXPECT_EQ(run.result.exit_status, 1);
  EXPECT_EQ(run.result.out, std::string(kLoneDash, sizeof kLoneDash - 1));
  EXPECT_FALSE(FileExists(run.dir + "/out.seg"));

  run = RunTalvoOn(kSeven, {"-W:20", "-N", "-F"});
  EXPECT_EQ(run.result.exit_status, 1);
  EXPECT_EQ(run.result.out, "");
  EXPECT_EQ(run.result.err, "Incompatible switches: no merge+fasta output\n");
  EXPECT_FALSE(FileExists(run.dir + "/out.seg"));
}

TEST(SetUpFailures, MissingInputFile) {
  const std::string dir = MakeTempDir();
  const ProcessResult r = RunProcess(TALVO_EXE, {"absent.fa", "out"}, dir);
  EXPECT_EQ(r.exit_status, 1);
  EXPECT_EQ(r.out, "\nCan't open input file\n\n");
  EXPECT_FALSE(FileExists(dir + "/out.seg"));
}

TEST(SetUpFailures, InputWithoutEntries) {
  const TalvoRun run = RunTalvoOn("MKV\n", {});
  EXPECT_EQ(run.result.exit_status, 1);
  EXPECT_EQ(run.result.out, "\nError reading FASTA file\n\n");
}

TEST(SetUpFailures, CompositionWithoutValidResidues) {
  for (const char* fasta : {">x\nXXxx--\n", ">empty\n>next\nAC\n"}) {
    const TalvoRun run = RunTalvoOn(fasta, {"-I"});
    EXPECT_EQ(run.result.exit_status, 1);
    EXPECT_EQ(run.result.out, "");
    EXPECT_EQ(run.result.err, "\nNo valid residues were found\n");
  }
}

TEST(SetUpFailures, WindowLongerThanTheSequence) {
  TalvoRun run = RunTalvoOn(kSeven, {"-W:8"});
  EXPECT_EQ(run.result.exit_status, 1);
  EXPECT_EQ(run.result.out, "\nERROR: window is longer than the sequence\n");
  EXPECT_FALSE(FileExists(run.dir + "/out.seg"));

  run = RunTalvoOn(">empty\n>next\nAC\n", {"-W:1"});
  EXPECT_EQ(run.result.exit_status, 1);
  EXPECT_EQ(run.result.out, "\nERROR: window is longer than the sequence\n");
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

TEST(SetUpOutput, DefaultRunHeaderAndConsoleLines) {
  const TalvoRun run = RunTalvoOn(kSeven, {});
  EXPECT_EQ(run.result.exit_status, 0);
  ExpectSetUpLines(run.result.out, "Linkage distance = 4");
  EXPECT_TRUE(StartsWith(run.Report(),
                         "Length=7 W=0 E=4\nSpecial AA: GPSTDNH; SPROT frequencies; P=0.3653;\n"));
  EXPECT_FALSE(FileExists(run.dir + "/out.fas"));
}

TEST(SetUpOutput, WindowModeHeaderShowsTheThreshold) {
  const TalvoRun run = RunTalvoOn(kSeven, {"-W:7"});
  EXPECT_TRUE(StartsWith(run.Report(), "Length=7 W=7 E=4 P=0.050000\nSpecial AA: GPSTDNH;"));
}

TEST(SetUpOutput, TableAndRandomSequenceLines) {
  TalvoRun run = RunTalvoOn(kSeven, {"-X", "-S:100"});
  EXPECT_TRUE(StartsWith(run.Report(),
                         "Length=7 W=0 E=4\nSpecial AA: GPSTDNH; PDB frequencies; P=0.3627;\n"
                         "Estimates using 100 shuffled sequences\n"));
  run = RunTalvoOn(kSeven, {"-S:0", "-A:gP"});
  EXPECT_TRUE(StartsWith(run.Report(),
                         "Length=7 W=0 E=4\nSpecial AA: GP; SPROT frequencies; P=0.1133;\n"
                         "Estimates using 0 shuffled sequences\n"));
  run = RunTalvoOn(kSeven, {"-G:-2"});
  EXPECT_NE(run.Report().find("P=0.3653;\nEstimates using -2 generated sequences\n"),
            std::string::npos);
}

TEST(SetUpOutput, EstimatedLinkageDistanceReplacesTheOption) {
  for (const auto& options :
       {std::vector<std::string>{"-K"}, std::vector<std::string>{"-E:7", "-K"},
        std::vector<std::string>{"-K", "-E:7"}}) {
    const TalvoRun run = RunTalvoOn(kSeven, options);
    ExpectSetUpLines(run.result.out, "Estimated linkage distance = 2");
    EXPECT_TRUE(StartsWith(run.Report(), "Length=7 W=0 E=2\n"));
  }
}

TEST(SetUpOutput, EmptySubAlphabetSaturatesTheEstimatedDistance) {
  const TalvoRun run = RunTalvoOn(kSeven, {"-A:x", "-K"});
  ExpectSetUpLines(run.result.out, "Estimated linkage distance = 2147483647");
  EXPECT_TRUE(StartsWith(
      run.Report(), "Length=7 W=0 E=2147483647\nSpecial AA: ; SPROT frequencies; P=0.0000;\n"));
}

TEST(SetUpOutput, SequenceFrequenciesFromTheFirstEntry) {
  // G, P, S and T are four of the seven residues of the first entry.
  const TalvoRun run = RunTalvoOn(std::string(kSeven) + ">second\nWWWW\n", {"-I"});
  EXPECT_TRUE(StartsWith(run.Report(),
                         "Length=7 W=0 E=4\nSpecial AA: GPSTDNH; Sequence frequencies; "
                         "P=0.5714;\n"));
}

TEST(SetUpOutput, EmptyFirstEntryIsAccepted) {
  const TalvoRun run = RunTalvoOn(">empty\n>next\nAC\n", {});
  ExpectSetUpLines(run.result.out, "Linkage distance = 4");
  EXPECT_TRUE(StartsWith(run.Report(), "Length=0 W=0 E=4\n"));
}

TEST(SetUpOutput, LongOutputNamesWork) {
  // Deeper than any fixed name buffer of about a thousand characters.
  const std::string dir = MakeTempDir();
  WriteFile(dir + "/in.fa", kSeven);
  std::string base = dir;
  for (int level = 0; level < 6; level++) {
    base += "/" + std::string(200, 'd');
    ASSERT_EQ(mkdir(base.c_str(), 0700), 0);
  }
  base += "/" + std::string(200, 'n');
  const ProcessResult r = RunProcess(TALVO_EXE, {"in.fa", base, "-L"}, dir);
  EXPECT_TRUE(StartsWith(ReadFile(base + ".seg"), "Length=7 W=0 E=4\n"));
  EXPECT_TRUE(FileExists(base + ".fas"));

  // A single name component longer than the system allows is refused.
  const ProcessResult refused = RunProcess(TALVO_EXE, {"in.fa", std::string(300, 'n')}, dir);
  EXPECT_EQ(refused.exit_status, 1);
  EXPECT_TRUE(refused.out.ends_with("\nCan't open output file\n\n"));
}

// In-process set-up, for the globals it leaves behind.
class InitAllInProcess : public testing::Test {
 protected:
  void TearDown() override {
    if (out) fclose(out);
    if (fasta_out) fclose(fasta_out);
    out = fasta_out = nullptr;
    window = 0;
    max_separation = 4;
    random_seqs = estimate_ran = estimate_freq = estimate_linkage = fasta_output = 0;
    use_merge = 1;
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
