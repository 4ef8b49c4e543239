#include "fasta/fasta.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "reference/fasta_reference.h"
#include "support/process.h"

namespace {

struct Entry {
  std::string name;
  std::string seq;
  int length;
};

struct ReadResult {
  int status = 0;
  int count = 0;
  std::vector<Entry> entries;
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

void ExpectEntry(const ReadResult& result, size_t i, const std::string& name,
                 const std::string& seq) {
  ASSERT_LT(i, result.entries.size());
  EXPECT_EQ(result.entries[i].name, name);
  EXPECT_EQ(result.entries[i].seq, seq);
  EXPECT_EQ(result.entries[i].length, static_cast<int>(seq.size()));
}

TEST(FastaEntries, ReadsEveryEntryInFileOrder) {
  const ReadResult r = ReadText(">one\nACD\n>two desc\nEF\nGH\n>three\nIK\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.count, 3);
  ExpectEntry(r, 0, "one", "ACD");
  ExpectEntry(r, 1, "two desc", "EFGH");
  ExpectEntry(r, 2, "three", "IK");
}

TEST(FastaEntries, FailsWithoutAnyHeaderLine) {
  EXPECT_EQ(ReadText("ACDEFG\n").status, 0);
  EXPECT_EQ(ReadText("").status, 0);
  // A last header line without its newline is not counted.
  EXPECT_EQ(ReadText("ACD\n>only").status, 0);
}

TEST(FastaEntries, SkipsTextBeforeTheFirstHeader) {
  const ReadResult r = ReadText("junk line\nMORE\n>first\nAC\n");
  EXPECT_EQ(r.status, 1);
  ExpectEntry(r, 0, "first", "AC");
}

TEST(FastaEntries, KeepsTheCarriageReturnOfACrlfHeader) {
  const ReadResult r = ReadText(">crlf\r\nAC\r\nDE\r\n");
  ExpectEntry(r, 0, "crlf\r", "ACDE");
}

TEST(FastaEntries, JoinsLinesAndKeepsCaseAndDashes) {
  const ReadResult r = ReadText(">x\nac d\tE\r\n-g\n\nhH\n");
  ExpectEntry(r, 0, "x", "acdE-ghH");
}

TEST(FastaEntries, SkipsDigitsStarsAndHighBytes) {
  const std::string nul(1, '\0');
  const ReadResult r = ReadText(
      ">x\n1 AC*9\xc3\xa9"
      "D\x80\xff.E" +
      nul + "F\n" + nul + "G\n");
  ExpectEntry(r, 0, "x", "ACDEFG");
}

TEST(FastaEntries, HeaderFollowedByHeaderGivesAnEmptyEntry) {
  const ReadResult r = ReadText(">empty\n>full\nMK\n");
  EXPECT_EQ(r.status, 1);
  ExpectEntry(r, 0, "empty", "");
  ExpectEntry(r, 1, "full", "MK");
}

TEST(FastaEntries, MarkInsideASequenceLineStartsTheNextEntry) {
  // Only two lines begin with '>', so two entries are read and the text after
  // the mid-line mark's entry is lost.
  const ReadResult r = ReadText(">a\nAC>mid\nDE\n>b\nFG\n");
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.count, 2);
  ExpectEntry(r, 0, "a", "AC");
  ExpectEntry(r, 1, "mid", "DE");
}

TEST(FastaEntries, LastBodyWithoutNewlineIsRead) {
  const ReadResult r = ReadText(">a\nAC\nDE");
  ExpectEntry(r, 0, "a", "ACDE");
}

TEST(FastaLongLines, CutsALongHeaderAndDropsTheRestOfItsLine) {
  const std::string header(25000, 'h');
  const ReadResult r = ReadText(">" + header + "tail\nMK\n");
  EXPECT_EQ(r.status, 1);
  ExpectEntry(r, 0, header.substr(0, 19999), "MK");
}

TEST(FastaLongLines, HeaderOfExactlyTheBufferSizeLosesOnlyItsNewline) {
  const std::string header(19998, 'h');  // 19999 characters with the newline
  const ReadResult r = ReadText(">" + header + "\nMK\n");
  ExpectEntry(r, 0, header, "MK");
}

TEST(FastaLongLines, LongHeaderAtTheEndOfTheFileHasNoResidues) {
  const std::string header(30000, 'z');
  const ReadResult r = ReadText(">a\nMK\n>" + header);
  EXPECT_EQ(r.status, 1);
  EXPECT_EQ(r.count, 2);
  ExpectEntry(r, 0, "a", "MK");
  ExpectEntry(r, 1, header.substr(0, 19999), "");
}

TEST(FastaLongLines, CountsOnlyLineStartsOfLongLines) {
  // The second half of a long line is never examined as a line of its own.
  const std::string text = ">a\n" + std::string(19999, 'A') + ">b\nC\n";
  EXPECT_EQ(ReadText(text).count, 1);
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
    const ReadResult fast = ReadText(text);
    const ReadResult slow = ReadText(text, literal::ReadFastaFile);
    ASSERT_EQ(fast.status, slow.status) << trial;
    ASSERT_EQ(fast.count, slow.count) << trial;
    ASSERT_EQ(fast.entries.size(), slow.entries.size()) << trial;
    for (size_t i = 0; i < fast.entries.size(); i++) {
      ASSERT_EQ(fast.entries[i].name, slow.entries[i].name) << trial;
      ASSERT_EQ(fast.entries[i].seq, slow.entries[i].seq) << trial;
      ASSERT_EQ(fast.entries[i].length, slow.entries[i].length) << trial;
    }
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
    const ReadResult fast = ReadText(text);
    const ReadResult slow = ReadText(text, literal::ReadFastaFile);
    ASSERT_EQ(fast.status, slow.status);
    ASSERT_EQ(fast.count, slow.count);
    ASSERT_EQ(fast.entries.size(), slow.entries.size());
    for (size_t i = 0; i < fast.entries.size(); i++) {
      ASSERT_EQ(fast.entries[i].name, slow.entries[i].name);
      ASSERT_EQ(fast.entries[i].seq, slow.entries[i].seq);
      ASSERT_EQ(fast.entries[i].length, slow.entries[i].length);
    }
  }
}

}  // namespace
