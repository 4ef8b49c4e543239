// Streaming multi-FASTA reader: plain text, gzip and multi-member gzip alike,
// one entry at a time, so memory holds only the entries in use. Plain input
// is read straight into the parse buffer; gzip input is inflated into it.
//
// A UTF-8 byte-order mark at the start of the (decompressed) input is
// skipped. Binary input is refused: a byte below 0x20 other than tab, LF,
// VT, FF and CR, or the byte 0x7F, anywhere in the (decompressed) stream ends
// the read with the byte and its offset. Bytes from 0x80 up pass: UTF-8 in
// headers is legitimate, and elsewhere they are ignored like other
// non-letters. In gzip input, whatever follows the last complete member
// (garbage, plain text, a member whose header is damaged or that is cut
// short) is an error too, never the silent end of the input.
//
// Builds without zlib (TALVO_NO_ZLIB, the WebAssembly page) read plain text.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

#include "talvo/proteome.h"

struct z_stream_s;

namespace talvo::proteome {

using talvo::ProteinEntry;  // talvo/proteome.h

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
  // buffer_size sizes both the parse buffer and the read of compressed bytes.
  bool Open(const std::string& path, size_t buffer_size = kDefaultBuffer);
  // The next entry; false at the end of the input or on an error (error()
  // then says what went wrong).
  bool Next(ProteinEntry& entry);
  // Ends the stream; false with error() when the input failed or could not
  // be closed.
  bool Close();
  const std::string& error() const { return error_; }
  // Warnings about the input that do not stop the read, gathered since the
  // last call, oldest first:
  // - once the first residue letters of the input (up to kNucleotideSample of
  //   them, at least kNucleotideMinimum) are known and nine in ten or more are
  //   A, C, G, T, U or N, one saying the input looks like nucleotides;
  // - for a '>' inside a sequence line (not at its start), which is ignored
  //   like any non-letter, one naming the line and the entry, for the first
  //   kAngleWarnings such lines, and after the last entry one with the count
  //   of those not named.
  std::vector<std::string> TakeWarnings();

  // zlib's CRC-32 of every (decompressed) byte read so far, and their count:
  // once the input was read to its end, a fingerprint of its content. No CRC
  // without zlib (0).
  unsigned long content_crc32() const { return crc32_; }
  unsigned long long content_bytes() const { return buffer_offset_ + end_; }

  static constexpr size_t kNucleotideSample = 10000;
  static constexpr size_t kNucleotideMinimum = 20;
  static constexpr long kAngleWarnings = 5;

 private:
  int Peek();  // the next byte without consuming it; -1 at the end or on error
  bool Fill();
  size_t ReadPlain();
  size_t Inflate();
  bool ReadRaw(size_t wanted);
  bool Deliver(size_t got);
  void SkipLine();
  void AppendLine(std::string& text);
  void AppendResidues(ProteinEntry& entry);
  void FindAngleBracket(const char* from);
  void CheckAngleBracket(const char* start, const char* stop, const ProteinEntry& entry);
  void SkipByteOrderMark();
  bool FindFirstHeader();
  void Fail(const std::string& what);
  bool FailIfBinary();
  void SampleComposition(const std::string& residues);
  void WarnAngleBracket(const ProteinEntry& entry, long line);

  int fd_ = -1;
  std::string path_;
  // Parse buffer: bytes as the parser sees them (decompressed).
  std::vector<char> buffer_;
  size_t pos_ = 0;
  size_t end_ = 0;
  unsigned long long buffer_offset_ = 0;  // of buffer_[0] in the decompressed stream
  const char* next_angle_ = nullptr;      // the next '>' in buffer_, or its end
  // Bytes read from the file that are not yet parsed (plain) or inflated
  // (gzip): the first bytes, which tell the two apart, and gzip input.
  std::vector<unsigned char> raw_;
  size_t raw_pos_ = 0;
  size_t raw_end_ = 0;
  unsigned long long raw_offset_ = 0;     // of raw_[0] in the file
  unsigned long long member_offset_ = 0;  // where the gzip member being read starts
  bool raw_eof_ = false;
  bool gzip_ = false;
  bool member_ended_ = false;
  z_stream_s* inflater_ = nullptr;
  bool format_known_ = false;
  bool at_end_ = false;
  bool started_ = false;
  bool finished_ = false;
  bool any_byte_ = false;
  long entries_ = 0;
  long line_ = 1;         // of the next byte, counted from 1
  long angle_lines_ = 0;  // sequence lines with a '>' inside
  long angle_line_ = 0;   // the last of them
  unsigned long crc32_ = 0;
  size_t sampled_letters_ = 0;
  size_t sampled_nucleotides_ = 0;
  bool composition_known_ = false;
  std::string error_;
  std::vector<std::string> warnings_;
};

}  // namespace talvo::proteome
