#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "alphabet/alphabet.h"
#include "driver/driver.h"
#include "random/random.h"

namespace {

using Args = std::vector<std::string>;

struct Parsed {
  int ok = 0;
  std::string message;
  bool to_stderr = false;
  std::string label;
};

Parsed ParseArgs(Args args) {
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
Parsed Parse(const Args& options) {
  Args args = {"TALVO", "in.fa", "out"};
  args.insert(args.end(), options.begin(), options.end());
  return ParseArgs(args);
}

std::string Unrecognized(char c) {
  return std::string("\nUnrecognized command line argument: '") + c + "'\n";
}

TEST(HelpText, ShownWhenEitherFileNameIsMissing) {
  for (const Args& args : {Args{}, Args{"TALVO"}, Args{"TALVO", "in.fa"}}) {
    const Parsed p = ParseArgs(args);
    EXPECT_EQ(p.ok, 0);
    EXPECT_FALSE(p.to_stderr);
    EXPECT_EQ(p.message, std::string(Help) + "\n");
  }
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

// The settings in one line: window, linkage distance, random count, random
// mode, -K, masked output, merging and the sub-alphabet.
std::string Settings() {
  char text[128];
  snprintf(text, sizeof text, "W%d E%d S%d R%d K%d F%d M%d A:%s", window, max_separation,
           random_seqs, estimate_ran, estimate_linkage, fasta_output, use_merge, special_aa);
  return text;
}

TEST(Options, SettingsOfAcceptedCommandLines) {
  const std::pair<Args, const char*> cases[] = {
      {{}, "W0 E4 S0 R0 K0 F0 M1 A:GPSTDNH"},
      // The option letter is case-insensitive.
      {{"-w:10"}, "W10 E4 S0 R0 K0 F0 M1 A:GPSTDNH"},
      {{"-W:10", "-e:7", "-k", "-f"}, "W10 E7 S0 R0 K1 F1 M1 A:GPSTDNH"},
      // Values start at the fourth character and are read as atoi does.
      {{"-W10", "-E"}, "W0 E0 S0 R0 K0 F0 M1 A:GPSTDNH"},
      {{"-W:", "-E:abc"}, "W0 E0 S0 R0 K0 F0 M1 A:GPSTDNH"},
      {{"-W=12x", "-E: +7"}, "W12 E7 S0 R0 K0 F0 M1 A:GPSTDNH"},
      // Integers clamp to 32 bits; negative counts and sizes are accepted.
      {{"-W:2147483647", "-E:-3"}, "W2147483647 E-3 S0 R0 K0 F0 M1 A:GPSTDNH"},
      {{"-W:2147483648", "-E:99999999999999999999999"},
       "W2147483647 E2147483647 S0 R0 K0 F0 M1 A:GPSTDNH"},
      {{"-E:-2147483649"}, "W0 E-2147483648 S0 R0 K0 F0 M1 A:GPSTDNH"},
      {{"-S:-99999999999999999999999"}, "W0 E4 S-2147483648 R2 K0 F0 M1 A:GPSTDNH"},
      {{"-S:-3", "-W:-5", "-E:-1"}, "W-5 E-1 S-3 R2 K0 F0 M1 A:GPSTDNH"},
      // Value-less options ignore their tail.
      {{"-Lxyz"}, "W0 E4 S0 R0 K0 F2 M1 A:GPSTDNH"},
      {{"-W:3", "-N:5"}, "W3 E4 S0 R0 K0 F0 M0 A:GPSTDNH"},
      // The later option wins.
      {{"-F", "-L"}, "W0 E4 S0 R0 K0 F2 M1 A:GPSTDNH"},
      {{"-L", "-F", "-E:3", "-E:9"}, "W0 E9 S0 R0 K0 F1 M1 A:GPSTDNH"},
      {{"-S:5", "-G:7"}, "W0 E4 S7 R1 K0 F0 M1 A:GPSTDNH"},
      {{"-G:7", "-S:0"}, "W0 E4 S0 R2 K0 F0 M1 A:GPSTDNH"},
      // Switches that are compatible after all.
      {{"-W:20", "-S:0"}, "W20 E4 S0 R2 K0 F0 M1 A:GPSTDNH"},
      {{"-W:1", "-S:100"}, "W1 E4 S100 R2 K0 F0 M1 A:GPSTDNH"},
      {{"-W:20", "-N"}, "W20 E4 S0 R0 K0 F0 M0 A:GPSTDNH"},
      // The sub-alphabet is rebuilt each time from upper-cased residues.
      {{"-A:gpsGx9"}, "W0 E4 S0 R0 K0 F0 M1 A:GPS"},
      {{"-A:ST", "-A:kr"}, "W0 E4 S0 R0 K0 F0 M1 A:KR"},
      {{"-A"}, "W0 E4 S0 R0 K0 F0 M1 A:"},
      {{"-A:wiyflvmcaghpstnqdekrx"}, "W0 E4 S0 R0 K0 F0 M1 A:WIYFLVMCAGHPSTNQDEKR"},
      // An argument without a dash is checked, then ignored.
      {{"xW:10", "aF"}, "W0 E4 S0 R0 K0 F0 M1 A:GPSTDNH"}};
  for (const auto& [options, expected] : cases) {
    EXPECT_EQ(Parse(options).ok, 1) << testing::PrintToString(options);
    EXPECT_EQ(Settings(), expected) << testing::PrintToString(options);
  }
}

TEST(Options, ZeroesTheRandomDistribution) {
  special_rand_p.assign(20000, 0.5);
  ASSERT_EQ(Parse({}).ok, 1);
  EXPECT_EQ(special_rand_p, std::vector<double>(kMinDistributionSize, 0.0));
}

// Bit for bit, so that the sign of zero counts too.
TEST(Options, RealsReadAsTheCLibraryDoes) {
  const std::tuple<Args, double, double> cases[] = {
      {{"-P:abc"}, 0.0, 0.05},      {{"-P:1e-3x", "-M:.5"}, 1e-3, 0.5},
      {{"-P:0", "-M:1"}, 0.0, 1.0}, {{"-P:1", "-M:0"}, 1.0, 0.0},
      {{"-M:-0"}, 0.05, -0.0}};
  for (const auto& [options, p, m] : cases) {
    EXPECT_EQ(Parse(options).ok, 1) << testing::PrintToString(options);
    EXPECT_EQ(memcmp(&min_p_val, &p, sizeof p), 0) << testing::PrintToString(options);
    EXPECT_EQ(memcmp(&masking_p_val, &m, sizeof m), 0) << testing::PrintToString(options);
  }
}

// A built-in table named after -I cancels the estimate, so nothing is ever
// written into a built-in table.
TEST(Options, TableOptionsReplaceEachOtherWholly) {
  const std::tuple<Args, const char*, const double*, int> cases[] = {
      {{}, "SPROT frequencies", sp_aa_freq, 0},
      {{"-X"}, "PDB frequencies", pdb_aa_freq, 0},
      {{"-X", "-T"}, "SPROT frequencies", sp_aa_freq, 0},
      {{"-T", "-I"}, "Sequence frequencies", seq_freq, 1},
      {{"-I", "-X"}, "PDB frequencies", pdb_aa_freq, 0},
      {{"-I", "-T"}, "SPROT frequencies", sp_aa_freq, 0},
      {{"-I", "-T", "-I"}, "Sequence frequencies", seq_freq, 1}};
  for (const auto& [options, label, table, estimate] : cases) {
    EXPECT_EQ(Parse(options).label, label) << testing::PrintToString(options);
    EXPECT_EQ(aa_freq, table) << testing::PrintToString(options);
    EXPECT_EQ(estimate_freq, estimate) << testing::PrintToString(options);
  }
}

// Failures: an unrecognized argument (on standard output, named by its
// upper-cased second byte, before any validation), then the first failed check.
TEST(Options, RejectedCommandLines) {
  const std::string wrong_p = "\nERROR: wrong P-value specified\n";
  const std::string random_window = "Incompatible switches: scanning window+random sequences\n";
  const std::string no_merge = "Incompatible switches: no merge+use linkage\n";
  const std::string no_merge_fasta = "Incompatible switches: no merge+fasta output\n";
  const std::pair<std::string, std::vector<Args>> cases[] = {
      {Unrecognized('Q'), {{"-q"}, {"-P:5", "-N", "-q"}}},
      {Unrecognized(':'), {{"W:10"}}},
      {Unrecognized('.'), {{"x.fa"}}},
      {Unrecognized('Z'), {{"-W:3", "-Z"}}},
      {Unrecognized('\0'), {{"-"}, {""}, {"x"}}},
      {wrong_p,
       {{"-P:1.5"},
        {"-M:-0.1"},
        {"-P:inf"},
        {"-M:-inf"},
        {"-P:1.0000001"},
        {"-P:nan"},
        {"-M:-nan"},
        {"-P:2", "-W:20", "-S:5", "-N", "-F"}}},
      {random_window, {{"-W:20", "-S:100"}, {"-W:20", "-G:1"}, {"-W:20", "-S:5", "-N", "-F"}}},
      {no_merge, {{"-N"}, {"-W:1", "-N"}}},
      {no_merge_fasta, {{"-W:20", "-N", "-F"}, {"-W:20", "-N", "-L"}}}};
  for (const auto& [message, option_sets] : cases) {
    for (const Args& options : option_sets) {
      const Parsed p = Parse(options);
      EXPECT_EQ(p.ok, 0) << testing::PrintToString(options);
      EXPECT_EQ(p.message, message) << testing::PrintToString(options);
      EXPECT_EQ(p.to_stderr, !message.starts_with("\nUnrecognized"))
          << testing::PrintToString(options);
    }
  }
}

// Any argv must parse to success or a message, never crash (the sanitizer
// build checks every byte touched).
TEST(Options, SurvivesArbitraryArguments) {
  std::mt19937 rng(77);
  std::uniform_int_distribution<int> byte(1, 255);
  std::uniform_int_distribution<int> length(0, 8);
  const Args seeds = {
      "-W:", "-A:", "-P:", "-E:", "-S:", "-M:", "-", "-I", "-P:nan", "-W:1e99", "-E:0x7fffffffff"};
  for (int trial = 0; trial < 20000; trial++) {
    Args options;
    for (int i = 0; i < trial % 5; i++) {
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
