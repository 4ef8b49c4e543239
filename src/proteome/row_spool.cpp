#include "proteome/row_spool.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "proteome/errors.h"

namespace talvo::proteome {
namespace {

constexpr char kMarker = '\x01';
constexpr size_t kMarkerSize = 10;  // marker, kind, payload
constexpr size_t kChunk = 1 << 16;
constexpr char kTemporaryFile[] = "the temporary file";

}  // namespace

RowSpool::~RowSpool() {
  if (file_ != nullptr) fclose(file_);
}

FILE* OpenTemporaryFile(const std::string& what) {
  const char* dir = getenv("TMPDIR");
  std::string name =
      std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/talvo-proteome-XXXXXX";
  const int fd = mkstemp(name.data());
  if (fd < 0) ThrowSystemError("cannot create " + what);
  unlink(name.c_str());
  FILE* file = fdopen(fd, "w+");
  if (file != nullptr) return file;
  const int saved = errno;
  close(fd);
  errno = saved;
  ThrowSystemError("cannot create " + what);
}

void RowSpool::Open() {
  file_ = OpenTemporaryFile("a temporary file");
}

void RowSpool::AppendMarker(std::string& text, char kind, uint64_t payload) {
  char marker[kMarkerSize] = {kMarker, kind};
  memcpy(marker + 2, &payload, sizeof payload);
  text.append(marker, kMarkerSize);
}

void RowSpool::AppendMarker(std::string& text, char kind, double payload) {
  uint64_t bits = 0;
  memcpy(&bits, &payload, sizeof bits);
  AppendMarker(text, kind, bits);
}

void RowSpool::Write(const std::string& text) {
  if (text.empty()) return;
  if (fwrite(text.data(), 1, text.size(), file_) != text.size()) ThrowWriteError(kTemporaryFile);
  bytes_ += text.size();
}

namespace {

// The whole markers of buf[0, end), as CopyTo meets them.
void FindMarkers(const char* buf, size_t end, std::vector<size_t>& markers) {
  markers.clear();
  for (size_t pos = 0; pos < end;) {
    const char* found = static_cast<const char*>(memchr(buf + pos, kMarker, end - pos));
    if (found == nullptr || buf + end - found < static_cast<ptrdiff_t>(kMarkerSize)) return;
    markers.push_back(static_cast<size_t>(found - buf));
    pos = markers.back() + kMarkerSize;
  }
}

uint64_t PayloadAt(const char* marker) {
  uint64_t payload = 0;
  memcpy(&payload, marker + 2, sizeof payload);
  return payload;
}

}  // namespace

void RowSpool::CopyTo(const Resolve& resolve, const std::function<void(const std::string&)>& sink,
                      const Prefetch& prefetch) {
  if (fflush(file_) != 0 || fseek(file_, 0, SEEK_SET) != 0) {
    ThrowSystemError(std::string("error reading ") + kTemporaryFile);
  }
  std::vector<char> buffer(kChunk + kMarkerSize);
  size_t held = 0;  // bytes at the start of buffer not yet handled
  std::string out;
  uint64_t read = 0;
  bool keep = true;
  std::vector<size_t> markers;  // with prefetch: the chunk's, to look ahead
  constexpr size_t kAhead = 16;
  for (;;) {
    const size_t got = fread(buffer.data() + held, 1, buffer.size() - held, file_);
    if (got == 0 && ferror(file_)) ThrowSystemError(std::string("error reading ") + kTemporaryFile);
    read += got;
    const size_t end = held + got;
    const bool last = got == 0 || read == bytes_;
    size_t pos = 0;
    size_t resolved = 0;
    if (prefetch) {
      FindMarkers(buffer.data(), end, markers);
      for (size_t i = 0; i < std::min(kAhead, markers.size()); i++) {
        prefetch(buffer[markers[i] + 1], PayloadAt(buffer.data() + markers[i]));
      }
    }
    while (pos < end) {
      const char* found = static_cast<const char*>(memchr(buffer.data() + pos, kMarker, end - pos));
      const size_t stop = found == nullptr ? end : static_cast<size_t>(found - buffer.data());
      if (keep) out.append(buffer.data() + pos, stop - pos);
      pos = stop;
      if (found == nullptr || end - pos < kMarkerSize) break;  // a marker cut by the chunk
      if (prefetch && resolved + kAhead < markers.size()) {
        const size_t ahead = markers[resolved + kAhead];
        prefetch(buffer[ahead + 1], PayloadAt(buffer.data() + ahead));
      }
      resolved++;
      keep = resolve(buffer[pos + 1], PayloadAt(buffer.data() + pos), out);
      pos += kMarkerSize;
    }
    held = end - pos;
    memmove(buffer.data(), buffer.data() + pos, held);
    sink(out);
    out.clear();
    if (last) break;
  }
  if (held != 0 || read != bytes_) throw talvo::Error("the temporary file was cut short");
}

}  // namespace talvo::proteome
