// Set-up in process: the FASTA reader against the literal one.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "support/support.h"

namespace {

// Hand-picked quirks, random files of the bytes the reader treats specially,
// and a file of megabytes.
TEST(Fasta, ReadsAsTheLiteralReader) {
  using namespace std::string_literals;
  const std::string h(19998, 'h'), a(19999, 'A');
  for (const std::string& text : {">a\nAC>mid\nDE\n>b\nFG\n"s, "ACD\n>only"s, ">a\nMK\n>" + h + a,
                                  ">" + h + "hh" + a + "tail\nMK\n", ">a\n" + a + ">b\nC\n"}) {
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

}  // namespace
