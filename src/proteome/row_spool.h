// Rows that wait for values known only at the end of the run (q-values, the
// length of a GFF3 region), kept in a temporary file in their final text.
// Each open value is a marker: the byte 0x01, a kind byte and 8 bytes of
// payload. Written text never holds the byte 0x01 otherwise, since every
// text field is escaped (control bytes become \xHH or %HH).
#pragma once
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>

namespace talvo::proteome {

// An unnamed file under $TMPDIR (or /tmp), gone when the process ends
// however it ends; throws "cannot create WHAT: why".
FILE* OpenTemporaryFile(const std::string& what);

class RowSpool {
 public:
  RowSpool() = default;
  RowSpool(const RowSpool&) = delete;
  RowSpool& operator=(const RowSpool&) = delete;
  ~RowSpool();

  // Each throws on failure.
  void Open();
  static void AppendMarker(std::string& text, char kind, uint64_t payload);
  static void AppendMarker(std::string& text, char kind, double payload);
  void Write(const std::string& text);
  uint64_t bytes() const { return bytes_; }
  bool is_open() const { return file_ != nullptr; }

  // Resolves a marker: appends the text that replaces it, and says whether
  // the text up to the next marker is kept.
  using Resolve = std::function<bool(char kind, uint64_t payload, std::string& out)>;
  // Told of each marker some markers before it is resolved, so that what
  // resolving it reads can be on its way.
  using Prefetch = std::function<void(char kind, uint64_t payload)>;
  // Reads the spool from its start and hands the text on to sink in chunks,
  // every marker resolved.
  void CopyTo(const Resolve& resolve, const std::function<void(const std::string&)>& sink,
              const Prefetch& prefetch = nullptr);

 private:
  FILE* file_ = nullptr;
  uint64_t bytes_ = 0;
};

}  // namespace talvo::proteome
