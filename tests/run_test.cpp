// Whole runs as tests/data/runs.txt records them: messages, streams and exit
// statuses of refusals and failures, complete reports and masked files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "support/support.h"

namespace {

// Each run: its arguments, then its sections by name.
using Recorded = std::pair<std::string, std::map<std::string, std::string>>;

std::vector<Recorded> ReadRuns() {
  std::istringstream data(ReadFile(TALVO_SOURCE_DIR "/tests/data/runs.txt"));
  std::vector<Recorded> runs;
  std::string* section = nullptr;
  for (std::string line; std::getline(data, line);) {
    const bool starts_run = line.starts_with("== "), names_section = line.starts_with("-- ");
    if (starts_run) runs.push_back({line.substr(3), {}});
    if (starts_run || names_section)
      section = names_section ? &runs.back().second[line.substr(3)] : nullptr;
    if (!starts_run && !names_section && section) *section += line + "\n";
  }
  return runs;
}

TEST(WholeRuns, MessagesStreamsAndReports) {
  std::vector<Recorded> runs = ReadRuns();
  ASSERT_EQ(runs.size(), 45u);
  for (auto& [args, sections] : runs) {
    const TempDir dir;
    if (sections.count("in.fa")) WriteFile(dir / "in.fa", sections["in.fa"]);
    const std::string directory = sections["directory"], full = sections["full"];
    if (!directory.empty()) mkdir((dir / directory.substr(0, directory.size() - 1)).c_str(), 0700);
    if (!full.empty()) symlink("/dev/full", (dir / full.substr(0, full.size() - 1)).c_str());
    const std::string quoted = std::regex_replace(" " + args, std::regex(" (\\S+)"), " '$1'");
    const std::string command = "cd " + dir.path + " && " TALVO_EXE + quoted + " </dev/null";
    const int status = std::system((command + " >stdout 2>stderr").c_str());
    // /dev/full reads as endless zeros.
    const std::string report = full == "out.seg\n" ? "" : ReadFile(dir / "out.seg");
    const std::string& prefix = sections["out.seg prefix"];
    SCOPED_TRACE(args + "\n" + sections["in.fa"]);
    EXPECT_EQ(std::to_string(WEXITSTATUS(status)) + "\n", sections["status"]);
    EXPECT_EQ(
        std::regex_replace(ReadFile(dir / "stdout"), std::regex("(SEED=|time: )[0-9]+"), "$1#"),
        sections["stdout"]);
    EXPECT_EQ(ReadFile(dir / "stderr"), sections["stderr"]);
    EXPECT_EQ(report.substr(0, prefix.empty() ? report.size() : prefix.size()),
              prefix + sections["out.seg"]);
    EXPECT_EQ(full.empty() && directory.empty() ? ReadFile(dir / "out.fas") : "",
              sections["out.fas"]);
  }
}

}  // namespace
