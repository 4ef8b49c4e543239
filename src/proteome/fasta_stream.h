// Streaming multi-FASTA reader over zlib: plain text, gzip and multi-member
// gzip alike, one entry at a time, so memory holds only the entries in use.
// Builds without zlib (TALVO_NO_ZLIB, the WebAssembly page) read plain text.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

struct ProteinEntry {
  long number = 0;       // 1 for the first entry of its input
  std::string header;    // the header line after '>', without CR/LF
  std::string residues;  // letters (upper-cased) and '-', as the analysis counts them
};

class FastaStream {
 public:
  static constexpr size_t kDefaultBuffer = 128 * 1024;

  FastaStream() = default;
  FastaStream(const FastaStream&) = delete;
  FastaStream& operator=(const FastaStream&) = delete;
  ~FastaStream();

  // "-" reads standard input. False, with error(), when it cannot be opened.
  bool Open(const std::string& path, size_t buffer_size = kDefaultBuffer);
  // The next entry; false at the end of the input or on an error (error()
  // then says what went wrong).
  bool Next(ProteinEntry& entry);
  // Ends the stream and reports what zlib only knows at the end (a stream
  // cut short, a failed close); false with error() then.
  bool Close();
  const std::string& error() const { return error_; }

 private:
  int Peek();  // the next byte without consuming it; -1 at the end or on error
  bool Fill();
  void SkipLine();
  void AppendLine(std::string& text);
  void AppendResidues(std::string& residues);
  bool FindFirstHeader();
  void Fail(const std::string& what);

  void* file_ = nullptr;  // gzFile
  std::string path_;
  std::vector<char> buffer_;
  size_t pos_ = 0;
  size_t end_ = 0;
  bool at_end_ = false;
  bool started_ = false;
  bool finished_ = false;
  bool any_byte_ = false;
  long entries_ = 0;
  std::string error_;
};
