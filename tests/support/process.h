// Helpers for whole-process tests: run a program, capture what it prints.
#pragma once
#include <string>
#include <vector>

struct ProcessResult {
  int exit_status = -1;  // exit code, or 128 + signal number
  std::string out;       // standard output
  std::string err;       // error stream
};

// Runs program with args (argv[1..]) in directory cwd, with no standard input.
ProcessResult RunProcess(const std::string& program, const std::vector<std::string>& args,
                         const std::string& cwd = ".");

// A fresh, empty directory under the system's temporary directory.
std::string MakeTempDir();
void WriteFile(const std::string& path, const std::string& content);
std::string ReadFile(const std::string& path);
bool FileExists(const std::string& path);
