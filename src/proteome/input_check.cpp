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

namespace {

constexpr size_t kFirstBytes = 64 * 1024;

#ifndef TALVO_NO_ZLIB
// The start of a gzip stream, decompressed as far as these bytes go.
std::string DecompressedStartProblem(const std::string& name, std::vector<char>& raw) {
  std::vector<char> text(kFirstBytes);
  z_stream stream{};
  if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK) return name + ": out of memory";
  stream.next_in = reinterpret_cast<Bytef*>(raw.data());
  stream.avail_in = static_cast<uInt>(raw.size());
  stream.next_out = reinterpret_cast<Bytef*>(text.data());
  stream.avail_out = static_cast<uInt>(text.size());
  const int code = inflate(&stream, Z_SYNC_FLUSH);
  const std::string message = stream.msg != nullptr ? stream.msg : "";
  const size_t size = stream.total_out;
  inflateEnd(&stream);
  if (code == Z_DATA_ERROR) return name + ": corrupt gzip data (" + message + ")";
  if (code == Z_MEM_ERROR) return name + ": out of memory";
  const std::string problem = BinaryByteProblem(text.data(), size, 0, true);
  return problem.empty() ? "" : name + ": " + problem;
}
#endif

// Reads from offset `from` with pread, so that the descriptor's offset stays.
std::string FirstBytesProblem(const std::string& name, int fd, off_t from) {
  std::vector<char> raw(kFirstBytes);
  size_t size = 0;
  while (size < raw.size()) {
    const ssize_t got = pread(fd, raw.data() + size, raw.size() - size, from + size);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) return name + ": read error: " + strerror(errno);
    if (got == 0) break;
    size += static_cast<size_t>(got);
  }
  raw.resize(size);
  if (size == 0) return name + ": empty input";
#ifndef TALVO_NO_ZLIB
  if (size >= 2 && raw[0] == '\x1f' && raw[1] == '\x8b') return DecompressedStartProblem(name, raw);
#endif
  const std::string problem = BinaryByteProblem(raw.data(), size, 0, false);
  return problem.empty() ? "" : name + ": " + problem;
}

}  // namespace

std::string InputProblem(const std::string& path) {
  struct stat status;
  if (path == "-") {
    const off_t offset = lseek(0, 0, SEEK_CUR);
    if (fstat(0, &status) != 0 || !S_ISREG(status.st_mode) || offset < 0) return "";
    return FirstBytesProblem(path, 0, offset);
  }
  if (stat(path.c_str(), &status) != 0) return path + ": cannot open: " + strerror(errno);
  if (S_ISDIR(status.st_mode)) return path + ": cannot open: " + strerror(EISDIR);
  if (!S_ISREG(status.st_mode)) {
    return access(path.c_str(), R_OK) == 0 ? "" : path + ": cannot open: " + strerror(errno);
  }
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return path + ": cannot open: " + strerror(errno);
  const std::string problem = FirstBytesProblem(path, fd, 0);
  close(fd);
  return problem;
}
