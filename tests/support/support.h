// Helpers shared by the tests and the fuzz harnesses.
#pragma once
#include <sys/wait.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "fasta/fasta.h"
#include "reference/literal.h"

using namespace talvo::internal;

// A fresh directory under the temporary directory, removed with everything in
// it when the guard goes out of scope, also when the test fails.
struct TempDir {
  std::string path = (std::filesystem::temp_directory_path() / "talvo-test-XXXXXX").string();
  TempDir() {
    if (!mkdtemp(path.data())) throw std::runtime_error("mkdtemp failed");
  }
  ~TempDir() { std::filesystem::remove_all(path); }
  TempDir(const TempDir&) = delete;
  std::string operator/(const std::string& name) const { return path + "/" + name; }
};

inline void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

// The file's contents; empty when it cannot be read.
inline std::string ReadFile(const std::string& path) {
  std::ostringstream text;
  text << std::ifstream(path, std::ios::binary).rdbuf();
  return text.str();
}

struct ProcessResult {
  int exit_status = -1;  // exit code, or 128 + signal number
  std::string out;       // standard output
  std::string err;       // error stream
};

// Runs program with args, each passed as it is, with no standard input.
inline ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args) {
  const auto quote = [](const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
  };
  std::string command = quote(program);
  for (const std::string& arg : args) command.append(" ").append(quote(arg));
  const TempDir capture;
  const int status =
      std::system((command + " </dev/null >" + capture / "out" + " 2>" + capture / "err").c_str());
  return {WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status),
          ReadFile(capture / "out"), ReadFile(capture / "err")};
}

// Tells -0 from +0 and matches a NaN with the same NaN.
inline bool SameBits(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

// Reads text with the program's reader; true when it agrees with the literal
// reader in outcome, entry count, names, residues and lengths.
inline bool ReadsAsLiteral(std::string text) {
  std::vector<literal::FastaEntry> expected;
  const bool read = literal::ReadFasta(text, expected);
  FASTA_FILE file;
  file.fp = fmemopen(text.data(), text.size(), "r");
  const int count = static_cast<int>(expected.size());
  bool same = ReadFastaFile(&file) == (read ? 1 : 0) &&
              (!read || (file.count == count && !file.names[count] && !file.seqs[count]));
  for (int i = 0; same && read && i < count; i++) {
    same = file.names[i] == std::string(expected[i].name.c_str()) &&
           file.seqs[i] == expected[i].seq &&
           file.lengths[i] == static_cast<int>(expected[i].seq.size());
  }
  fclose(file.fp);
  FreeFastaFile(&file);
  return same;
}
