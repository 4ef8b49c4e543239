// talvo-proteome's files: no output may be an input or another output, an
// output takes its name only when the run succeeded (not after a failure or
// a signal), and every input is looked at before anything is created.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <map>
#include <random>
#include <thread>

#include "support/support.h"

namespace {

namespace fs = std::filesystem;
using Args = std::vector<std::string>;

const std::string kExe = TALVO_PROTEOME_EXE;
const std::string kExamples = std::string(TALVO_SOURCE_DIR) + "/examples/";

// Every entry of the directory with its content (a symlink's target).
std::map<std::string, std::string> Listing(const TempDir& dir) {
  std::map<std::string, std::string> files;
  for (const fs::directory_entry& entry : fs::directory_iterator(dir.path)) {
    const std::string name = entry.path().filename();
    files[name] = entry.is_symlink()     ? "-> " + fs::read_symlink(entry.path()).string()
                  : entry.is_directory() ? "dir"
                                         : ReadFile(entry.path());
  }
  return files;
}

ProcessResult RunIn(const TempDir& dir, const std::string& command) {
  return RunProcess("/bin/sh", {"-c", "cd '" + dir.path + "' && " + kExe + " " + command});
}

TEST(ProteomeFilesTest, NoOutputIsAnInputOrAnotherOutput) {
  TempDir dir;
  fs::copy_file(kExamples + "globins45.fa", dir / "g.fa");
  fs::create_symlink("g.fa", dir / "link.fa");
  fs::create_hard_link(dir / "g.fa", dir / "hard.fa");
  for (const char* shard : {"0", "1", "2"}) {
    ASSERT_EQ(RunIn(dir, std::string("--all --shard ") + shard + "/3 --output p" + shard + " g.fa")
                  .exit_status,
              0);
  }
  const std::pair<std::string, std::string> refused[] = {
      {"g.fa --output g.fa", "--output g.fa and the input g.fa are the same file"},
      {"g.fa --summary ./g.fa", "--summary ./g.fa and the input g.fa"},
      {"g.fa --masked link.fa", "--masked link.fa and the input g.fa"},
      {"g.fa --output \"$PWD/hard.fa\"", "and the input g.fa are the same file"},
      {"g.fa >> g.fa", "standard output and the input g.fa"},
      {"- --masked g.fa < g.fa", "--masked g.fa and standard input"},
      {"g.fa --output same.tsv --summary ./same.tsv", "--output same.tsv and --summary ./same.tsv"},
      {"g.fa --output x/../same.tsv --masked same.tsv", "and --masked same.tsv are the same"},
      {"g.fa --summary /dev/stdout", "standard output and --summary /dev/stdout"},
      {"--merge --all p0 p1 p2 --output p2", "--output p2 and the table p2 are the same file"},
      {"--merge --all p0 p1 p2 --masked p0", "--masked p0 and the table p0 are the same file"},
      {"g.fa --gff3 link.fa", "--gff3 link.fa and the input g.fa"},
      {"g.fa --bed b --output ./b", "--output ./b and --bed b are the same file"},
      {"g.fa - - < g.fa", "standard input (-) is given more than once"},
  };
  const auto before = Listing(dir);
  for (const auto& [command, message] : refused) {
    const ProcessResult r = RunIn(dir, command);
    EXPECT_EQ(r.exit_status, 1) << command;
    EXPECT_NE(r.err.find(message), std::string::npos) << r.err;
    EXPECT_EQ(Listing(dir), before) << command;
  }
  // Devices may be shared, and the same input may be read twice.
  EXPECT_EQ(RunIn(dir, "g.fa g.fa --output /dev/null --summary /dev/null").exit_status, 0);
}

// Starts the program with standard streams on /dev/null; its process id.
pid_t Spawn(const Args& args) {
  std::vector<char*> argv;
  Args all = args;
  all.insert(all.begin(), kExe);
  for (std::string& arg : all) argv.push_back(arg.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  for (int fd : {0, 1, 2}) {
    posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
  }
  posix_spawnattr_t attributes;  // the signals at their defaults, whatever ours are
  posix_spawnattr_init(&attributes);
  sigset_t defaults;
  sigfillset(&defaults);
  posix_spawnattr_setsigdefault(&attributes, &defaults);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGDEF);
  pid_t pid = -1;
  posix_spawn(&pid, kExe.c_str(), &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  return pid;
}

// The exit status as a shell gives it (128 + the signal that ended it).
int WaitFor(pid_t pid) {
  int status = 0;
  for (int tries = 0; waitpid(pid, &status, WNOHANG) == 0; tries++) {
    if (tries == 6000) kill(pid, SIGKILL);  // a minute: it ignored the signal
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool AnyTemporary(const TempDir& dir) {
  for (const auto& [name, content] : Listing(dir)) {
    if (name.find(".talvo-") != std::string::npos) return true;
  }
  return false;
}

TEST(ProteomeFilesTest, OutputsAppearOnlyWhenTheRunSucceeded) {
  TempDir dir;
  std::mt19937 rng(3);
  std::string slow;  // minutes with -S:100000, unless stopped
  for (int i = 0; i < 200; i++) {
    slow += ">p" + std::to_string(i) + "\n";
    for (int j = 0; j < 400; j++) slow += "ACDEFGHIKLMNPQRSTVWY"[rng() % 20];
    slow += "\n";
  }
  WriteFile(dir / "slow.fa", slow);
  RunProcess("/bin/sh", {"-c", "gzip -c " + (dir / "slow.fa") + " > " + (dir / "bad.fa.gz")});
  std::string bad_crc = ReadFile(dir / "bad.fa.gz");
  bad_crc[bad_crc.size() - 6] ^= 0x55;  // found only at the end of the input
  WriteFile(dir / "bad.fa.gz", bad_crc);
  fs::create_symlink("o.tsv", dir / "link.tsv");
  const Args outputs = {"--output",    dir / "link.tsv", "--summary",
                        dir / "s.tsv", "--masked",       dir / "m.fa"};
  for (const char* name : {"o.tsv", "s.tsv", "m.fa"}) WriteFile(dir / name, "previous\n");
  const auto before = Listing(dir);

  // Failures: a corrupt input after a good one, an output that fails.
  for (const Args& extra : {Args{dir / "slow.fa", dir / "bad.fa.gz"},
                            Args{dir / "slow.fa", "--summary", "/dev/full"}}) {
    Args args = outputs;
    args.insert(args.end(), extra.begin(), extra.end());
    const ProcessResult r = RunProcess(kExe, args);
    EXPECT_EQ(r.exit_status, 1) << r.err;
    EXPECT_EQ(Listing(dir), before) << r.err;
  }
  // Signals during the analysis.
  for (const auto& [signal_number, status] :
       {std::pair{SIGINT, 130}, {SIGTERM, 143}, {SIGHUP, 129}}) {
    Args args = outputs;
    args.insert(args.end(), {"-S:100000", "--seed", "1", "--threads", "1", dir / "slow.fa"});
    const pid_t pid = Spawn(args);
    ASSERT_GT(pid, 0);
    for (int tries = 0; tries < 3000 && !AnyTemporary(dir); tries++) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_TRUE(AnyTemporary(dir));
    kill(pid, signal_number);
    EXPECT_EQ(WaitFor(pid), status) << signal_number;
    EXPECT_EQ(Listing(dir), before) << signal_number;
  }
  // Success: through the symlink into its file; a new file gets fopen's mode.
  ASSERT_EQ(RunProcess(kExe, {"--output", dir / "link.tsv", "--summary", dir / "new.tsv",
                              "--masked", dir / "m.fa", dir / "slow.fa", "-W:20"})
                .exit_status,
            0);
  EXPECT_TRUE(fs::is_symlink(dir / "link.tsv"));
  EXPECT_TRUE(ReadFile(dir / "o.tsv").starts_with("input\tentry\t"));
  EXPECT_TRUE(ReadFile(dir / "m.fa").starts_with(">p0\n"));
  const mode_t mask = umask(0);
  umask(mask);
  struct stat status;
  ASSERT_EQ(stat((dir / "new.tsv").c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 0777, 0666 & ~mask);
  EXPECT_FALSE(AnyTemporary(dir));
}

TEST(ProteomeFilesTest, InputsAreCheckedBeforeAnythingIsCreated) {
  TempDir dir;
  fs::copy_file(kExamples + "two_proteins.fa", dir / "ok.fa");
  fs::create_directory(dir / "a_dir");
  WriteFile(dir / "empty.fa", "");
  WriteFile(dir / "bin.fa", std::string(">p\nAC\0DE\n", 9));
  RunProcess("/bin/sh", {"-c", "printf '>p\\nACDE\\177\\n' | gzip -c > " + (dir / "bin.gz")});
  WriteFile(dir / "o.tsv", "previous\n");
  const std::pair<std::string, std::string> bad[] = {
      {"missing.fa", "missing.fa: cannot open: No such file or directory"},
      {"a_dir", "a_dir: cannot open: Is a directory"},
      {"empty.fa", "empty.fa: empty input"},
      {"bin.fa", "bin.fa: binary byte 0x00 at offset 5: not a FASTA text file"},
      {"bin.gz",
       "bin.gz: binary byte 0x7F at offset 7 of the decompressed data: not a FASTA text file"},
      {"- < bin.fa", "-: binary byte 0x00 at offset 5: not a FASTA text file"},
  };
  const auto before = Listing(dir);
  for (const auto& [input, message] : bad) {
    for (const std::string& inputs : {"ok.fa " + input, "ok.fa ok.fa " + input}) {
      const ProcessResult r =
          RunIn(dir, "--output o.tsv --summary s.tsv --masked m.fa -A:R " + inputs);
      EXPECT_EQ(r.exit_status, 1) << inputs;
      EXPECT_EQ(r.err, "talvo-proteome: " + message + "\n");
      EXPECT_EQ(Listing(dir), before) << inputs;
    }
  }
  // Standard output closed or read-only: refused before the analysis; no
  // file the run opens takes its place.
  for (const auto& [redirect, message] :
       {std::pair{">&-", "standard output is closed"},
        {"1< ok.fa", "standard output is not open for writing"}}) {
    const ProcessResult r = RunIn(dir, std::string("-A:R ok.fa ") + redirect);
    EXPECT_EQ(r.exit_status, 1) << redirect;
    EXPECT_EQ(r.err, std::string("talvo-proteome: ") + message + "\n");
  }
  EXPECT_EQ(RunIn(dir, "-A:R ok.fa --all --output new.tsv >&-").exit_status, 0);
  EXPECT_EQ(ReadFile(dir / "new.tsv"), RunIn(dir, "-A:R ok.fa --all").out);
}

}  // namespace
