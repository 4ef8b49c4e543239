// Set-up in process: the FASTA reader against the literal one, and what only
// an in-process look shows of the configuration (the whole runs show the
// rest): the restored defaults, the zeroed distribution, the 0/1 encoding and
// the linkage distance.
#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "support/support.h"

namespace {

// Hand-picked quirks, random files of the bytes the reader treats specially,
// and a file of megabytes.
TEST(Fasta, ReadsAsTheLiteralReader) {
  using namespace std::string_literals;
  const std::string h(19998, 'h'), a(19999, 'A');
  for (const std::string& text :
       {">one\nACD\n>two desc\nEF\nGH\n>three\nIK\n"s, "junk\nMORE\n>first\nAC\n"s,
        ">crlf\r\nAC\r\nDE\r\n"s, ">x\nac d\tE\r\n-g\n\nhH\n1 C*9\xc3\xa9\x80\xff.E\0F\n\0G\n"s,
        ">empty\n>full\nMK\n"s, ">a\nAC>mid\nDE\n>b\nFG\n"s, ">a\nAC\nDE"s, ">" + h + "h\nMK\n",
        ">" + h + "\nMK\n", ">" + h + "hh" + a + "tail\nMK\n", ">a\nMK\n>" + h + a,
        ">a\n" + a + ">b\nC\n", "ACDEFG\n"s, ""s, "ACD\n>only"s, ">a\n" + h + "\n>b"s}) {
    EXPECT_TRUE(ReadsAsLiteral(text)) << text.substr(0, 100);
  }
  std::mt19937 rng(2024);
  const std::string pool = std::string(">>>\n\n\r AcgT-*9\t\xff\x80") + '\0';
  for (int trial = 0; trial < 1500; trial++) {
    std::string text;
    for (int piece = rng() % 20; piece >= 0; piece--) {
      if (rng() % 40 == 0) text += '>' + std::string(19990 + rng() % 20, 'q') + "\n"[rng() % 2];
      for (int i = rng() % 200; i > 0; i--) text += pool[rng() % pool.size()];
    }
    EXPECT_TRUE(ReadsAsLiteral(text)) << text.substr(0, 100);
  }
  std::string big;  // many tiny entries, then bodies of megabytes
  for (int i = 0; i < 3000; i++) big += ">t\nAC\n";
  for (int entry = 0; entry < 2; entry++) {
    big += ">big\n";
    for (int i = 1500000 + rng() % 1000000; i > 0; i--)
      big += "ACDEFGHIKLacgt-X*1 \r\n\n"[rng() % 23];
  }
  EXPECT_TRUE(ReadsAsLiteral(big + ">"));
}

TEST(Configuration, ResetAndParsingStartFromTheDefaults) {
  window = max_separation = random_seqs = estimate_ran = estimate_freq = fasta_output = 3;
  min_p_val = masking_p_val = 0.5;
  use_merge = 0;
  estimate_linkage = 1;
  aa_freq = seq_freq;
  strcpy(special_aa, "W");
  ResetConfiguration();
  EXPECT_TRUE(window == 0 && max_separation == 4 && random_seqs == 0 && estimate_ran == 0);
  EXPECT_TRUE(estimate_freq == 0 && fasta_output == 0 && use_merge == 1 && estimate_linkage == 0);
  EXPECT_TRUE(min_p_val == 0.05 && masking_p_val == 0.05 && aa_freq == sp_aa_freq);
  EXPECT_STREQ(special_aa, "GPSTDNH");
  special_rand_p.assign(20000, 0.5);
  std::string args[] = {"TALVO", "in.fa", "out", "-I", "-A:W", "-I", "-X"}, message;
  char* argv[] = {args[0].data(), args[1].data(), args[2].data(), args[3].data(),
                  args[4].data(), args[5].data(), args[6].data()};
  const char* label = nullptr;
  bool to_stderr = true;
  ASSERT_EQ(ParseOptions(7, argv, label, message, to_stderr), 1);
  EXPECT_TRUE(message.empty() && !to_stderr && aa_freq == pdb_aa_freq && estimate_freq == 0);
  EXPECT_EQ(special_rand_p, std::vector<double>(kMinDistributionSize, 0.0));
}

// The 0/1 encoding as AA2binary gives it position by position; the linkage
// distance 2/(3p) rounded half to even, at least 1 and saturated at INT_MAX.
TEST(Alphabet, EncodingAndLinkage) {
  std::mt19937 rng(3);
  for (const char* set : {"GPSTDNH", "", "W", "RKEDQNTSPHGACMVLFYIW", "AX"}) {
    std::string seq(300, ' '), binary(300, '?'), expected;
    for (char& c : seq) c = "WIYFLVMCAGHPSTNQDEKRXgp-\0\x80"[rng() % 26];
    EncodeBinary(seq.data(), 300, set, binary.data());
    for (char c : seq) expected += AA2binary(c, set, static_cast<int>(strlen(set)));
    EXPECT_EQ(binary, expected) << set;
  }
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
}

}  // namespace
