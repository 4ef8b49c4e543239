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
#include <regex>
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
  // Input, the output name "out", then the options.
  ProcessResult Run(const std::string& input, std::vector<std::string> options) const {
    options.insert(options.begin(), {input, "out"});
    return Run(options);
  }

  std::string dir_;
};

std::string Example(const std::string& name) {
  return std::string(TALVO_SOURCE_DIR) + "/examples/" + name;
}

std::vector<std::string> Fields(const std::string& line) {
  std::vector<std::string> fields;
  std::istringstream stream(line);
  for (std::string field; stream >> field;) fields.push_back(field);
  return fields;
}

// A finished report: a "#Segments: n" line followed by n numbered segment lines
// whose p-value is a number, then an empty line and the overall line whose
// exact probability is a number. The normal approximation has no value for a
// variance of 0; it may then read nan, but only when marked invalid with '*'.
void ExpectCompleteReport(const std::string& report) {
  const std::string number = "[0-9]\\.[0-9]{6}e[-+][0-9]{2,3}";
  const std::regex segment("([0-9]+) -?[0-9]+ -?[0-9]+ -?[0-9]+ [0-9]+ " + number + " [^ ]+");
  const std::regex overall("#Overall: [0-9]+ " + number + " (" + number + "\\*? |(" + number +
                           "|nan)\\* )\\([-+]\\)");
  std::istringstream lines(report.substr(report.find("\n#Segments: ") + 1));
  std::string line;
  std::getline(lines, line);
  ASSERT_TRUE(line.starts_with("#Segments: ")) << "no segment count in:\n" << report;
  const int count = std::stoi(line.substr(11));
  std::smatch match;
  for (int i = 1; i <= count; ++i) {
    ASSERT_TRUE(std::getline(lines, line)) << report;
    ASSERT_TRUE(std::regex_match(line, match, segment)) << line;
    EXPECT_EQ(match[1], std::to_string(i));
  }
  ASSERT_TRUE(std::getline(lines, line) && line.empty()) << report;
  ASSERT_TRUE(std::getline(lines, line)) << report;
  EXPECT_TRUE(std::regex_match(line, overall)) << line;
  EXPECT_FALSE(std::getline(lines, line)) << report;
  EXPECT_EQ(report.back(), '\n');
}

// The residues of a masked FASTA file, lines joined.
std::string FastaBody(const std::string& fasta) {
  std::string body = fasta.substr(fasta.find('\n') + 1);
  std::erase(body, '\n');
  return body;
}

// ---------------------------------------------------------------- inputs

// An empty file, a directory, and bytes of every value but no line that
// starts with '>': none is a FASTA file.
TEST_F(Hostile, InputThatIsNotFastaFailsWithMessage) {
  std::string bytes = "x";
  unsigned state = 12345;
  for (int i = 1; i < 1 << 16; ++i) {
    state = state * 1103515245u + 12345u;
    const char c = static_cast<char>(state >> 16);
    bytes.push_back(c == '\n' ? '\0' : c);
  }
  WriteFile(Path("binary.bin"), bytes);
  WriteFile(Path("empty.fa"), "");
  fs::create_directory(Path("a_directory"));
  for (const char* input : {"binary.bin", "empty.fa", "a_directory"}) {
    const ProcessResult result = Run({input, "out"});
    EXPECT_EQ(result.exit_status, 1) << input;
    EXPECT_EQ(result.out, "\nError reading FASTA file\n\n") << input;
    EXPECT_FALSE(FileExists(Path("out.seg"))) << input;
  }
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
    // A window of one, with shuffles.
    result = Run({"one.fa", "out", "-W:1", "-S:5"});
    ASSERT_EQ(result.exit_status, 0) << residue << "\n" << result.out << result.err;
    ExpectCompleteReport(ReadFile(Path("out.seg")));
  }
}

// Background probabilities of 0 and 1 make the statistics degenerate; the
// p-value columns must still hold numbers.
TEST_F(Hostile, DegenerateBackgroundGivesNumericPValues) {
  WriteFile(Path("special.fa"), ">all special\nGPSTDNHGPSTDNHGPSTDNHGPSTDNH\n");
  WriteFile(Path("mixed.fa"), ">mixed\nGGGGGAAAAALLLLLGGGGGSSSSPPPP\n");
  for (const char* input : {"special.fa", "mixed.fa"}) {
    for (const char* options : {"-I", "-I -W:5", "-I -W:28", "-I -S:30", "-I -G:30", "-A:Z",
                                "-A:Z -W:4", "-A:Z -K", "-I -K", "-A:ACDEFGHIKLMNPQRSTVWY",
                                "-A:ACDEFGHIKLMNPQRSTVWY -W:3", "-P:1 -W:2", "-M:1 -F"}) {
      SCOPED_TRACE(std::string(input) + " " + options);
      const ProcessResult result = Run(input, Fields(options));
      ASSERT_EQ(result.exit_status, 0) << result.err;
      ExpectCompleteReport(ReadFile(Path("out.seg")));
    }
  }
}

