// The block reader against the literal one: hand-picked quirks, random files
// of the bytes the reader treats specially, and a file of megabytes.
#include "fasta/fasta.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "reference/literal.h"
#include "support/support.h"

namespace {

using Entries = std::vector<literal::FastaEntry>;

void ExpectSameRead(std::string text) {
  Entries expected, entries;
  const bool read = literal::ReadFasta(text, expected);
  for (auto& entry : expected) entry.name = entry.name.c_str();  // names are C strings
  FASTA_FILE file;
  file.fp = fmemopen(text.data(), text.size(), "r");
  ASSERT_EQ(ReadFastaFile(&file), read ? 1 : 0) << text.substr(0, 200);
  for (int i = 0; read && i <= file.count; i++) {
    if (i == file.count) {
      EXPECT_TRUE(file.names[i] == nullptr && file.seqs[i] == nullptr && file.lengths[i] == 0);
    } else {
      entries.push_back({file.names[i], file.seqs[i]});
      EXPECT_EQ(file.lengths[i], static_cast<int>(entries.back().seq.size()));
    }
  }
  EXPECT_TRUE(entries == expected || !read) << text.substr(0, 200);
  fclose(file.fp);
  ReleaseFastaFile(&file);
}

TEST(Fasta, MatchesLiteralReader) {
  using namespace std::string_literals;
  const std::string h(19998, 'h'), a(19999, 'A');
  for (const std::string& text :
       {">one\nACD\n>two desc\nEF\nGH\n>three\nIK\n"s, "junk\nMORE\n>first\nAC\n"s,
        ">crlf\r\nAC\r\nDE\r\n"s, ">x\nac d\tE\r\n-g\n\nhH\n1 C*9\xc3\xa9\x80\xff.E\0F\n\0G\n"s,
        ">empty\n>full\nMK\n"s, ">a\nAC>mid\nDE\n>b\nFG\n"s, ">a\nAC\nDE"s, ">" + h + "h\nMK\n",
        ">" + h + "\nMK\n", ">" + h + "hh" + a + "tail\nMK\n", ">a\nMK\n>" + h + a,
        ">a\n" + a + ">b\nC\n", "ACDEFG\n"s, ""s, "ACD\n>only"s, ">a\n" + h + "\n>b"s}) {
    ExpectSameRead(text);
  }
  std::mt19937 rng(2024);
  const std::string pool = std::string(">>>\n\n\r AcgT-*9\t\xff\x80") + '\0';
  for (int trial = 0; trial < 1500; trial++) {
    std::string text;
    for (int piece = rng() % 20; piece >= 0; piece--) {
      if (rng() % 40 == 0) text += '>' + std::string(19990 + rng() % 20, 'q') + "\n"[rng() % 2];
      for (int i = rng() % 200; i > 0; i--) text += pool[rng() % pool.size()];
    }
    ExpectSameRead(text);
  }
  std::string big;  // many tiny entries, then bodies of megabytes
  for (int i = 0; i < 3000; i++) big += ">t\nAC\n";
  for (int entry = 0; entry < 2; entry++) {
    big += ">big\n";
    for (int i = 1500000 + rng() % 1000000; i > 0; i--)
      big += "ACDEFGHIKLacgt-X*1 \r\n\n"[rng() % 23];
  }
  ExpectSameRead(big + ">");
}

}  // namespace
