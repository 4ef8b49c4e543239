#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "alphabet/alphabet.h"
#include "driver/driver.h"
#include "random/random.h"

namespace {

struct Parsed {
  int ok = 0;
  std::string message;
  bool to_stderr = false;
  std::string label;
};

Parsed ParseArgs(std::vector<std::string> args) {
  ResetConfiguration();
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  Parsed result;
  const char* label = nullptr;
  result.ok = ParseOptions(static_cast<int>(args.size()), argv.data(), label, result.message,
                           result.to_stderr);
  if (label) result.label = label;
  return result;
}

// A command line with the input and output names before the options.
Parsed Parse(std::vector<std::string> options) {
  std::vector<std::string> args = {"TALVO", "in.fa", "out"};
  args.insert(args.end(), options.begin(), options.end());
  return ParseArgs(args);
}

std::string Unrecognized(char c) {
  return std::string("\nUnrecognized command line argument: '") + c + "'\n";
}

TEST(HelpText, ShownWhenEitherFileNameIsMissing) {
  for (const auto& args :
       {std::vector<std::string>{"TALVO"}, std::vector<std::string>{"TALVO", "in.fa"}}) {
    const Parsed p = ParseArgs(args);
    EXPECT_EQ(p.ok, 0);
    EXPECT_FALSE(p.to_stderr);
    EXPECT_EQ(p.message, std::string(Help) + "\n");
  }
  EXPECT_EQ(ParseArgs({}).message, std::string(Help) + "\n");
}

TEST(HelpText, HasItsTwentyOneLines) {
  const std::string help = Help;
  EXPECT_EQ(std::count(help.begin(), help.end(), '\n'), 21);
  EXPECT_EQ(help.rfind("\nFind compositionally biased segments in protein sequence.\n\n", 0), 0u);
  EXPECT_NE(help.find("\n-F   - output MURL-like masked sequence in FASTA format (segments with "
                      "p-value < min. p-value are masked by X's)\n"),
            std::string::npos);
  const std::string last = "-M:# - min. p-value for masking FASTA output (0.05 by default)\n";
  EXPECT_EQ(help.substr(help.size() - last.size()), last);
}

TEST(Options, DefaultsWithoutOptions) {
  const Parsed p = Parse({});
  ASSERT_EQ(p.ok, 1);
  EXPECT_EQ(p.label, "SPROT frequencies");
  EXPECT_EQ(aa_freq, sp_aa_freq);
  EXPECT_STREQ(special_aa, "GPSTDNH");
  EXPECT_EQ(window, 0);
  EXPECT_EQ(max_separation, 4);
  EXPECT_EQ(estimate_freq, 0);
  EXPECT_EQ(fasta_output, 0);
}

TEST(Options, ZeroesTheRandomDistribution) {
  special_rand_p.assign(20000, 0.5);
  ASSERT_EQ(Parse({}).ok, 1);
  EXPECT_EQ(special_rand_p, std::vector<double>(kMinDistributionSize, 0.0));
}

TEST(Options, LetterIsCaseInsensitive) {
  Parse({"-w:10"});
  EXPECT_EQ(window, 10);
  Parse({"-W:10", "-e:7", "-k", "-f"});
  EXPECT_EQ(window, 10);
  EXPECT_EQ(max_separation, 7);
  EXPECT_EQ(estimate_linkage, 1);
  EXPECT_EQ(fasta_output, 1);
}

TEST(OptionValues, StartAtTheFourthCharacter) {
  Parse({"-W10"});
  EXPECT_EQ(window, 0);
  Parse({"-W:"});
  EXPECT_EQ(window, 0);
  Parse({"-E"});
  EXPECT_EQ(max_separation, 0);
  Parse({"-W=12x"});
  EXPECT_EQ(window, 12);
  Parse({"-E: +7"});
  EXPECT_EQ(max_separation, 7);
  Parse({"-E:-3"});
  EXPECT_EQ(max_separation, -3);
  Parse({"-E:abc"});
  EXPECT_EQ(max_separation, 0);
}

TEST(OptionValues, IntegersClampToThirtyTwoBits) {
  Parse({"-W:2147483647"});
  EXPECT_EQ(window, INT_MAX);
  Parse({"-W:2147483648"});
  EXPECT_EQ(window, INT_MAX);
  Parse({"-E:99999999999999999999999"});
  EXPECT_EQ(max_separation, INT_MAX);
  Parse({"-E:-2147483649"});
  EXPECT_EQ(max_separation, INT_MIN);
  Parse({"-S:-99999999999999999999999"});
  EXPECT_EQ(random_seqs, INT_MIN);
}

TEST(OptionValues, RealsReadAsTheCLibraryDoes) {
  EXPECT_EQ(Parse({"-P:abc"}).ok, 1);
  EXPECT_EQ(min_p_val, 0.0);
  EXPECT_EQ(Parse({"-P:1e-3x", "-M:.5"}).ok, 1);
  EXPECT_EQ(min_p_val, 1e-3);
  EXPECT_EQ(masking_p_val, 0.5);
  EXPECT_EQ(Parse({"-M:nan"}).ok, 1);
  EXPECT_TRUE(std::isnan(masking_p_val));
}

TEST(OptionValues, ValueLessOptionsIgnoreTheirTail) {
  Parse({"-Fxyz", "-N:5", "-W:3"});
  EXPECT_EQ(fasta_output, 1);
  EXPECT_EQ(use_merge, 0);
}

TEST(Overrides, LaterOptionWins) {
  Parse({"-F", "-L"});
  EXPECT_EQ(fasta_output, 2);
  Parse({"-L", "-F"});
  EXPECT_EQ(fasta_output, 1);
  Parse({"-S:5", "-G:7"});
  EXPECT_EQ(random_seqs, 7);
  EXPECT_EQ(estimate_ran, 1);
  Parse({"-G:7", "-S:0"});
  EXPECT_EQ(random_seqs, 0);
  EXPECT_EQ(estimate_ran, 2);
  Parse({"-E:3", "-E:9"});
  EXPECT_EQ(max_separation, 9);
}

TEST(Overrides, TableOptionsReplaceEachOtherWholly) {
  Parsed p = Parse({"-X"});
  EXPECT_EQ(p.label, "PDB frequencies");
  EXPECT_EQ(aa_freq, pdb_aa_freq);
  p = Parse({"-X", "-T"});
  EXPECT_EQ(p.label, "SPROT frequencies");
  EXPECT_EQ(aa_freq, sp_aa_freq);
  p = Parse({"-T", "-I"});
  EXPECT_EQ(p.label, "Sequence frequencies");
  EXPECT_EQ(aa_freq, seq_freq);
  EXPECT_EQ(estimate_freq, 1);
  // A built-in table named after -I cancels the estimate, so nothing is ever
  // written into a built-in table.
  p = Parse({"-I", "-X"});
  EXPECT_EQ(p.label, "PDB frequencies");
  EXPECT_EQ(aa_freq, pdb_aa_freq);
  EXPECT_EQ(estimate_freq, 0);
  p = Parse({"-I", "-T"});
  EXPECT_EQ(estimate_freq, 0);
  p = Parse({"-I", "-T", "-I"});
  EXPECT_EQ(estimate_freq, 1);
  EXPECT_EQ(aa_freq, seq_freq);
}

TEST(Overrides, SubAlphabetIsRebuiltEachTime) {
  Parse({"-A:gpsGx9"});
  EXPECT_STREQ(special_aa, "GPS");
  Parse({"-A:ST", "-A:kr"});
  EXPECT_STREQ(special_aa, "KR");
  Parse({"-A"});
  EXPECT_STREQ(special_aa, "");
  Parse({"-A:wiyflvmcaghpstnqdekrx"});
  EXPECT_STREQ(special_aa, "WIYFLVMCAGHPSTNQDEKR");
}

TEST(Unrecognized, NamesTheUpperCasedSecondCharacter) {
  const Parsed q = Parse({"-q"});
  EXPECT_EQ(q.ok, 0);
  EXPECT_FALSE(q.to_stderr);
  EXPECT_EQ(q.message, Unrecognized('Q'));
  EXPECT_EQ(Parse({"W:10"}).message, Unrecognized(':'));
  EXPECT_EQ(Parse({"x.fa"}).message, Unrecognized('.'));
  EXPECT_EQ(Parse({"-W:3", "-Z"}).message, Unrecognized('Z'));
}

TEST(Unrecognized, ShortArgumentsNameTheZeroByte) {
  for (const char* arg : {"-", "", "x"}) {
    const Parsed p = Parse({arg});
    EXPECT_EQ(p.ok, 0);
    EXPECT_EQ(p.message, Unrecognized('\0'));
    EXPECT_EQ(p.message[p.message.size() - 3], '\0');
  }
}

TEST(Unrecognized, ArgumentWithoutDashIsCheckedThenIgnored) {
  const Parsed p = Parse({"xW:10", "aF"});
  EXPECT_EQ(p.ok, 1);
  EXPECT_EQ(window, 0);
  EXPECT_EQ(fasta_output, 0);
}

TEST(Unrecognized, ComesBeforeAnyValidation) {
  EXPECT_EQ(Parse({"-P:5", "-N", "-q"}).message, Unrecognized('Q'));
}

TEST(Validation, PValuesMustLieInTheUnitRange) {
  for (const char* ok : {"-P:0", "-P:1", "-M:0", "-M:1", "-P:nan", "-M:-0"}) {
    EXPECT_EQ(Parse({ok}).ok, 1) << ok;
  }
  for (const char* bad : {"-P:1.5", "-M:-0.1", "-P:inf", "-M:-inf", "-P:1.0000001"}) {
    const Parsed p = Parse({bad});
    EXPECT_EQ(p.ok, 0) << bad;
    EXPECT_TRUE(p.to_stderr);
    EXPECT_EQ(p.message, "\nERROR: wrong P-value specified\n");
  }
}

TEST(Validation, IncompatibleSwitches) {
  const std::string random_window = "Incompatible switches: scanning window+random sequences\n";
  const std::string no_merge = "Incompatible switches: no merge+use linkage\n";
  const std::string no_merge_fasta = "Incompatible switches: no merge+fasta output\n";
  EXPECT_EQ(Parse({"-W:20", "-S:100"}).message, random_window);
  EXPECT_EQ(Parse({"-W:20", "-G:1"}).message, random_window);
  EXPECT_EQ(Parse({"-W:20", "-S:0"}).ok, 1);
  EXPECT_EQ(Parse({"-W:1", "-S:100"}).ok, 1);
  EXPECT_EQ(Parse({"-N"}).message, no_merge);
  EXPECT_EQ(Parse({"-W:1", "-N"}).message, no_merge);
  EXPECT_EQ(Parse({"-W:20", "-N", "-F"}).message, no_merge_fasta);
  EXPECT_EQ(Parse({"-W:20", "-N", "-L"}).message, no_merge_fasta);
  EXPECT_EQ(Parse({"-W:20", "-N"}).ok, 1);
  EXPECT_TRUE(Parse({"-N"}).to_stderr);
}

TEST(Validation, OnlyTheFirstFailureIsReported) {
  EXPECT_EQ(Parse({"-P:2", "-W:20", "-S:5", "-N", "-F"}).message,
            "\nERROR: wrong P-value specified\n");
  EXPECT_EQ(Parse({"-W:20", "-S:5", "-N", "-F"}).message,
            "Incompatible switches: scanning window+random sequences\n");
}

TEST(Validation, NegativeCountsAndSizesAreAccepted) {
  EXPECT_EQ(Parse({"-S:-3"}).ok, 1);
  EXPECT_EQ(random_seqs, -3);
  EXPECT_EQ(estimate_ran, 2);
  EXPECT_EQ(Parse({"-W:-5", "-E:-1"}).ok, 1);
}

// Any argv must parse to success or a message, never crash (the sanitizer
// build checks every byte touched).
TEST(Robustness, SurvivesArbitraryArguments) {
  std::mt19937 rng(77);
  std::uniform_int_distribution<int> byte(1, 255);
  std::uniform_int_distribution<int> length(0, 8);
  const std::vector<std::string> seeds = {
      "-W:", "-A:", "-P:", "-E:", "-S:", "-M:", "-", "-I", "-P:nan", "-W:1e99", "-E:0x7fffffffff"};
  for (int trial = 0; trial < 20000; trial++) {
    std::vector<std::string> options;
    const int count = trial % 5;
    for (int i = 0; i < count; i++) {
      std::string arg = (trial % 3 == 0) ? "" : seeds[rng() % seeds.size()];
      const int extra = length(rng);
      for (int k = 0; k < extra; k++) arg += static_cast<char>(byte(rng));
      options.push_back(arg);
    }
    const Parsed p = Parse(options);
    ASSERT_TRUE(p.ok == 1 || !p.message.empty());
    ASSERT_LE(strlen(special_aa), 20u);
  }
}

}  // namespace
