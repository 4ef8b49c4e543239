// talvo-proteome --merge: shard tables merge back into the table of one run,
// and a table that is not a whole shard of that run is refused.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "proteome/command_line.h"

namespace {

namespace fs = std::filesystem;

struct TempDir {
  fs::path path = fs::temp_directory_path() / ("talvo-merge-" + std::to_string(getpid()));
  TempDir() { fs::create_directories(path); }
  ~TempDir() { fs::remove_all(path); }
  std::string operator/(const std::string& name) const { return (path / name).string(); }
};

int Proteome(std::vector<std::string> args) {
  args.insert(args.begin(), "talvo-proteome");
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  return ProteomeMain(static_cast<int>(argv.size()), argv.data());
}

std::string Slurp(const std::string& path) {
  std::ostringstream text;
  text << std::ifstream(path).rdbuf();
  return text.str();
}

const std::string kExamples = std::string(TALVO_SOURCE_DIR) + "/examples/";
const std::vector<std::string> kInputs = {kExamples + "domains.fa.gz", kExamples + "globins45.fa"};

// Shards listed out of order within an input still merge into input order.
TEST(ProteomeMerge, ShardsMergeIntoTheSingleRunByteForByte) {
  const std::vector<std::vector<std::string>> option_sets = {
      {"-A:LIVFM"}, {"-A:G", "-S:40", "-K", "--all"}, {"-W:12", "-A:LIVF", "-M:0.2"}};
  for (const auto& options : option_sets) {
    TempDir dir;
    std::vector<std::string> single = options;
    single.insert(single.end(), {"--seed", "5", "--output", dir / "single.tsv"});
    single.insert(single.end(), kInputs.begin(), kInputs.end());
    ASSERT_EQ(Proteome(single), 0);
    std::vector<std::string> merge = options;
    merge.insert(merge.end(), {"--merge", "--output", dir / "merged.tsv"});
    for (const std::string& input : kInputs) {
      for (const char* shard : {"2", "0", "1"}) {
        const std::string table = dir / (fs::path(input).filename().string() + shard);
        std::vector<std::string> args = options;
        args.insert(args.end(), {"--all", "--seed", "5", "--shard", std::string(shard) + "/3",
                                 "--threads", "2", "--output", table, input});
        ASSERT_EQ(Proteome(args), 0);
        merge.push_back(table);
      }
    }
    ASSERT_EQ(Proteome(merge), 0);
    EXPECT_EQ(Slurp(dir / "merged.tsv"), Slurp(dir / "single.tsv")) << options[0];
    EXPECT_GT(Slurp(dir / "single.tsv").size(), 1000u) << options[0];
  }
}

TEST(ProteomeMerge, RefusesTablesThatAreNotWholeShards) {
  TempDir dir;
  ASSERT_EQ(Proteome({"-A:LIVFM", "--all", "--output", dir / "whole.tsv", kInputs[1]}), 0);
  const std::string whole = Slurp(dir / "whole.tsv");
  const size_t header_end = whole.find('\n') + 1;
  const size_t second_row = whole.find('\n', header_end) + 1;
  const std::string header = whole.substr(0, header_end);
  const std::string first = whole.substr(header_end, second_row - header_end);
  const std::string rest = whole.substr(second_row);
  const std::vector<std::pair<std::string, std::vector<std::string>>> cases = {
      {"cut short", {whole.substr(0, whole.size() - 1)}},
      {"other header", {whole.substr(1)}},
      {"empty file", {""}},
      {"rows out of order", {header + rest + first}},
      {"a row twice", {whole, header + first}},
      {"a short row", {header + "x\t1\n"}},
  };
  for (const auto& [name, tables] : cases) {
    std::vector<std::string> args = {"--merge", "--output", dir / "out.tsv"};
    for (size_t i = 0; i < tables.size(); i++) {
      const std::string path = dir / std::to_string(i);
      std::ofstream(path) << tables[i];
      args.push_back(path);
    }
    EXPECT_EQ(Proteome(args), 1) << name;
  }
  EXPECT_EQ(Proteome({"--merge", dir / "missing.tsv"}), 1);
  EXPECT_EQ(Proteome({"--merge", "--format", "bed", dir / "whole.tsv"}), 1);
}

}  // namespace
