#include "proteome/output_files.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <random>

#include "proteome/errors.h"

namespace talvo::proteome {
namespace {

// The temporary files of the outputs in progress, which a signal handler
// removes: fixed storage, read with lock-free atomics and unlink only.
struct TemporarySlot {
  std::atomic<bool> used{false};
  char path[PATH_MAX] = {};
};
constexpr int kSlots = 64;  // three per run; runs of the Python module may overlap
// Constant-initialised: no start-up code touches its 64 pages.
constinit TemporarySlot g_temporaries[kSlots];
std::mutex g_temporaries_mutex;
static_assert(std::atomic<bool>::is_always_lock_free);

constexpr int kCleanupSignals[] = {SIGINT, SIGTERM, SIGHUP};

bool g_standard_output_closed = false;

int RegisterTemporary(const std::string& path) {
  if (path.size() >= PATH_MAX) return -1;
  std::lock_guard<std::mutex> lock(g_temporaries_mutex);
  for (int slot = 0; slot < kSlots; slot++) {
    if (g_temporaries[slot].used.load()) continue;
    memcpy(g_temporaries[slot].path, path.c_str(), path.size() + 1);
    g_temporaries[slot].used.store(true);
    return slot;
  }
  return -1;
}

void ReleaseTemporary(int& slot) {
  if (slot >= 0) g_temporaries[slot].used.store(false);
  slot = -1;
}

extern "C" {
static void RemoveTemporariesAndEnd(int signal_number);
}

void RemoveTemporariesAndEnd(int signal_number) {
  for (TemporarySlot& slot : g_temporaries) {
    if (slot.used.load()) unlink(slot.path);
  }
  struct sigaction action {};
  action.sa_handler = SIG_DFL;
  sigaction(signal_number, &action, nullptr);
  raise(signal_number);  // delivered as the handler returns: the process ends by it
}

// Holds the cleanup signals back in this thread while it lives.
class SignalsHeld {
 public:
  SignalsHeld() {
    sigset_t held;
    sigemptyset(&held);
    for (int signal_number : kCleanupSignals) sigaddset(&held, signal_number);
    pthread_sigmask(SIG_BLOCK, &held, &previous_);
  }
  ~SignalsHeld() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
  SignalsHeld(const SignalsHeld&) = delete;
  SignalsHeld& operator=(const SignalsHeld&) = delete;

