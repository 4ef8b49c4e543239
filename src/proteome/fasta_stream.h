// Streaming multi-FASTA reader: plain text, gzip, multi-member gzip and BGZF
// alike, one entry at a time on the calling thread, so that memory holds only
// the chunk in use. The reading is the pipeline's own (InputSource,
// EntryCutter, ParseChunk, InputLedger) without its threads; see
// fasta_chunks.h for what it accepts and refuses. In gzip input, whatever
// follows the last complete member (garbage, plain text, a member whose
// header is damaged or that is cut short) is an error too, never the silent
// end of the input.
//
// Builds without zlib (TALVO_NO_ZLIB, the WebAssembly page) read plain text.
#pragma once
#include <cstddef>
#include <string>
#include <vector>

#include "proteome/fasta_chunks.h"
#include "proteome/input_source.h"

namespace talvo::proteome {

class FastaStream {
 public:
  static constexpr size_t kDefaultBuffer = 128 * 1024;
  static constexpr size_t kNucleotideSample = InputLedger::kNucleotideSample;
  static constexpr size_t kNucleotideMinimum = InputLedger::kNucleotideMinimum;
  static constexpr long kAngleWarnings = proteome::kAngleWarnings;

  FastaStream() = default;
  FastaStream(const FastaStream&) = delete;
  FastaStream& operator=(const FastaStream&) = delete;

  // "-" reads standard input. False, with error(), when it cannot be opened.
  // buffer_size sizes the reads, and the pieces of text cut into chunks;
  // whole_limit and stream_fast are InputSource's.
  bool Open(const std::string& path, size_t buffer_size = kDefaultBuffer,
            unsigned long long whole_limit = InputSource::kWholeGzipLimit, bool stream_fast = true);
  // The next entry; false at the end of the input or on an error (error()
  // then says what went wrong).
  bool Next(ProteinEntry& entry);
  // Ends the stream; false with error() when the input failed or could not
  // be closed.
  bool Close();
  const std::string& error() const { return error_; }
  // Warnings about the input that do not stop the read (InputLedger's),
  // gathered since the last call, oldest first.
  std::vector<std::string> TakeWarnings();

  // zlib's CRC-32 of every (decompressed) byte read so far, and their count:
  // once the input was read to its end, a fingerprint of its content. No CRC
  // without zlib (0).
  unsigned long content_crc32() const { return ledger_.crc32(); }
  unsigned long long content_bytes() const { return ledger_.bytes(); }

 private:
  bool NextChunk();

  InputSource source_;
  size_t buffer_size_ = kDefaultBuffer;
  EntryCutter cutter_{kDefaultBuffer, 1 << 20};
  InputLedger ledger_{""};
  std::vector<TextChunk> chunks_;
  size_t next_chunk_ = 0;
  std::vector<ProteinEntry> entries_;
  size_t next_entry_ = 0;
  bool finished_ = false;
  std::string error_;
  std::vector<std::string> warnings_;
};

}  // namespace talvo::proteome
