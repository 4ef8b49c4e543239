// Outputs that appear under their names only when the whole run has
// succeeded. A regular file (or one not there yet) is written to a hidden
// temporary file beside it, ".NAME.talvo-XXXXXX", renamed over NAME at the
// very end; a failed or interrupted run removes it, so NAME keeps what it
// held. Through a symlink the file it points to is replaced; the link stays.
// Outputs that are not regular files (/dev/null, pipes, /dev/stdout, anything
// under /proc) are written directly: they cannot be replaced by a rename.
#pragma once
#include <cstdio>
#include <initializer_list>
#include <string>
#include <vector>

// A file of the run as the user named it, with its role ("--output", "the
// input"): an empty path is standard output, "-" standard input.
struct RunFile {
  std::string role;
  std::string path;
};

// "" when no output is the same file as an input or another output, else
// which two are. Files are the same when they have one device and inode, or
// when they do not exist yet and have one absolute path with symlinks
// followed. Character devices (/dev/null, a terminal) may be shared.
std::string SameFileProblem(const std::vector<RunFile>& outputs,
                            const std::vector<RunFile>& inputs);

// Opens /dev/null on any of descriptors 0, 1 and 2 that is closed, so that
// no file the run opens takes its place (rows for standard output would go
// into it). Call first thing in the process.
void ReserveStandardDescriptors();

// "" when standard output can take the rows, else why not (closed before
// ReserveStandardDescriptors, or not open for writing).
std::string StandardOutputProblem();

// From now on SIGINT, SIGTERM and SIGHUP (each unless ignored at the start)
// remove the temporary files of unfinished outputs, then end the process by
// the signal as before (exit status 130, 143, 129 in a shell).
void RemoveTemporariesOnSignals();

class OutputFile {
 public:
  OutputFile() = default;
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;
  ~OutputFile();  // removes the temporary file unless committed

  // False, with error(), when the output cannot be opened.
  bool Open(const std::string& path);
  FILE* file() const { return file_; }
  // Flushes and closes; false, with errno, when anything written was lost.
  bool Close();
  // After Close: the temporary file takes the final name. False with error().
  bool Commit();
  const std::string& error() const { return error_; }

 private:
  void Discard();

  std::string path_;       // as given
  std::string final_;      // the file renamed over: path_ with symlinks followed
  std::string temporary_;  // empty when written directly
  FILE* file_ = nullptr;
  int slot_ = -1;  // in the list of temporaries removed on a signal
  std::string error_;
};

// Commits every closed output (null entries skipped) with the signals above
// held back meanwhile, so that none comes between the renames. False with
// error at the first that fails; the rest stay temporary and go.
bool CommitOutputs(std::initializer_list<OutputFile*> outputs, std::string& error);
