// Whole runs of the program, read from tests/data/runs.txt: the messages,
// streams and exit statuses of every refusal and failure, and complete
// reports and masked files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "support/support.h"

namespace {

struct Recorded {
  std::vector<std::string> args;
  std::map<std::string, std::string> sections;
};

std::vector<Recorded> ReadRuns() {
  std::ifstream data(TALVO_SOURCE_DIR "/tests/data/runs.txt");
  std::vector<Recorded> runs;
  std::string* section = nullptr;
  for (std::string line; std::getline(data, line);) {
    if (line.starts_with("== ")) {
      std::istringstream words(line.substr(3));
      runs.emplace_back();
      for (std::string word; words >> word;) runs.back().args.push_back(word);
    } else if (line.starts_with("-- ")) {
      section = &runs.back().sections[line.substr(3)];
    } else if (section) {
      *section += line + "\n";
    }
  }
  return runs;
}

TEST(WholeRuns, MessagesStreamsAndReports) {
  const std::vector<Recorded> runs = ReadRuns();
  ASSERT_EQ(runs.size(), 27u);
  for (Recorded run : runs) {
    const TempDir dir;
    std::string& input = run.sections["in.fa"];
    if (!input.empty()) WriteFile(dir / "in.fa", input);
    const std::string directory = run.sections["directory"], full = run.sections["full"];
    if (!directory.empty()) mkdir((dir / directory.substr(0, directory.size() - 1)).c_str(), 0700);
    if (!full.empty()) symlink("/dev/full", (dir / full.substr(0, full.size() - 1)).c_str());
    std::string command = "cd '" + dir.path + "' && '" TALVO_EXE "'";
    for (const std::string& arg : run.args) command += " '" + arg + "'";
    const int status = std::system((command + " </dev/null >stdout 2>stderr").c_str());
    const std::string out = ReadFile(dir / "stdout");
    SCOPED_TRACE(testing::PrintToString(run.args) + "\n" + input);
    EXPECT_EQ(std::to_string(WEXITSTATUS(status)) + "\n", run.sections["status"]);
    EXPECT_EQ(std::regex_replace(out, std::regex("(SEED=|time: )[0-9]+"), "$1#"),
              run.sections["stdout"]);
    EXPECT_EQ(ReadFile(dir / "stderr"), run.sections["stderr"]);
    const std::string report = full == "out.seg\n" ? "" : ReadFile(dir / "out.seg");
    const std::string& prefix = run.sections["out.seg prefix"];
    EXPECT_EQ(prefix.empty() ? report : report.substr(0, prefix.size()),
              prefix + run.sections["out.seg"]);
    const bool fas_made = full.empty() && directory.empty();
    EXPECT_EQ(fas_made ? ReadFile(dir / "out.fas") : "", run.sections["out.fas"]);
  }
}

}  // namespace
