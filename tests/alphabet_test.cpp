#include "alphabet/alphabet.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <utility>

#include "reference/alphabet_reference.h"

namespace {

// Bytes that matter to the alphabet: residues in both cases, X, '-', digits,
// the NUL byte and bytes above 127.
std::string RandomText(std::mt19937& rng, int length) {
  static const std::string pool =
      std::string("WIYFLVMCAGHPSTNQDEKRXwiyflvmcaghpstnqdekrxBJOUZbjouz-*0 \n\r") + '\0' +
      "\x80\xff";
  std::uniform_int_distribution<size_t> pick(0, pool.size() - 1);
  std::string text;
  for (int i = 0; i < length; i++) text += pool[pick(rng)];
  return text;
}

TEST(AlphabetLookup, ResidueIndexFollowsTheAlphabetOrder) {
  for (int i = 0; i < 20; i++) EXPECT_EQ(ConvToInt(aa[i]), i);
  EXPECT_EQ(ConvToInt('X'), 20);
  EXPECT_EQ(ConvToInt('g'), 20);
  EXPECT_EQ(ConvToInt('\0'), 20);
  for (int byte = 0; byte < 256; byte++) {
    const char c = static_cast<char>(byte);
    EXPECT_EQ(ConvToInt(c), literal::ConvToInt(c)) << byte;
  }
}

TEST(AlphabetLookup, SearchesOnlyTheFirstNCharacters) {
  EXPECT_EQ(FindLetter('S', 7, "GPSTDNH"), 2);
  EXPECT_EQ(FindLetter('S', 2, "GPSTDNH"), -1);
  EXPECT_EQ(FindLetter('X', 20, aa), -1);
  EXPECT_EQ(FindLetter('X', 21, aa), 20);
  EXPECT_EQ(AAExists('H', "GPSTDNH", 7), 1);
  EXPECT_EQ(AAExists('h', "GPSTDNH", 7), 0);
  EXPECT_EQ(AA2binary('D', "GPSTDNH", 7), '1');
  EXPECT_EQ(AA2binary('D', "GPSTDNH", 4), '0');
  EXPECT_EQ(AA2binary('\0', "GPSTDNH", 7), '0');
}

// Bytes above 127 are never residues; all twenty fit with the terminator.
TEST(SubAlphabet, KeepsFirstOccurrencesOfUpperCasedResidues) {
  const std::pair<const char*, const char*> cases[] = {
      {"gpsGx9", "GPS"},   {"gpst", "GPST"},
      {"GGX", "G"},        {"xX19*- ", ""},
      {"\xe7\xf0pP", "P"}, {"rkedqnts phgacmvlfyiw RKEDQNTSPHGACMVLFYIWX", "RKEDQNTSPHGACMVLFYIW"}};
  for (const auto& [source, expected] : cases) {
    char set[21];
    memset(set, '#', sizeof set);
    CopyAA(source, set);
    EXPECT_STREQ(set, expected) << source;
  }
}

TEST(SubAlphabet, AgreesWithTheLiteralBuilder) {
  std::mt19937 rng(11);
  for (int trial = 0; trial < 2000; trial++) {
    std::string source = RandomText(rng, trial % 80);
    source = std::string(source.c_str());  // CopyAA reads a C string
    char fast[21], slow[21];
    CopyAA(source.c_str(), fast);
    literal::CopyAA(source.c_str(), slow);
    ASSERT_STREQ(fast, slow) << source;
  }
}

TEST(UpperCase, ChangesOnlyTheFirstNLetters) {
  char text[] = "acgt-x\xe9z";
  Conv2Upper(text, 7);
  EXPECT_STREQ(text, "ACGT-X\xe9z");
  Conv2Upper(text, 0);
  EXPECT_STREQ(text, "ACGT-X\xe9z");
}

TEST(Composition, CountsOnlyUpperCaseResidues) {
  double freq[21], expected[21] = {};
  expected[ConvToInt('A')] = 2.0 / 3.0;
  expected[ConvToInt('G')] = 1.0 / 3.0;
  for (const char* seq : {"AAG", "AAG-Xa"}) {
    ComputeAAfreq(seq, static_cast<int>(strlen(seq)), freq);
    EXPECT_EQ(memcmp(freq, expected, sizeof freq), 0) << seq;
  }
}

TEST(Composition, AgreesWithTheLiteralCountBitForBit) {
  std::mt19937 rng(5);
  for (int trial = 0; trial < 3000; trial++) {
    const std::string seq = RandomText(rng, 1 + trial % 300);
    double fast[21], slow[21];
    if (!literal::ComputeAAfreq(seq.data(), static_cast<int>(seq.size()), slow)) continue;
    ComputeAAfreq(seq.data(), static_cast<int>(seq.size()), fast);
    ASSERT_EQ(memcmp(fast, slow, sizeof fast), 0) << trial;
  }
}

TEST(CompositionDeathTest, EndsTheProcessWithoutValidResidues) {
  double freq[21];
  EXPECT_EXIT(ComputeAAfreq("XXXX", 4, freq), testing::ExitedWithCode(1),
              "^\nNo valid residues were found\n$");
  for (const auto& [seq, n] : {std::pair{"", 0}, std::pair{"aag", -1}}) {
    EXPECT_EXIT(ComputeAAfreq(seq, n, freq), testing::ExitedWithCode(1),
                "No valid residues were found");
  }
}

TEST(ResidueProbability, SumsTheTableInSetOrder) {
  EXPECT_EQ(ComputeResidueP("GPSTDNH", sp_aa_freq), 0.36532);
  EXPECT_EQ(ComputeResidueP("GPSTDNH", pdb_aa_freq), 0.362732);
  EXPECT_EQ(ComputeResidueP("W", sp_aa_freq), 0.011577);
  for (const char* none : {"", "Xg"}) EXPECT_EQ(ComputeResidueP(none, sp_aa_freq), 0.0);
}

TEST(Encoding, AgreesWithAA2binaryAtEveryPosition) {
  std::mt19937 rng(3);
  const char* sets[] = {"GPSTDNH", "", "W", "RKEDQNTSPHGACMVLFYIW", "AX"};
  for (const char* set : sets) {
    for (int trial = 0; trial < 300; trial++) {
      const std::string seq = RandomText(rng, trial);
      std::string fast(seq.size(), '?'), slow(seq.size(), '?');
      const int n = static_cast<int>(seq.size());
      EncodeBinary(seq.data(), n, set, fast.data());
      literal::EncodeBinary(seq.data(), n, set, slow.data());
      ASSERT_EQ(fast, slow) << set;
    }
  }
}

TEST(Rounding, FormatsAndParsesBack) {
  EXPECT_EQ(round(2.5, "%.0lf"), 2.0);
  EXPECT_EQ(round(3.5, "%.0lf"), 4.0);
  EXPECT_EQ(round(1.8249, "%.0lf"), 2.0);
  EXPECT_EQ(round(0.125, "%.2lf"), 0.12);
  EXPECT_EQ(round(-0.4, "%.0lf"), 0.0);
  EXPECT_TRUE(std::signbit(round(-0.4, "%.0lf")));
}

TEST(LinkageDistance, RoundsHalfToEvenAndStaysInRange) {
  EXPECT_EQ(EstimateLinkageDistance(0.36532), 2);
  EXPECT_EQ(EstimateLinkageDistance(0.362732), 2);
  EXPECT_EQ(EstimateLinkageDistance(0.9), 1);
  EXPECT_EQ(EstimateLinkageDistance(0.8), 1);
  EXPECT_EQ(EstimateLinkageDistance(0.25), 3);
  EXPECT_EQ(EstimateLinkageDistance(4.0 / 15.0), 2);
  EXPECT_EQ(EstimateLinkageDistance(2.0 / 9.0), 3);  // 3 exactly
  EXPECT_EQ(EstimateLinkageDistance(1.0), 1);
  EXPECT_EQ(EstimateLinkageDistance(2.0), 1);  // 0.33 rounds to 0
  EXPECT_EQ(EstimateLinkageDistance(1e6), 1);
  // Saturates beyond the int range.
  EXPECT_EQ(EstimateLinkageDistance(0.0), INT_MAX);
  EXPECT_EQ(EstimateLinkageDistance(-0.0), INT_MAX);
  EXPECT_EQ(EstimateLinkageDistance(NAN), INT_MAX);
  EXPECT_EQ(EstimateLinkageDistance(1e-300), INT_MAX);
  EXPECT_EQ(EstimateLinkageDistance(4.9e-324), INT_MAX);
  EXPECT_EQ(EstimateLinkageDistance(2.0 / (3.0 * 2147483000.0)), 2147483000);
  EXPECT_EQ(EstimateLinkageDistance(2.0 / (3.0 * 2147483648.0)), INT_MAX);
  EXPECT_EQ(EstimateLinkageDistance(2.0 / (3.0 * 1e12)), INT_MAX);
}

}  // namespace