// Numbers at and beyond the 32-bit limits, nan and inf: each run either
// finishes with a sound report or is refused with status 1.
TEST_F(Hostile, ExtremeOptionValuesFinishOrAreRefused) {
  std::vector<std::vector<std::string>> option_sets = {{""}};  // an empty argument
  for (const char* options :
       {"-E:-2147483648", "-E:2147483647", "-E:-99999999999999999999",
        "-E:99999999999999999999 -W:3", "-W:2147483647", "-W:-2147483648", "-S:-3", "-G:0",
        "-S:5 -E:-2147483648", "-P:nan -W:5", "-M:nan -F", "-M:inf", "-P:-inf", "-P:1e-400 -W:4",
        "-W:146", "-W:147", "-W", "-A", "-"}) {
    option_sets.push_back(Fields(options));
  }
  for (const std::vector<std::string>& options : option_sets) {
    SCOPED_TRACE(testing::PrintToString(options));
    fs::remove(Path("out.seg"));
    const ProcessResult result = Run(Example("HBB_HUMAN.fa"), options);
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

// Tests run as root, for whom permission bits do not stop a write: a regular
// file used as a directory, /proc and a directory named like the report
// refuse the report whoever asks.
TEST_F(Hostile, UnopenableReportFails) {
  WriteFile(Path("plain_file"), "x");
  fs::create_directory(Path("taken.seg"));
  for (const char* base : {"no/such/dir/out", "plain_file/out", "/proc/talvo_out", "taken"}) {
    const ProcessResult result = Run({Example("HBB_HUMAN.fa"), base});
    EXPECT_EQ(result.exit_status, 1) << base;
    EXPECT_TRUE(result.out.ends_with("\nCan't open output file\n\n")) << result.out;
  }
}

// A valid path of about 3000 characters is used whole; a name component of
// 5000 is refused with a message. Neither is cut short, so no file of another
// name appears.
TEST_F(Hostile, VeryLongOutputNameIsUsedWholeOrRefused) {
  std::string long_path;
  for (int i = 0; i < 15; ++i) long_path += std::string(200, 'd') + "/";
  fs::create_directories(Path(long_path));
  long_path += "out";
  const std::string too_long(5000, 'n');
  ProcessResult result = Run({Example("HBB_HUMAN.fa"), too_long, "-F"});
  EXPECT_EQ(result.exit_status, 1);
  EXPECT_TRUE(result.out.ends_with("\nCan't open output file\n\n")) << result.out;
  result = Run({Example("HBB_HUMAN.fa"), long_path, "-L"});
  ASSERT_EQ(result.exit_status, 0) << result.out << result.err;
  ExpectCompleteReport(ReadFile(Path(long_path + ".seg")));
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(dir_)) {
    if (!entry.is_regular_file()) continue;
    const std::string file = entry.path().string();
    EXPECT_TRUE(file == Path(long_path + ".seg") || file == Path(long_path + ".fas")) << file;
  }
  EXPECT_TRUE(FileExists(Path(long_path + ".fas")));
}

// /dev/full accepts the open but fails every write: the report must not be
// claimed as written, whether it fails at the close or, much larger than any
// stream buffer, part-way through.
TEST_F(Hostile, ReportOnFullDiskFails) {
  std::string fasta = ">long\n";
  for (int i = 0; i < 200000; ++i) fasta.push_back("ACEFIKLMQRVWY"[i % 13]);
  WriteFile(Path("long.fa"), fasta + "\n");
  fs::create_symlink("/dev/full", Path("out.seg"));
  for (const std::string& input :
       {Example("HBB_HUMAN.fa"), Example("7LESS_DROME.fa"), Path("long.fa")}) {
    const ProcessResult result = Run({input, "out"});
    EXPECT_EQ(result.exit_status, 1) << input;
    EXPECT_TRUE(result.out.ends_with("\nerror closing output file\n\n")) << result.out;
    EXPECT_EQ(result.out.find("Elapsed time"), std::string::npos) << result.out;
  }
}

}  // namespace
