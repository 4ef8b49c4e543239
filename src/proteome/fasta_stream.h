// Streaming multi-FASTA reader over zlib: plain text, gzip and multi-member
// gzip alike, one entry at a time, so memory holds only the entries in use.
//
// Binary input is refused: a byte below 0x20 other than tab, LF, VT, FF and
// CR, or the byte 0x7F, anywhere in the (decompressed) stream ends the read
// with the byte and its offset. Bytes from 0x80 up pass: UTF-8 in headers is
// legitimate, and elsewhere they are ignored like other non-letters.
//
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

// "" when data holds no binary byte, else the first one and its offset
// (`offset` is that of data[0]) in the reader's words.
std::string BinaryByteProblem(const char* data, size_t size, unsigned long long offset,
                              bool decompressed);

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
  // Set once the first residue letters of the input (up to
  // kNucleotideSample of them, at least kNucleotideMinimum) are known and
  // nine in ten or more are A, C, G, T, U or N: the input looks like
  // nucleotides. Reading goes on.
  const std::string& warning() const { return warning_; }

  // zlib's CRC-32 of every (decompressed) byte read so far, and their count:
  // once the input was read to its end, a fingerprint of its content. No CRC
  // without zlib (0).
  unsigned long content_crc32() const { return crc32_; }
  unsigned long long content_bytes() const { return buffer_offset_ + end_; }

  static constexpr size_t kNucleotideSample = 10000;
  static constexpr size_t kNucleotideMinimum = 20;

 private:
  int Peek();  // the next byte without consuming it; -1 at the end or on error
  bool Fill();
  void SkipLine();
  void AppendLine(std::string& text);
  void AppendResidues(std::string& residues);
  bool FindFirstHeader();
  void Fail(const std::string& what);
  bool FailIfBinary(bool decompressed);
  void SampleComposition(const std::string& residues);

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
  unsigned long long buffer_offset_ = 0;  // of buffer_[0] in the decompressed stream
  unsigned long crc32_ = 0;
  size_t sampled_letters_ = 0;
  size_t sampled_nucleotides_ = 0;
  bool composition_known_ = false;
  std::string error_;
  std::string warning_;
};
