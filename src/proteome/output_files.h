// Outputs that appear under their names only when the whole run has
// succeeded. A regular file (or one not there yet) is written to a hidden
// temporary file beside it, ".NAME.talvo-XXXXXX", renamed over NAME at the
// very end; a failed or interrupted run removes it, so NAME keeps what it
// held. Through a symlink the file it points to is replaced; the link stays.
// Outputs that are not regular files (/dev/null, pipes, /dev/stdout, anything
// under /proc) are written directly: they cannot be replaced by a rename.
#pragma once
#include <cstdio>
#include <string>
#include <vector>

namespace talvo::proteome {

// A file of the run as the user named it, with its role ("--output", "the
// input"): an empty path is standard output, "-" standard input.
struct RunFile {
  std::string role;
  std::string path;
};

// Throws, naming both, when an output is the same file as an input or
// another output. Files are the same when they have one device and inode, or
// when they do not exist yet and have one absolute path with symlinks
// followed. Character devices (/dev/null, a terminal) may be shared.
void CheckSameFiles(const std::vector<RunFile>& outputs, const std::vector<RunFile>& inputs);

// Opens /dev/null on any of descriptors 0, 1 and 2 that is closed, so that
// no file the run opens takes its place (rows for standard output would go
// into it). Call first thing in the process.
void ReserveStandardDescriptors();

// Throws when standard output cannot take the rows (closed before
// ReserveStandardDescriptors, or not open for writing).
void CheckStandardOutput();

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

  // Throws when the output cannot be opened.
  void Open(const std::string& path);
  FILE* file() const { return file_; }
  // Flushes and closes; throws (ThrowWriteError) when anything written was
  // lost.
  void Close();
  // After Close: the temporary file takes the final name, or throws.
  void Commit();

 private:
  void Discard();

  std::string path_;       // as given
  std::string final_;      // the file renamed over: path_ with symlinks followed
  std::string temporary_;  // empty when written directly
  FILE* file_ = nullptr;
  int slot_ = -1;  // in the list of temporaries removed on a signal
};

// One output of a run: standard output or an OutputFile, every write
// checked (ThrowWriteError).
class OutputStream {
 public:
  OutputStream() = default;
  OutputStream(const OutputStream&) = delete;
  OutputStream& operator=(const OutputStream&) = delete;
  ~OutputStream();  // flushes standard output; an OutputFile's temporary goes

  // "" opens standard output.
  void Open(const std::string& path);
  bool is_open() const { return file_ != nullptr; }
  const std::string& name() const { return name_; }
  void Write(const std::string& text);
  void Close();
  OutputFile& named() { return named_; }

 private:
  std::string name_;
  FILE* file_ = nullptr;
  OutputFile named_;  // unused for standard output
};

// Commits every closed output (null entries and standard output skipped) with
// the signals above held back meanwhile, so that none comes between the
// renames. Throws at the first that fails; the rest stay temporary and go.
void CommitOutputs(const std::vector<OutputStream*>& outputs);

}  // namespace talvo::proteome
