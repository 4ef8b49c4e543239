// Whole-process runs on hostile inputs and hostile output locations: every
// one ends with a clear message and status 1, or with a complete, correct
// report and status 0; never a crash, a hang, a NaN p-value, or a claim of
// success for output that was not fully written.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "support/process.h"

namespace {

namespace fs = std::filesystem;

class Hostile : public ::testing::Test {
 protected:
  void SetUp() override { dir_ = MakeTempDir(); }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  ProcessResult Run(const std::vector<std::string>& args) const {
    return RunProcess(TALVO_EXE, args, dir_);
  }

  std::string dir_;
};

std::string Example(const std::string& name) {
  return std::string(TALVO_SOURCE_DIR) + "/examples/" + name;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields;
  std::istringstream stream(line);
  for (std::string field; stream >> field;) fields.push_back(field);
  return fields;
}

bool IsNumber(const std::string& text) {
  if (text.find_first_of("nN") != std::string::npos) return false;  // nan, inf
  char* end = nullptr;
  std::strtod(text.c_str(), &end);
  return !text.empty() && *end == '\0';
}

// A finished report: a "#Segments: n" line followed by n segment lines whose
// p-value is a number, then an empty line and the overall line whose exact
// probability is a number.
void ExpectCompleteReport(const std::string& report) {
  std::vector<std::string> lines = Lines(report);
  size_t at = 0;
  while (at < lines.size() && lines[at].rfind("#Segments: ", 0) != 0) ++at;
  ASSERT_LT(at, lines.size()) << "no segment count in:\n" << report;
  int count = std::stoi(lines[at].substr(11));
  ASSERT_EQ(lines.size(), at + 1 + count + 2) << report;
  for (int i = 1; i <= count; ++i) {
    std::vector<std::string> fields = Fields(lines[at + i]);
    ASSERT_EQ(fields.size(), 7u) << lines[at + i];
    EXPECT_EQ(fields[0], std::to_string(i));
    EXPECT_TRUE(IsNumber(fields[5])) << lines[at + i];
  }
  EXPECT_EQ(lines[at + count + 1], "");
  std::vector<std::string> overall = Fields(lines.back());
  ASSERT_GE(overall.size(), 5u) << lines.back();
  EXPECT_EQ(overall[0], "#Overall:");
  EXPECT_TRUE(IsNumber(overall[2])) << lines.back();
  // The normal approximation has no value for a variance of 0; it may then
  // read nan, but only when marked invalid with the asterisk.
  std::string approx = overall[3];
  const bool marked_invalid = !approx.empty() && approx.back() == '*';
  if (marked_invalid) approx.pop_back();
  EXPECT_TRUE(IsNumber(approx) || (approx == "nan" && marked_invalid)) << lines.back();
  EXPECT_EQ(report.back(), '\n');
}

// The body of a masked FASTA file, lines joined.
std::string FastaBody(const std::string& fasta) {
  std::vector<std::string> lines = Lines(fasta);
  std::string body;
  for (size_t i = 1; i < lines.size(); ++i) body += lines[i];
  return body;
}

// ---------------------------------------------------------------- inputs

TEST_F(Hostile, MissingInputFailsWithMessage) {
  ProcessResult result = Run({Path("absent.fa"), "out"});
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_NE(result.out.find("Can't open input file"), std::string::npos) << result.out;
  EXPECT_FALSE(FileExists(Path("out.seg")));
}

TEST_F(Hostile, EmptyInputFailsWithMessage) {
  WriteFile(Path("empty.fa"), "");
  ProcessResult result = Run({"empty.fa", "out"});
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_NE(result.out.find("Error reading FASTA file"), std::string::npos) << result.out;
  EXPECT_FALSE(FileExists(Path("out.seg")));
}

TEST_F(Hostile, DirectoryAsInputFailsWithMessage) {
  fs::create_directory(Path("a_directory"));
  ProcessResult result = Run({"a_directory", "out"});
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_FALSE(result.out.empty() && result.err.empty());
  EXPECT_FALSE(FileExists(Path("out.seg")));
}

// Bytes of every value, but no line that starts with '>': not a FASTA file.
TEST_F(Hostile, BinaryInputWithoutHeaderFailsWithMessage) {
  std::string bytes;
  unsigned state = 12345;
  for (int i = 0; i < 1 << 16; ++i) {
    state = state * 1103515245u + 12345u;
    char c = static_cast<char>(state >> 16);
    if (c == '\n') c = '\0';
    bytes.push_back(c);
  }
  bytes[0] = 'x';
  WriteFile(Path("binary.bin"), bytes);
  ProcessResult result = Run({"binary.bin", "out"});
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_NE(result.out.find("Error reading FASTA file"), std::string::npos) << result.out;
}

// Binary noise after a header is read as whatever letters it holds; the run
// must still produce a sound report.
TEST_F(Hostile, BinaryBodyAfterHeaderGivesCompleteReport) {
  std::string bytes = ">noise\n";
  for (int i = 0; i < 4096; ++i) bytes.push_back(static_cast<char>((i * 7919) % 256));
  WriteFile(Path("noise.fa"), bytes);
  for (const char* option : {"-T", "-I", "-W:12", "-S:20", "-G:20", "-F"}) {
    ProcessResult result = Run({"noise.fa", "out", option});
    if (result.exit_status != 0) {
      EXPECT_EQ(result.exit_status, 1) << option;
      continue;
    }
    ExpectCompleteReport(ReadFile(Path("out.seg")));
  }
}

TEST_F(Hostile, SingleResidueGivesCompleteReport) {
  for (const char* residue : {"G", "W", "x", "-"}) {
    WriteFile(Path("one.fa"), std::string(">one\n") + residue + "\n");
    ProcessResult result = Run({"one.fa", "out", "-F"});
    ASSERT_EQ(result.exit_status, 0) << residue << "\n" << result.out << result.err;
    std::string report = ReadFile(Path("out.seg"));
    ExpectCompleteReport(report);
    EXPECT_NE(report.find("Length=1 W=0 E=4\n"), std::string::npos) << report;
    EXPECT_EQ(FastaBody(ReadFile(Path("out.fas"))).size(), 1u);
  }
}

TEST_F(Hostile, SingleResidueWithWindowOfOne) {
  WriteFile(Path("one.fa"), ">one\nS\n");
  ProcessResult result = Run({"one.fa", "out", "-W:1", "-S:5"});
  ASSERT_EQ(result.exit_status, 0) << result.out << result.err;
  ExpectCompleteReport(ReadFile(Path("out.seg")));
}

// Background probabilities of 0 and 1 make the statistics degenerate; the
// p-value columns must still hold numbers.
TEST_F(Hostile, DegenerateBackgroundGivesNumericPValues) {
  WriteFile(Path("special.fa"), ">all special\nGPSTDNHGPSTDNHGPSTDNHGPSTDNH\n");
  WriteFile(Path("mixed.fa"), ">mixed\nGGGGGAAAAALLLLLGGGGGSSSSPPPP\n");
  const std::vector<std::vector<std::string>> option_sets = {{"-I"},
                                                             {"-I", "-W:5"},
                                                             {"-I", "-W:28"},
                                                             {"-I", "-S:30"},
                                                             {"-I", "-G:30"},
                                                             {"-A:Z"},
                                                             {"-A:Z", "-W:4"},
                                                             {"-A:Z", "-K"},
                                                             {"-I", "-K"},
                                                             {"-A:ACDEFGHIKLMNPQRSTVWY"},
                                                             {"-A:ACDEFGHIKLMNPQRSTVWY", "-W:3"},
                                                             {"-P:1", "-W:2"},
                                                             {"-M:1", "-F"}};
  for (const char* input : {"special.fa", "mixed.fa"}) {
    for (const std::vector<std::string>& options : option_sets) {
      std::vector<std::string> args = {input, "out"};
      args.insert(args.end(), options.begin(), options.end());
      ProcessResult result = Run(args);
      ASSERT_EQ(result.exit_status, 0) << input << " " << options[0] << "\n" << result.err;
      SCOPED_TRACE(std::string(input) + " " + options[0]);
      ExpectCompleteReport(ReadFile(Path("out.seg")));
    }
  }
}

// Numbers at and beyond the 32-bit limits, nan and inf: each run either
// finishes with a sound report or is refused with status 1.
TEST_F(Hostile, ExtremeOptionValuesFinishOrAreRefused) {
  const std::vector<std::vector<std::string>> option_sets = {{"-E:-2147483648"},
                                                             {"-E:2147483647"},
                                                             {"-E:-99999999999999999999"},
                                                             {"-E:99999999999999999999", "-W:3"},
                                                             {"-W:2147483647"},
                                                             {"-W:-2147483648"},
                                                             {"-S:-3"},
                                                             {"-G:0"},
                                                             {"-S:5", "-E:-2147483648"},
                                                             {"-P:nan", "-W:5"},
                                                             {"-M:nan", "-F"},
                                                             {"-M:inf"},
                                                             {"-P:-inf"},
                                                             {"-P:1e-400", "-W:4"},
                                                             {"-W:146"},
                                                             {"-W:147"},
                                                             {"-W"},
                                                             {"-A"},
                                                             {"-"},
                                                             {""}};
  for (const std::vector<std::string>& options : option_sets) {
    std::vector<std::string> args = {Example("HBB_HUMAN.fa"), "out"};
    args.insert(args.end(), options.begin(), options.end());
    fs::remove(Path("out.seg"));
    ProcessResult result = Run(args);
    SCOPED_TRACE(options[0]);
    if (result.exit_status == 0) {
      ExpectCompleteReport(ReadFile(Path("out.seg")));
    } else {
      EXPECT_EQ(result.exit_status, 1);
      EXPECT_FALSE(result.out.empty() && result.err.empty());
    }
  }
}

// A proteome-sized file: several hundred megabytes, of which only the first
// entry is analysed.
TEST_F(Hostile, SeveralHundredMegabyteFileIsReadAndFirstEntryReported) {
  const std::string first = ">first entry\nMSTPGSSTPGAAAAAKLMVWGSSSSSSPPPPDDNNLLK\n";
  {
    FILE* file = fopen(Path("big.fa").c_str(), "w");
    ASSERT_NE(file, nullptr);
    fputs(first.c_str(), file);
    std::string line(79, 'A');
    for (size_t i = 0; i < line.size(); ++i) line[i] = "ACDEFGHIKLMNPQRSTVWY"[(i * 7) % 20];
    line += '\n';
    const long kEntries = 300000;  // about 300 MB
    for (long entry = 0; entry < kEntries; ++entry) {
      fprintf(file, ">entry_%ld\n", entry);
      for (int row = 0; row < 12; ++row) fputs(line.c_str(), file);
    }
    ASSERT_EQ(fclose(file), 0);
  }
  EXPECT_GT(fs::file_size(Path("big.fa")), 250u * 1000 * 1000);
  ProcessResult result = Run({"big.fa", "out"});
  fs::remove(Path("big.fa"));
  ASSERT_EQ(result.exit_status, 0) << result.out << result.err;
  std::string report = ReadFile(Path("out.seg"));
  ExpectCompleteReport(report);
  EXPECT_NE(report.find("\n>first entry\nMSTPGSSTPGAAAAAKLMVWGSSSSSSPPPPDDNNLLK\n"),
            std::string::npos)
      << report;
}

// One entry of a million residues: long sequence listings and many segments.
TEST_F(Hostile, MillionResidueEntryGivesCompleteReport) {
  std::string fasta = ">long\n";
  unsigned state = 7;
  for (int i = 0; i < 1000000; ++i) {
    state = state * 1103515245u + 12345u;
    fasta.push_back("ACDEFGHIKLMNPQRSTVWY"[(state >> 16) % 20]);
    if (i % 60 == 59) fasta.push_back('\n');
  }
  WriteFile(Path("long.fa"), fasta + "\n");
  ProcessResult result = Run({"long.fa", "out", "-L"});
  ASSERT_EQ(result.exit_status, 0) << result.out << result.err;
  ExpectCompleteReport(ReadFile(Path("out.seg")));
  EXPECT_EQ(FastaBody(ReadFile(Path("out.fas"))).size(), 1000000u);
}

// ---------------------------------------------------------------- outputs

TEST_F(Hostile, OutputInMissingDirectoryFails) {
  ProcessResult result = Run({Example("HBB_HUMAN.fa"), "no/such/dir/out"});
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_NE(result.out.find("Can't open output file"), std::string::npos) << result.out;
}

// Tests run as root, for whom permission bits do not stop a write: a regular
// file used as a directory, and /proc, refuse new files whoever asks.
TEST_F(Hostile, OutputInUnwritableDirectoryFails) {
  WriteFile(Path("plain_file"), "x");
  for (const std::string& base : {std::string("plain_file/out"), std::string("/proc/talvo_out")}) {
    ProcessResult result = Run({Example("HBB_HUMAN.fa"), base});
    EXPECT_EQ(result.exit_status, 1) << base;
    EXPECT_NE(result.out.find("Can't open output file"), std::string::npos) << result.out;
  }
}

TEST_F(Hostile, UnwritableMaskedFastaFailsWithName) {
  fs::create_directory(Path("d"));
  fs::create_directory(Path("d/out.fas"));  // a directory where the file should go
  ProcessResult result = Run({Example("HBB_HUMAN.fa"), "d/out", "-F"});
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_NE(result.err.find("Can't open output file d/out.fas"), std::string::npos) << result.err;
}

// A name of several thousand characters is either used whole or refused with
// a message; it is never cut short, so no file of another name appears.
TEST_F(Hostile, VeryLongOutputNameIsUsedWholeOrRefused) {
  const std::vector<std::string> names = {
      std::string(5000, 'n'),  // one component, too long for any filesystem
      [] {                     // a valid path of about 3000 characters
        std::string path;
        for (int i = 0; i < 15; ++i) path += std::string(200, 'd') + "/";
        return path + "out";
      }()};
  for (const std::string& name : names) {
    fs::path parent = fs::path(Path(name)).parent_path();
    fs::create_directories(parent);
    ProcessResult result = Run({Example("HBB_HUMAN.fa"), name, "-F"});
    if (result.exit_status == 0) {
      ExpectCompleteReport(ReadFile(Path(name + ".seg")));
      EXPECT_TRUE(FileExists(Path(name + ".fas")));
    } else {
      EXPECT_EQ(result.exit_status, 1);
      EXPECT_FALSE(result.out.empty() && result.err.empty());
      EXPECT_FALSE(FileExists(Path(name + ".seg")));
    }
    // Nothing was written under a shortened name.
    for (const fs::directory_entry& entry : fs::recursive_directory_iterator(dir_)) {
      if (!entry.is_regular_file()) continue;
      std::string file = entry.path().string();
      EXPECT_TRUE(file == Path(name + ".seg") || file == Path(name + ".fas")) << file;
    }
  }
}

// /dev/full accepts the open but fails every write: the report must not be
// claimed as written.
TEST_F(Hostile, ReportOnFullDiskFails) {
  fs::create_symlink("/dev/full", Path("out.seg"));
  for (const char* input : {"HBB_HUMAN.fa", "7LESS_DROME.fa"}) {
    ProcessResult result = Run({Example(input), "out"});
    EXPECT_EQ(result.exit_status, 1) << input << "\n" << result.out;
    EXPECT_NE(result.out.find("error closing output file"), std::string::npos) << result.out;
    EXPECT_EQ(result.out.find("Elapsed time"), std::string::npos) << result.out;
  }
}

// A report much larger than any stream buffer fails part-way through, not
// only at the close.
TEST_F(Hostile, LargeReportOnFullDiskFails) {
  std::string fasta = ">long\n";
  for (int i = 0; i < 200000; ++i) fasta.push_back("ACEFIKLMQRVWY"[i % 13]);
  WriteFile(Path("long.fa"), fasta + "\n");
  fs::create_symlink("/dev/full", Path("out.seg"));
  ProcessResult result = Run({"long.fa", "out"});
  EXPECT_EQ(result.exit_status, 1) << result.out;
  EXPECT_EQ(result.out.find("Elapsed time"), std::string::npos) << result.out;
}

// The masked FASTA cannot be written: the message is printed, the report is
// still finished, and the run ends with status 1.
TEST_F(Hostile, MaskedFastaOnFullDiskFinishesReportAndFails) {
  fs::create_symlink("/dev/full", Path("out.fas"));
  for (const char* option : {"-F", "-L"}) {
    ProcessResult result = Run({Example("7LESS_DROME.fa"), "out", option});
    EXPECT_EQ(result.exit_status, 1) << option;
    EXPECT_NE(result.err.find("Error closing FASTA file\n"), std::string::npos) << result.err;
    ExpectCompleteReport(ReadFile(Path("out.seg")));
  }
}

TEST_F(Hostile, OutputNamedAfterDirectoryFails) {
  fs::create_directory(Path("out.seg"));
  ProcessResult result = Run({Example("HBB_HUMAN.fa"), "out"});
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_NE(result.out.find("Can't open output file"), std::string::npos) << result.out;
}

}  // namespace
