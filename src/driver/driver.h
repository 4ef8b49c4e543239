// Run configuration, command line, set-up and the main flow.
#pragma once
#include <cstdio>
#include <string>

// Run configuration, filled by InitAll from the command line.
extern int window;  // -W: below 2 runs mode, else window mode
extern thread_local int
    max_separation;           // per thread: -K sets it per sequence    // -E, -K: linkage distance
extern int random_seqs;       // -S, -G: number of random sequences
extern int estimate_ran;      // 0 none, 1 generated, 2 shuffled
extern int estimate_freq;     // -I: composition from the input
extern double min_p_val;      // -P: threshold for recording windows
extern double masking_p_val;  // -M: threshold for masking
extern int use_merge;         // -N clears it
extern int estimate_linkage;  // -K
extern int fasta_output;      // 0 none, 1 mask with X, 2 lower case

// Set-up products read by detection and the report; per thread, so that
// analyses of several sequences can run side by side.
extern thread_local char* binary_seq;         // 0/1 string of entry 0, N+1 characters
extern thread_local char* random_binary_seq;  // working copy for random sequences

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