 private:
  sigset_t previous_;
};

std::string DirectoryOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseNameOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool UnderProc(const std::string& directory) {
  char* real = realpath(directory.c_str(), nullptr);
  const bool under = real != nullptr && strncmp(real, "/proc/", 6) == 0;
  free(real);
  return under;
}

// The path with its last component's symlinks followed (a dangling link
// gives the file it would create); "" with errno after too many. `special`
// is set when the way leads through /proc (/dev/stdout, /dev/fd/N), whose
// links name open files rather than places for a new one.
std::string FollowSymlinks(std::string path, bool& special) {
  for (int hop = 0; hop < 40; hop++) {
    special = special || UnderProc(DirectoryOf(path));
    struct stat status;
    if (lstat(path.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) return path;
    std::string target(PATH_MAX, '\0');
    const ssize_t length = readlink(path.c_str(), target.data(), target.size());
    if (length < 0 || static_cast<size_t>(length) >= target.size()) return path;
    target.resize(static_cast<size_t>(length));
    path = target[0] == '/' ? target : DirectoryOf(path) + "/" + target;
  }
  errno = ELOOP;
  return "";
}

// Creates `name`, its last six characters replaced by random ones, as fopen
// creates a file: with mode 0666 less the umask. -1 with errno on failure.
int CreateUniqueFile(std::string& name) {
  static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  static std::mt19937_64 random(std::random_device{}() ^ static_cast<uint64_t>(getpid()));
  static std::mutex random_mutex;
  for (int attempt = 0; attempt < 100; attempt++) {
    {
      std::lock_guard<std::mutex> lock(random_mutex);
      for (size_t i = name.size() - 6; i < name.size(); i++) name[i] = kLetters[random() % 62];
    }
    const int fd = open(name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

struct FileIdentity {
  bool exists = false;
  bool device = false;  // a character device
  dev_t device_number = 0;
  ino_t inode = 0;
  std::string path;  // absolute, symlinks followed, when it does not exist
};

FileIdentity IdentityOf(const std::string& path) {
  FileIdentity identity;
  struct stat status;
  const int got = path.empty()  ? fstat(1, &status)
                  : path == "-" ? fstat(0, &status)
                                : stat(path.c_str(), &status);
  if (got == 0) {
    identity.exists = true;
    identity.device = S_ISCHR(status.st_mode);
    identity.device_number = status.st_dev;
    identity.inode = status.st_ino;
  } else if (!path.empty() && path != "-") {
    bool special = false;
    std::string followed = FollowSymlinks(path, special);
    if (followed.empty()) followed = path;
    std::error_code ignored;
    identity.path =
        std::filesystem::weakly_canonical(std::filesystem::absolute(followed, ignored), ignored)
            .string();
    if (identity.path.empty()) identity.path = followed;
  }
  return identity;
}

bool SameFile(const FileIdentity& a, const FileIdentity& b) {
  if (a.exists != b.exists || a.device || b.device) return false;
  if (a.exists) return a.device_number == b.device_number && a.inode == b.inode;
  return !a.path.empty() && a.path == b.path;
}

[[noreturn]] void FailToOpen(const std::string& path, const std::string& why) {
  throw talvo::Error("cannot open " + path + ": " + why);
}

std::string Describe(const RunFile& file) {
  if (file.path.empty()) return "standard output";
  if (file.path == "-") return "standard input";
  return file.role + " " + file.path;
}

}  // namespace

void CheckSameFiles(const std::vector<RunFile>& outputs, const std::vector<RunFile>& inputs) {
  std::vector<FileIdentity> output_ids, input_ids;
  for (const RunFile& file : outputs) output_ids.push_back(IdentityOf(file.path));
  for (const RunFile& file : inputs) input_ids.push_back(IdentityOf(file.path));
  for (size_t i = 0; i < outputs.size(); i++) {
    for (size_t j = 0; j < inputs.size(); j++) {
      if (SameFile(output_ids[i], input_ids[j])) {
        throw talvo::Error(Describe(outputs[i]) + " and " + Describe(inputs[j]) +
                           " are the same file: the output would destroy the input");
      }
    }
    for (size_t j = i + 1; j < outputs.size(); j++) {
      if (SameFile(output_ids[i], output_ids[j])) {
        throw talvo::Error(Describe(outputs[i]) + " and " + Describe(outputs[j]) +
                           " are the same file: give each output a file of its own");
      }
    }
  }
}

void ReserveStandardDescriptors() {
  for (int fd = 0; fd <= 2; fd++) {
    if (fcntl(fd, F_GETFD) != -1 || errno != EBADF) continue;
    if (fd == 1) g_standard_output_closed = true;
    // Read-only on 1 too, so that a row written there fails instead of vanishing.
    const int opened = open("/dev/null", fd == 2 ? O_WRONLY : O_RDONLY);
    if (opened >= 0 && opened != fd) {
      dup2(opened, fd);
      close(opened);
    }
  }
}

void CheckStandardOutput() {
  const int flags = fcntl(1, F_GETFL);
  if (g_standard_output_closed || flags == -1) throw talvo::Error("standard output is closed");
  if ((flags & O_ACCMODE) == O_RDONLY) {
    throw talvo::Error("standard output is not open for writing");
  }
}

void RemoveTemporariesOnSignals() {
  for (int signal_number : kCleanupSignals) {
    struct sigaction previous {};
    if (sigaction(signal_number, nullptr, &previous) != 0 || previous.sa_handler == SIG_IGN) {
      continue;  // ignored by whoever started the run (nohup, a background job)
    }
    struct sigaction action {};
    action.sa_handler = RemoveTemporariesAndEnd;
    sigemptyset(&action.sa_mask);
    for (int other : kCleanupSignals) sigaddset(&action.sa_mask, other);
    sigaction(signal_number, &action, nullptr);
  }
}

OutputFile::~OutputFile() {
  Discard();
}

void OutputFile::Discard() {
  if (file_ != nullptr) fclose(file_);
  file_ = nullptr;
  if (!temporary_.empty()) unlink(temporary_.c_str());
  temporary_.clear();
  ReleaseTemporary(slot_);
}

void OutputFile::Open(const std::string& path) {
  path_ = path;
  struct stat status;
  const bool exists = stat(path.c_str(), &status) == 0;
  if (!exists && errno != ENOENT) FailToOpen(path, strerror(errno));
  bool special = false;
  if (!exists || S_ISREG(status.st_mode)) {
    final_ = FollowSymlinks(path, special);
    if (final_.empty()) FailToOpen(path, strerror(errno));
    // A file its owner made read-only stays as it is, as fopen would leave it.
    if (exists && access(final_.c_str(), W_OK) != 0) FailToOpen(path, strerror(errno));
  }
  if ((exists && !S_ISREG(status.st_mode)) || special || BaseNameOf(final_).empty()) {
    file_ = fopen(path.c_str(), "w");
    if (file_ == nullptr) FailToOpen(path, strerror(errno));
    return;
  }
  // Long names are cut, so that the temporary name stays within NAME_MAX.
  temporary_ = DirectoryOf(final_) + "/." + BaseNameOf(final_).substr(0, 200) + ".talvo-XXXXXX";
  int fd = -1;
  {
    const SignalsHeld held;  // no signal between creating the file and listing it
    fd = CreateUniqueFile(temporary_);
    if (fd >= 0) slot_ = RegisterTemporary(temporary_);
  }
  if (fd < 0) {
    const int saved = errno;
    temporary_.clear();
    if (saved == ENOENT || saved == ENOTDIR) FailToOpen(path, strerror(saved));
    FailToOpen(path, "no file can be created in " + DirectoryOf(final_) + " (" + strerror(saved) +
                         "), where the output is written before it takes its name");
  }
  file_ = fdopen(fd, "w");
  if (file_ == nullptr) close(fd);
  if (file_ == nullptr || slot_ < 0) {
    const std::string why = file_ == nullptr ? strerror(errno) : "too many outputs at once";
    Discard();
    FailToOpen(path, why);
  }
  if (exists) fchmod(fd, status.st_mode & 0777);  // a file replaced keeps its permissions
}

void OutputFile::Close() {
  if (file_ == nullptr) return;
  bool ok = fflush(file_) == 0 && ferror(file_) == 0;
  // On disk before the rename, so that a crash cannot leave the name empty.
  if (ok && !temporary_.empty()) ok = fsync(fileno(file_)) == 0;
  const int saved = errno;
  ok = fclose(file_) == 0 && ok;
  file_ = nullptr;
  if (ok) return;
  if (saved != 0) errno = saved;
  ThrowWriteError(path_);
}

void OutputFile::Commit() {
  if (temporary_.empty()) return;
  if (file_ != nullptr || rename(temporary_.c_str(), final_.c_str()) != 0) {
    const std::string why = file_ != nullptr ? "still open" : strerror(errno);
    Discard();
    throw talvo::Error("cannot put the finished output in place as " + path_ + ": " + why);
  }
  temporary_.clear();
  ReleaseTemporary(slot_);
}

OutputStream::~OutputStream() {
  if (file_ == stdout) fflush(stdout);
}

void OutputStream::Open(const std::string& path) {
  if (path.empty()) {
    name_ = "standard output";
    file_ = stdout;
    return;
  }
  name_ = path;
  named_.Open(path);
  file_ = named_.file();
}

void OutputStream::Write(const std::string& text) {
  if (file_ != nullptr && !text.empty() &&
      fwrite(text.data(), 1, text.size(), file_) != text.size()) {
    ThrowWriteError(name_);
  }
}

void OutputStream::Close() {
  if (file_ == nullptr) return;
  FILE* const file = file_;
  file_ = nullptr;
  if (file != stdout) return named_.Close();
  if (fflush(stdout) != 0 || ferror(stdout) != 0) ThrowWriteError(name_);
}

void CommitOutputs(const std::vector<OutputStream*>& outputs) {
  const SignalsHeld held;
  for (OutputStream* output : outputs) {
    if (output != nullptr) output->named().Commit();
  }
}

}  // namespace talvo::proteome
