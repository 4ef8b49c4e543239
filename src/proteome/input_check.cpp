#include "proteome/input_check.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifndef TALVO_NO_ZLIB
#include <zlib.h>
#endif

#include <cerrno>
#include <cstring>
#include <vector>

#include "proteome/fasta_stream.h"
#include "talvo/talvo.h"

namespace talvo::proteome {
namespace {

constexpr size_t kFirstBytes = 64 * 1024;

[[noreturn]] void Refuse(const std::string& name, const std::string& why) {
  throw talvo::Error(name + ": " + why);
}

[[noreturn]] void CannotOpen(const std::string& path, int error) {
  Refuse(path, std::string("cannot open: ") + strerror(error));
}

void CheckText(const std::string& name, const char* data, size_t size, bool decompressed) {
  const std::string problem = BinaryByteProblem(data, size, 0, decompressed);
  if (!problem.empty()) Refuse(name, problem);
}

#ifndef TALVO_NO_ZLIB
// The start of a gzip stream, decompressed as far as these bytes go.
void CheckDecompressedStart(const std::string& name, std::vector<char>& raw) {
  std::vector<char> text(kFirstBytes);
  z_stream stream{};
  if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK) Refuse(name, "out of memory");
  stream.next_in = reinterpret_cast<Bytef*>(raw.data());
  stream.avail_in = static_cast<uInt>(raw.size());
  stream.next_out = reinterpret_cast<Bytef*>(text.data());
  stream.avail_out = static_cast<uInt>(text.size());
  const int code = inflate(&stream, Z_SYNC_FLUSH);
  const std::string message = stream.msg != nullptr ? stream.msg : "";
  const size_t size = stream.total_out;
  inflateEnd(&stream);
  if (code == Z_DATA_ERROR) Refuse(name, "corrupt gzip data (" + message + ")");
  if (code == Z_MEM_ERROR) Refuse(name, "out of memory");
  CheckText(name, text.data(), size, true);
}
#endif

// Reads from offset `from` with pread, so that the descriptor's offset stays.
void CheckFirstBytes(const std::string& name, int fd, off_t from) {
  std::vector<char> raw(kFirstBytes);
  size_t size = 0;
  while (size < raw.size()) {
    const ssize_t got = pread(fd, raw.data() + size, raw.size() - size, from + size);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) Refuse(name, std::string("read error: ") + strerror(errno));
    if (got == 0) break;
    size += static_cast<size_t>(got);
  }
  raw.resize(size);
  if (size == 0) Refuse(name, "empty input");
#ifndef TALVO_NO_ZLIB
  if (size >= 2 && raw[0] == '\x1f' && raw[1] == '\x8b') return CheckDecompressedStart(name, raw);
#endif
  CheckText(name, raw.data(), size, false);
}

}  // namespace

void CheckInput(const std::string& path) {
  struct stat status;
  if (path == "-") {
    const off_t offset = lseek(0, 0, SEEK_CUR);
    if (fstat(0, &status) != 0 || !S_ISREG(status.st_mode) || offset < 0) return;
    return CheckFirstBytes(path, 0, offset);
  }
  if (stat(path.c_str(), &status) != 0) CannotOpen(path, errno);
  if (S_ISDIR(status.st_mode)) CannotOpen(path, EISDIR);
  if (!S_ISREG(status.st_mode)) {
    if (access(path.c_str(), R_OK) != 0) CannotOpen(path, errno);
    return;
  }
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) CannotOpen(path, errno);
  try {
    CheckFirstBytes(path, fd, 0);
  } catch (...) {
    close(fd);
    throw;
  }
  close(fd);
}

}  // namespace talvo::proteome
