// talvo-proteome --discover --masked: the masked FASTA is the union of the
// segments that a run with the mask's settings (its linkage distance, every
// class) reports with a q-value below -M, whatever linkage the tables use.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <sstream>

#include "support/support.h"

namespace {

using Args = std::vector<std::string>;

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::stringstream stream(text);
  for (std::string part; std::getline(stream, part, separator);) parts.push_back(part);
  return parts;
}

// Background proteins with biased tracts of several classes, and odd entries:
// empty, lower case, letters that are not residues.
std::string BiasedProteome(unsigned seed) {
  std::mt19937 rng(seed);
  const std::string background = "ACDEFGHIKLMNPQRSTVWY";
  const std::string tracts[] = {"QQNQNSQ", "RGGRGGSY", "SRSRSPR", "EEDDKKE", "PPSPTPE", "LLLAL"};
  std::string text = ">empty\n\n>lower\nmkqqqnqqnqqqsqqnqqqpqqqnmdlk\n>odd\nMSBXZ*GGGSG\n";
  for (int i = 0; i < 40; i++) {
    std::string residues;
    for (size_t length = rng() % 600; residues.size() < length;) {
      const std::string& tract = tracts[rng() % 6];
      const unsigned density = rng() % 8 == 0 ? 55 + rng() % 45 : 0;  // per cent of the tract
      for (unsigned j = density ? 8 + rng() % 50 : 1; j > 0; j--) {
        residues += rng() % 100 < density ? tract[rng() % tract.size()] : background[rng() % 20];
      }
    }
    text += ">p" + std::to_string(i) + " protein\n" + residues + "\n";
  }
  return text;
}

ProcessResult Proteome(const std::string& options, Args args) {
  for (const std::string& word : Split(options, ' ')) {
    if (!word.empty()) args.push_back(word);
  }
  args.push_back("--no-progress");
  return RunProcess(TALVO_PROTEOME_EXE, args);
}

// The plain records, masked where the rows of `table` (every segment of every
// class, with q-values) have q below mask_p.
std::string UnionOfRows(const std::string& plain, const std::string& table, double mask_p,
                        bool lower_case) {
  std::map<long, std::vector<bool>> masked;  // by entry
  for (const std::string& line : Split(table, '\n')) {
    // input entry id class length segment start end seg_length special p q residues
    const std::vector<std::string> f = Split(line, '\t');
    if (f[0] == "input" || !(std::stod(f[11]) < mask_p)) continue;
    std::vector<bool>& positions = masked[std::stol(f[1])];
    positions.resize(std::stoul(f[4]));
    for (long i = std::stol(f[6]); i <= std::stol(f[7]); i++) positions.at(i - 1) = true;
  }
  std::string text;
  long entry = 0;
  size_t i = 0;
  for (const std::string& line : Split(plain, '\n')) {
    const bool header = !line.empty() && line[0] == '>';
    if (header) {
      entry++;
      i = 0;
    }
    const std::vector<bool>& positions = masked[entry];
    for (char c : line) {
      const bool mask = !header && i < positions.size() && positions[i++];
      text += !mask        ? c
              : lower_case ? static_cast<char>(tolower(static_cast<unsigned char>(c)))
                           : 'X';
    }
    text += '\n';
  }
  return text;
}

TEST(ProteomeMask, DiscoveryMaskIsTheUnionOfTheMaskRunsSignificantRows) {
  struct Case {
    const char* options;       // of the masked run
    const char* mask_options;  // of the run whose rows make the mask
    double mask_p;
  };
  const Case cases[] = {
      {"", "-E:8", 0.05},
      {"-E:6 -L", "-E:8", 0.05},
      {"-K -X", "-E:8 -X", 0.05},
      {"--mask-linkage=5 -L", "-E:5", 0.05},
      {"-E:8 --threads=1", "-E:8", 0.05},  // the tables' own segments, no second analysis
      {"-I -M:0.2 -L --mask-linkage=12", "-I -M:0.2 -E:12", 0.2},
      {"-G:1 --exact-null -E:3", "-G:1 --exact-null -E:8", 0.05},
  };
  const TempDir dir;
  for (unsigned seed = 1; seed <= 2; seed++) {
    WriteFile(dir / "in.fa", BiasedProteome(seed));
    ASSERT_EQ(Proteome("-M:0", {"--masked", dir / "plain.fa", dir / "in.fa"}).exit_status, 0);
    const std::string plain = ReadFile(dir / "plain.fa");
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.options) + ", seed " + std::to_string(seed));
      const ProcessResult masked =
          Proteome(c.options, {"--discover", "--masked", dir / "masked.fa", dir / "in.fa"});
      const ProcessResult rows = Proteome(c.mask_options, {"--discover", "--all", dir / "in.fa"});
      ASSERT_EQ(masked.exit_status + rows.exit_status, 0) << masked.err << rows.err;
      const bool lower_case = std::string(c.options).find("-L") != std::string::npos;
      const std::string expected = UnionOfRows(plain, rows.out, c.mask_p, lower_case);
      EXPECT_EQ(ReadFile(dir / "masked.fa"), expected);
      EXPECT_NE(expected, plain);  // something is masked
    }
  }
  for (const auto& [args, message] :
       {std::pair<Args, const char*>{{"--mask-linkage=8", dir / "in.fa"},
                                     "--mask-linkage sets the mask of --discover"},
        {{"--discover", "--mask-linkage=-1", dir / "in.fa"}, "invalid value '-1'"}}) {
    const ProcessResult run = Proteome("", args);
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
  }
}

}  // namespace
