// Arbitrary bytes through the proteome tool's streaming reader with a buffer
// of 1 to 8 bytes: it must never crash or hang, on plain text it must give
// exactly the entries of a line-by-line reading, and binary input must fail.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "proteome/fasta_stream.h"

namespace {

using namespace talvo::proteome;

// Lines split at '\n'; a header is a line starting with '>' (CR dropped);
// other lines before the first header are skipped.
std::vector<ProteinEntry> ReadLineByLine(const std::string& text) {
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
  const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
  const int fd = memfd_create("stream_fuzz", 0);
  if (fd < 0) return 0;
  if (write(fd, text.data(), text.size()) != static_cast<ssize_t>(text.size())) abort();
  FastaStream stream;
  std::vector<ProteinEntry> entries;
  if (stream.Open("/proc/self/fd/" + std::to_string(fd), buffer)) {
    for (ProteinEntry entry; stream.Next(entry);) entries.push_back(entry);
    const bool ok = stream.Close();
    // Text that zlib does not take for gzip must read as lines do.
    const bool gzip = text.size() >= 2 && text[0] == '\x1f' && text[1] == '\x8b';
    if (!gzip && HasBinaryByte(text)) {
      if (ok || stream.error().find(": binary byte 0x") == std::string::npos) abort();
    } else if (!gzip) {
      const std::vector<ProteinEntry> expected = ReadLineByLine(text);
      if (ok != !expected.empty() || entries.size() != expected.size()) abort();
      for (size_t i = 0; i < entries.size(); i++) {
        if (entries[i].number != expected[i].number || entries[i].header != expected[i].header ||
            entries[i].residues != expected[i].residues) {
          abort();
        }
      }
    }
  }
  close(fd);
  return 0;
}
