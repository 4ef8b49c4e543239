// Run configuration, command line, set-up and the main flow.
#pragma once
#include <cstdio>
#include <string>

#include "config/run_config.h"

namespace talvo::internal {

// Restores the run configuration to the values it holds when the process
// starts, so that several command lines can be tried in one process.
void ResetConfiguration();

extern const char valid_args[];  // "WESGTXAPNFLIMK"
extern const char Help[];

// Applies the command line to the run configuration and validates it without
// printing or exiting; safe on any argv. Returns 1 on success, with freq_label
// naming the active table. Returns 0 on failure, with the exact text to print
// (it may hold a NUL byte) and whether it belongs on the error stream.
int ParseOptions(int argc, char** argv, const char*& freq_label, std::string& message,
                 bool& to_stderr);
// The report's header lines for a first entry of N residues.
void WriteReportHeader(FILE* stream, int N, const char* freq_label);

// Options and validation, then the run set-up; returns only on success and
// ends the process with status 1 on any failure.
void InitAll(int argc, char** argv);
// The whole run; returns the process exit status.
int RunTalvo(int argc, char** argv);

}  // namespace talvo::internal
