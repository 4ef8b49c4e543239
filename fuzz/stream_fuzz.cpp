// Arbitrary bytes through the proteome tool's streaming reader with a buffer
// of 1 to 8 bytes, as they are or deflated into one or two gzip members,
// with or without a byte after the last: it must never crash or hang, text
// must give exactly the entries of a line-by-line reading (and a warning for
// each sequence line holding a '>', up to the bound), binary input and data
// after the gzip stream must fail.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "proteome/fasta_stream.h"
#include "support/gzip.h"

namespace {

using namespace talvo::proteome;

// Lines split at '\n' after a leading byte-order mark; a header is a line
// starting with '>' (CR dropped); other lines before the first header are
// skipped. Counts the sequence lines that hold a '>'.
std::vector<ProteinEntry> ReadLineByLine(std::string text, long& angle_lines) {
  if (text.starts_with("\xEF\xBB\xBF")) text.erase(0, 3);
  std::vector<ProteinEntry> entries;
  size_t from = 0;
  while (from < text.size()) {
    size_t end = text.find('\n', from);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(from, end - from);
    from = end + 1;
    if (!line.empty() && line[0] == '>') {
      if (line.back() == '\r') line.pop_back();
      entries.push_back(ProteinEntry{static_cast<long>(entries.size() + 1), line.substr(1), ""});
    } else if (!entries.empty()) {
      angle_lines += line.find('>') != std::string::npos;
      for (char c : line) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        if ((c >= 'A' && c <= 'Z') || c == '-') entries.back().residues += c;
      }
    }
  }
  return entries;
}

// Control bytes other than tab, LF, VT, FF and CR, and DEL.
bool HasBinaryByte(const std::string& text) {
  for (char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if ((byte < 0x20 && (byte < '\t' || byte > '\r')) || byte == 0x7f) return true;
  }
  return false;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const size_t buffer = 1 + data[0] % 8;
  const int members = data[0] / 8 % 3;
  const bool trailing = members > 0 && data[0] >= 0x80;
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  const std::string bytes = members > 0 ? Gzip(text, members) + (trailing ? "x" : "") : text;
  const int fd = memfd_create("stream_fuzz", 0);
  if (fd < 0) return 0;
  if (write(fd, bytes.data(), bytes.size()) != static_cast<ssize_t>(bytes.size())) abort();
  FastaStream stream;
  std::vector<ProteinEntry> entries;
  if (stream.Open("/proc/self/fd/" + std::to_string(fd), buffer)) {
    for (ProteinEntry entry; stream.Next(entry);) entries.push_back(entry);
    const bool ok = stream.Close();
    // Text as it is that starts like gzip data is only read without a crash.
    const bool gzip = members == 0 && text.size() >= 2 && text[0] == '\x1f' && text[1] == '\x8b';
    long angle_lines = 0;
    const std::vector<ProteinEntry> expected = ReadLineByLine(text, angle_lines);
    if (gzip) {
    } else if (HasBinaryByte(text)) {
      if (ok || stream.error().find(": binary byte 0x") == std::string::npos) abort();
    } else if (trailing) {
      if (ok || stream.error().find(": data after the end of the gzip stream") == std::string::npos)
        abort();
    } else {
      if (ok != !expected.empty() || entries.size() != expected.size()) abort();
      for (size_t i = 0; i < entries.size(); i++) {
        if (entries[i].number != expected[i].number || entries[i].header != expected[i].header ||
            entries[i].residues != expected[i].residues) {
          abort();
        }
      }
      long named = 0, more = 0;
      for (const std::string& warning : stream.TakeWarnings()) {
        named += warning.find("' inside a sequence line is ignored") != std::string::npos;
        if (warning.find(" more sequence lines") != std::string::npos)
          more = std::stol(warning.substr(warning.rfind(": ") + 2));
      }
      const long bound = FastaStream::kAngleWarnings;
      if (ok && (named != std::min(angle_lines, bound) || more != angle_lines - named)) abort();
    }
  }
  close(fd);
  return 0;
}
