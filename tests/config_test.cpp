// The command line and the alphabet: settings of accepted command lines,
// messages of refused ones, and the residue look-ups, sub-alphabet, encoding,
// composition and linkage distance they lead to.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "alphabet/alphabet.h"
#include "driver/driver.h"
#include "random/random.h"

namespace {

// The parse result, then every setting the command line can change.
std::string Parse(std::vector<std::string> args) {
  ResetConfiguration();
  args.insert(args.begin(), {"TALVO", "in.fa", "out"});
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  const char* label = "";
  std::string message;
  bool to_stderr = false;
  if (!ParseOptions(static_cast<int>(argv.size()), argv.data(), label, message, to_stderr)) {
    return (to_stderr ? "stderr:" : "stdout:") + message;
  }
  char text[200];
  snprintf(text, sizeof text, "W%d E%d S%d R%d I%d P%g M%g N%d K%d F%d %s %s", window,
           max_separation, random_seqs, estimate_ran, estimate_freq, min_p_val, masking_p_val,
           use_merge, estimate_linkage, fasta_output, special_aa, label);
  return text + std::string(aa_freq == seq_freq ? " seq" : aa_freq == pdb_aa_freq ? " pdb" : "");
}

TEST(Options, SettingsAndRefusals) {
  const std::string defaults = "W0 E4 S0 R0 I0 P0.05 M0.05 N1 K0 F0 GPSTDNH SPROT frequencies";
  const std::string wrong_p = "stderr:\nERROR: wrong P-value specified\n";
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"-w:10", "-e:7", "-K", "-f", "-P:1e-3x", "-M:.5", "-X", "-A:gpsGx9"},
       "W10 E7 S0 R0 I0 P0.001 M0.5 N1 K1 F1 GPS PDB frequencies pdb"},
      {{}, defaults},  // every setting restored
      {{"-W10", "-E", "-P:abc", "-Lxyz", "-I", "-T", "-A:ST", "-A:kr"},
       "W0 E0 S0 R0 I0 P0 M0.05 N1 K0 F2 KR SPROT frequencies"},
      {{"-W:2147483648", "-E:-2147483649", "-S:5", "-G:-7", "-F", "-L", "-I", "-A"},
       "W2147483647 E-2147483648 S-7 R1 I1 P0.05 M0.05 N1 K0 F2  Sequence frequencies seq"},
      {{"-W:3", "-N:5", "-S:0", "xW:10", "-M:-0"},
       "W3 E4 S0 R2 I0 P0.05 M-0 N0 K0 F0 GPSTDNH SPROT frequencies"},
      {{"-q"}, "stdout:\nUnrecognized command line argument: 'Q'\n"},
      {{"-P:5", "W:10"}, "stdout:\nUnrecognized command line argument: ':'\n"},
      {{""}, std::string("stdout:\nUnrecognized command line argument: '\0'\n", 48)},
      {{"-P:1.0000001"}, wrong_p},
      {{"-M:-0.1"}, wrong_p},
      {{"-P:nan"}, wrong_p},
      {{"-M:-nan", "-W:20", "-S:5"}, wrong_p},
      {{"-W:20", "-G:1"}, "stderr:Incompatible switches: scanning window+random sequences\n"},
      {{"-W:1", "-N"}, "stderr:Incompatible switches: no merge+use linkage\n"},
      {{"-W:2", "-N", "-L"}, "stderr:Incompatible switches: no merge+fasta output\n"}};
  special_rand_p.assign(20000, 0.5);
  for (const auto& [options, expected] : cases) {
    EXPECT_EQ(Parse(options), expected) << testing::PrintToString(options);
  }
  EXPECT_EQ(special_rand_p, std::vector<double>(kMinDistributionSize, 0.0));
}

TEST(Alphabet, LookupsAndSubAlphabet) {
  EXPECT_EQ(ConvToInt('W'), 0);
  EXPECT_EQ(ConvToInt('R'), 19);
  EXPECT_EQ(ConvToInt('X'), 20);
  EXPECT_EQ(ConvToInt('g'), 20);
  EXPECT_EQ(FindLetter('S', 2, "GPSTDNH"), -1);
  EXPECT_EQ(AA2binary('D', "GPSTDNH", 7), '1');
  char set[21], text[] = "acgt-x\xe9z";
  CopyAA("\xe7pP rkedqnts phgacmvlfyiwRKX", set);
  EXPECT_STREQ(set, "PRKEDQNTSHGACMVLFYIW");
  Conv2Upper(text, 7);
  EXPECT_STREQ(text, "ACGT-X\xe9z");
  std::mt19937 rng(3);
  for (const char* s : {"GPSTDNH", "", "W", "RKEDQNTSPHGACMVLFYIW", "AX"}) {
    std::string seq(300, ' '), binary(300, '?'), expected;
    for (char& c : seq) c = "WIYFLVMCAGHPSTNQDEKRXgp-\0\x80"[rng() % 26];
    EncodeBinary(seq.data(), 300, s, binary.data());
    for (char c : seq) expected += AA2binary(c, s, static_cast<int>(strlen(s)));
    EXPECT_EQ(binary, expected) << s;
  }
}

TEST(Alphabet, CompositionAndLinkage) {
  double freq[21], expected[21] = {};
  expected[ConvToInt('A')] = 2.0 / 3.0;
  expected[ConvToInt('G')] = 1.0 / 3.0;
  ComputeAAfreq("AAG-Xag", 6, freq);
  EXPECT_EQ(memcmp(freq, expected, sizeof freq), 0);
  EXPECT_EXIT(ComputeAAfreq("XXxx", 4, freq), testing::ExitedWithCode(1),
              "^\nNo valid residues were found\n$");
  EXPECT_EXIT(ComputeAAfreq("AAG", 0, freq), testing::ExitedWithCode(1), "No valid residues");
  EXPECT_EQ(ComputeResidueP("GPSTDNH", sp_aa_freq), 0.36532);
  EXPECT_EQ(ComputeResidueP("GPSTDNH", pdb_aa_freq), 0.362732);
  EXPECT_EQ(ComputeResidueP("Xg", sp_aa_freq), 0.0);
  const std::pair<double, int> linkage[] = {{0.36532, 2},
                                            {0.25, 3},
                                            {2.0 / 9.0, 3},
                                            {4.0 / 15.0, 2},
                                            {0.8, 1},
                                            {2.0, 1},
                                            {0.0, INT_MAX},
                                            {NAN, INT_MAX},
                                            {4.9e-324, INT_MAX},
                                            {2.0 / (3.0 * 2147483000.0), 2147483000},
                                            {2.0 / (3.0 * 2147483648.0), INT_MAX}};
  for (auto [p, distance] : linkage) EXPECT_EQ(EstimateLinkageDistance(p), distance) << p;
  EXPECT_EQ(round(2.5, "%.0lf"), 2.0);
  EXPECT_EQ(round(0.125, "%.2lf"), 0.12);
}

}  // namespace
