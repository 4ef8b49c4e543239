// talvo-proteome --discover --masked: the masked FASTA is the union of the
// segments that a run with the mask's settings (its linkage distance, every
// class) reports with a q-value below -M, whatever linkage the tables use.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <sstream>

#include "support/support.h"

namespace {

std::vector<std::string> Split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  std::stringstream stream(text);
  for (std::string part; std::getline(stream, part, separator);) parts.push_back(part);
  return parts;
}

// Background proteins with biased tracts of several classes, and a few odd
// entries: empty, lower case, letters that are not residues.
std::string BiasedProteome(unsigned seed) {
  std::mt19937 rng(seed);
  const std::string background = "ACDEFGHIKLMNPQRSTVWY";
  const std::string tracts[] = {"QQNQNSQ", "RGGRGGSY", "SRSRSPR", "EEDDKKE", "PPSPTPE", "LLLAL"};
  std::string text =
      ">empty\n\n>lower case\nmkqqqnqqnqqqsqqnqqqpqqqnmdlk\n>odd BXZ*\nMSBXZ*GGGSG\n";
  for (int i = 0; i < 40; i++) {
    std::string residues;
    const int length = static_cast<int>(rng() % 600);
    while (static_cast<int>(residues.size()) < length) {
      if (rng() % 8 == 0) {
        const std::string& tract = tracts[rng() % 6];
        const int tract_length = 8 + static_cast<int>(rng() % 50);
        const unsigned density = 55 + rng() % 45;  // per cent of the tract's class
        for (int j = 0; j < tract_length; j++) {
          residues += rng() % 100 < density ? tract[rng() % tract.size()] : background[rng() % 20];
        }
      } else {
        residues += background[rng() % 20];
      }
    }
    text += ">p" + std::to_string(i) + " protein\n" + residues + "\n";
  }
  return text;
}

std::vector<std::string> Words(const std::string& options) {
  std::vector<std::string> words;
  for (const std::string& word : Split(options, ' ')) {
    if (!word.empty()) words.push_back(word);
  }
  return words;
}

ProcessResult Proteome(const std::string& options, const std::vector<std::string>& more) {
  std::vector<std::string> args = Words(options);
  args.insert(args.end(), more.begin(), more.end());
  args.push_back("--no-progress");
  return RunProcess(TALVO_PROTEOME_EXE, args);
}

// The plain records of the input, masked where the rows of `table` (every
// segment of every class, with q-values) have q below mask_p.
std::string UnionOfRows(const std::string& plain, const std::string& table, double mask_p,
                        bool lower_case) {
  std::map<long, std::vector<bool>> masked;  // by entry
  for (const std::string& line : Split(table, '\n')) {
    const std::vector<std::string> f = Split(line, '\t');
    // input entry id class length segment start end seg_length special p q residues
    if (f.size() < 13 || f[0] == "input" || !(std::stod(f[11]) < mask_p)) continue;
    std::vector<bool>& positions = masked[std::stol(f[1])];
    positions.resize(std::stoul(f[4]));
    for (long i = std::stol(f[6]); i <= std::stol(f[7]); i++) positions.at(i - 1) = true;
  }
  std::string text;
  long entry = 0;
  size_t position = 0;
  for (const std::string& line : Split(plain, '\n')) {
    if (!line.empty() && line[0] == '>') {
      entry++;
      position = 0;
      text += line + '\n';
      continue;
    }
    const std::vector<bool>& positions = masked[entry];
    for (char c : line) {
      const bool mask = position < positions.size() && positions[position];
      text += !mask        ? c
              : lower_case ? static_cast<char>(tolower(static_cast<unsigned char>(c)))
                           : 'X';
      position++;
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
    ASSERT_EQ(
        Proteome("-M:0", {"--masked", dir / "plain.fa", "--output", "/dev/null", dir / "in.fa"})
            .exit_status,
        0);
    const std::string plain = ReadFile(dir / "plain.fa");
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.options) + ", seed " + std::to_string(seed));
      const ProcessResult masked = Proteome(c.options, {"--discover", "--masked", dir / "masked.fa",
                                                        "--output", "/dev/null", dir / "in.fa"});
      ASSERT_EQ(masked.exit_status, 0) << masked.err;
      const ProcessResult rows = Proteome(c.mask_options, {"--discover", "--all", dir / "in.fa"});
      ASSERT_EQ(rows.exit_status, 0) << rows.err;
      const bool lower_case = std::string(c.options).find("-L") != std::string::npos;
      const std::string expected = UnionOfRows(plain, rows.out, c.mask_p, lower_case);
      EXPECT_EQ(ReadFile(dir / "masked.fa"), expected);
      EXPECT_NE(expected, plain);  // something is masked
    }
  }
  // The mask's linkage is for --discover --masked; a merge can mask only
  // what its shards hold.
  const std::pair<std::vector<std::string>, const char*> refused[] = {
      {{"--mask-linkage=8", dir / "in.fa"}, "--mask-linkage sets the mask of --discover"},
      {{"--discover", "--mask-linkage=-1", dir / "in.fa"}, "invalid value '-1'"},
      {{"--merge", "--discover", "--masked", dir / "m.fa", dir / "in.fa"},
       "which the tables hold only when the shards were run with -E:8"},
  };
  for (const auto& [args, message] : refused) {
    const ProcessResult run = Proteome("", args);
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
  }
}

}  // namespace
