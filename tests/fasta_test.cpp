#include "fasta/fasta.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "reference/fasta_reference.h"
#include "support/process.h"

namespace {

using namespace std::string_literals;

struct Entry {
  std::string name;
  std::string seq;
  int length;
  bool operator==(const Entry&) const = default;
};

struct ReadResult {
  int status = 0;
  int count = 0;
  std::vector<Entry> entries;
  bool operator==(const ReadResult&) const = default;
};

using Reader = int (*)(FASTA_FILE*);

ReadResult ReadText(const std::string& text, Reader reader = ReadFastaFile) {
  static const std::string dir = MakeTempDir();
  const std::string path = dir + "/input.fa";
  WriteFile(path, text);
  FASTA_FILE file;
  file.fp = fopen(path.c_str(), "rb");
  ReadResult result;
  result.status = reader(&file);
  result.count = file.count;
  for (int i = 0; i < file.count && file.names && file.names[i]; i++) {
    const char* seq = file.seqs[i] ? file.seqs[i] : "";
    result.entries.push_back({file.names[i], seq, file.lengths[i]});
  }
  fclose(file.fp);
  ReleaseFastaFile(&file);
  return result;
}

TEST(FastaEntries, ReaderQuirks) {
  const std::string h19998(19998, 'h'), h19999(19999, 'h'), a19999(19999, 'A');
  struct Case {
    const char* what;
    std::string text;
    int count;
    std::vector<std::pair<std::string, std::string>> entries;  // name, residues
  };
  const Case cases[] = {
      {"entries in file order",
       ">one\nACD\n>two desc\nEF\nGH\n>three\nIK\n",
       3,
       {{"one", "ACD"}, {"two desc", "EFGH"}, {"three", "IK"}}},
      {"text before the first header", "junk line\nMORE\n>first\nAC\n", 1, {{"first", "AC"}}},
      {"CRLF header keeps its CR", ">crlf\r\nAC\r\nDE\r\n", 1, {{"crlf\r", "ACDE"}}},
      {"lines joined, case and dashes kept", ">x\nac d\tE\r\n-g\n\nhH\n", 1, {{"x", "acdE-ghH"}}},
      {"digits, stars and high bytes skipped",
       ">x\n1 AC*9\xc3\xa9"
       "D\x80\xff.E\0F\n\0G\n"s,
       1,
       {{"x", "ACDEFG"}}},
      {"header after header", ">empty\n>full\nMK\n", 2, {{"empty", ""}, {"full", "MK"}}},
      // Only two lines begin with '>', so the text after the mid-line mark's
      // entry is lost.
      {"mark inside a sequence line", ">a\nAC>mid\nDE\n>b\nFG\n", 2, {{"a", "AC"}, {"mid", "DE"}}},
      {"last body without newline", ">a\nAC\nDE", 1, {{"a", "ACDE"}}},
      {"long header cut",
       '>' + h19999 + std::string(5001, 'h') + "tail\nMK\n",
       1,
       {{h19999, "MK"}}},
      {"header of the buffer size", '>' + h19998 + "\nMK\n", 1, {{h19998, "MK"}}},
      {"long header at the end",
       ">a\nMK\n>" + h19999 + std::string(10001, 'h'),
       2,
       {{"a", "MK"}, {h19999, ""}}},
      // The second half of a long line is never examined as a line of its own,
      // and its mark still ends the residues.
      {"only line starts count", ">a\n" + a19999 + ">b\nC\n", 1, {{"a", a19999}}}};
  for (const Case& c : cases) {
    ReadResult expected{1, c.count, {}};
    for (const auto& [name, seq] : c.entries) {
      expected.entries.push_back({name, seq, static_cast<int>(seq.size())});
    }
    EXPECT_TRUE(ReadText(c.text) == expected) << c.what;
  }
}

// A last header line without its newline is not counted.
TEST(FastaEntries, FailsWithoutAnyHeaderLine) {
  for (const char* text : {"ACDEFG\n", "", "ACD\n>only"}) {
    EXPECT_EQ(ReadText(text).status, 0) << text;
  }
}

TEST(FastaStreams, CountLeavesTheStreamRewound) {
  const std::string dir = MakeTempDir();
  WriteFile(dir + "/f.fa", ">a\nAC\n>b\nDE\n>c");
  FILE* stream = fopen((dir + "/f.fa").c_str(), "rb");
  EXPECT_EQ(NumberOfSequences(stream), 2);
  EXPECT_EQ(ftell(stream), 0);
  fclose(stream);
}

TEST(FastaStreams, StreamThatCannotSeekFailsCleanly) {
  FILE* pipe = popen("printf '>a\\nACD\\n'", "r");
  ASSERT_NE(pipe, nullptr);
  FASTA_FILE file;
  file.fp = pipe;
  EXPECT_EQ(ReadFastaFile(&file), 0);
  pclose(pipe);
  ReleaseFastaFile(&file);
}

TEST(FastaStreams, CopyPassStopsJustAfterTheLastResidue) {
  const std::string dir = MakeTempDir();
  WriteFile(dir + "/f.fa", "xxAC 12D9*\n>");
  FILE* stream = fopen((dir + "/f.fa").c_str(), "rb");
  char buf[4];
  EXPECT_EQ(ReadSequence(2, stream, buf, 3), 1);
  EXPECT_STREQ(buf, "ACD");
  EXPECT_EQ(getc(stream), '9');
  EXPECT_EQ(ReadSequence(2, stream, buf, 0), 1);
  EXPECT_EQ(getc(stream), 'A');
  // Fewer residues than asked for.
  EXPECT_EQ(ReadSequence(4, stream, buf, 2), 0);
  fclose(stream);
}

// Random files built from the bytes the reader treats specially, with lines
// around the buffer size, read by both readers.
std::string RandomFasta(std::mt19937& rng) {
  static const std::string pool = std::string(">>>\n\n\r AcgT-*9\t\xff\x80") + '\0';
  std::uniform_int_distribution<size_t> pick(0, pool.size() - 1);
  std::uniform_int_distribution<int> size(0, 200);
  std::uniform_int_distribution<int> long_line(0, 40);
  std::string text;
  const int pieces = size(rng) / 10 + 1;
  for (int p = 0; p < pieces; p++) {
    if (long_line(rng) == 0) {
      text += '>';
      text.append(19990 + size(rng) % 20, 'q');
      if (size(rng) % 2) text += '\n';
    }
    const int n = size(rng);
    for (int i = 0; i < n; i++) text += pool[pick(rng)];
  }
  return text;
}

TEST(FastaAgreement, MatchesTheLiteralReaderOnRandomFiles) {
  std::mt19937 rng(2024);
  for (int trial = 0; trial < 1500; trial++) {
    const std::string text = RandomFasta(rng);
    ASSERT_TRUE(ReadText(text) == ReadText(text, literal::ReadFastaFile)) << trial;
  }
}

TEST(FastaAgreement, MatchesTheLiteralReaderOnLargeFiles) {
  std::mt19937 rng(99);
  const std::string pool = "ACDEFGHIKLMNPQRSTVWYacgt-X*1 \r\n\n\n";
  for (int trial = 0; trial < 4; trial++) {
    std::string text;
    // Many tiny entries, then bodies of several megabytes.
    for (int entry = 0; entry < 3000; entry++) text += ">t\nAC\n";
    for (int entry = 0; entry < 3; entry++) {
      text += ">big " + std::to_string(entry) + "\n";
      const int size = 1000000 + static_cast<int>(rng() % 2000000);
      for (int i = 0; i < size; i++) text += pool[rng() % pool.size()];
      if (trial % 2) text += ">";  // a mark inside the last line
    }
    ASSERT_TRUE(ReadText(text) == ReadText(text, literal::ReadFastaFile)) << trial;
  }
}

}  // namespace
