// FASTA text in chunks that any thread can parse: the reader cuts an input's
// text where an entry begins (EntryCutter), a worker parses a chunk into its
// entries (ParseChunk), and what the reading of an input finds is put
// together in input order (InputLedger): the line numbers, the warnings,
// the first fault and a CRC-32 of the whole text.
//
// A '>' begins an entry only at the start of a line: at the start of the
// input (after a UTF-8 byte-order mark, which is skipped), after a newline.
// Text before the first header is skipped. Binary input is refused: a byte
// below 0x20 other than tab, LF, VT, FF and CR, or the byte 0x7F, anywhere in
// the (decompressed) text ends the read with the byte and its offset. Bytes
// from 0x80 up pass: UTF-8 in headers is legitimate, and elsewhere they are
// ignored like other non-letters.
#pragma once
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "talvo/proteome.h"

namespace talvo::proteome {

using talvo::ProteinEntry;  // talvo/proteome.h

// The line ends in [from, to).
long CountNewlines(const char* from, const char* to);

// The CRC-32 of zlib and gzip, continued over data (0 without zlib).
unsigned long TextCrc32(unsigned long crc, const void* data, size_t size);

// "" when data holds no binary byte, else the first one and its offset
// (`offset` is that of data[0]) in the reader's words.
std::string BinaryByteProblem(const char* data, size_t size, unsigned long long offset,
                              bool decompressed);

// Text that begins at the start of a line and ends where an entry begins (or
// at the end of the input).
struct TextChunk {
  std::shared_ptr<char[]> buffer;  // holds [begin, end)
  const char* begin = nullptr;
  const char* end = nullptr;
  unsigned long long offset = 0;  // of begin in the input's text
  long first_entry = 1;           // the number of the first entry that begins in it
  long entries = 0;               // entries that begin in it
  bool input_start = false;       // a byte-order mark at begin is skipped
  bool preamble = false;          // no header before it: lines before its first one are skipped
  bool last = false;              // the input ends with it
  std::string error;              // with last: why the input ended early (a read error, bad gzip)
};

class EntryCutter {
 public:
  // Chunks close at the first entry after `chunk_size` bytes or
  // `chunk_entries` entries. The text starts at `offset` of the input, at the
  // start of a line; its first entry has the number `first_entry`.
  EntryCutter(size_t chunk_size, size_t chunk_entries, unsigned long long offset = 0,
              long first_entry = 1);
  // Room for `size` bytes of text after what was given so far.
  char* Room(size_t size);
  // `size` bytes were written into the room; the chunks now complete go to
  // out.
  void Commit(size_t size, std::vector<TextChunk>& out);
  void Append(const char* text, size_t size, std::vector<TextChunk>& out);
  // The input ended (with `error` when it ended early): the rest is its last
  // chunk.
  void Finish(const std::string& error, std::vector<TextChunk>& out);

 private:
  void Scan(std::vector<TextChunk>& out);
  void Cut(size_t at, std::vector<TextChunk>& out);
  bool LineStartAt(size_t at) const;

  size_t chunk_size_;
  size_t chunk_entries_;
  std::shared_ptr<char[]> buffer_;
  size_t capacity_ = 0;
  size_t start_ = 0;  // of the text not yet cut
  size_t fill_ = 0;
  size_t scan_ = 0;                // where the search for entries goes on
  unsigned long long offset_ = 0;  // of buffer_[start_] in the input
  unsigned long long origin_ = 0;  // where the text started
  long next_entry_ = 1;            // the number of the first entry after start_
  long pending_entries_ = 0;       // entries that begin in [start_, scan_)
  bool header_seen_ = false;       // before start_
};

// The name an index gives an entry: its header up to the first white space.
std::string_view IndexName(const std::string& header);

// Names one after the other in one string: a part of an input can hold
// millions.
class NameList {
 public:
  void Add(std::string_view name) {
    text_ += name;
    ends_.push_back(text_.size());
  }
  size_t size() const { return ends_.size(); }
  std::string_view operator[](size_t i) const {
    const size_t begin = i == 0 ? 0 : ends_[i - 1];
    return std::string_view(text_).substr(begin, ends_[i] - begin);
  }

 private:
  std::string text_;
  std::vector<size_t> ends_;
};

// A '>' inside a sequence line: its line, counted from 0 at the chunk's
// start, and its entry, counted from 0 in the chunk.
struct AngleLine {
  long line = 0;
  size_t entry = 0;
};

// What parsing a chunk found beside its entries.
struct ChunkFacts {
  std::string binary;  // the first binary byte, in BinaryByteProblem's words
  long newlines = 0;
  std::vector<AngleLine> angles;  // the first kAngleWarnings lines
  long angle_lines = 0;           // all of them
  unsigned long crc32 = 0;        // of the chunk's bytes (0 without zlib)
  size_t bytes = 0;
};

constexpr long kAngleWarnings = 5;

// The entries of a chunk, with their numbers, each into entry_at(i) for its
// index i; returns their count (none when it holds a binary byte).
// `decompressed` words its offset. Entries given again keep their strings'
// memory.
size_t ParseChunk(const TextChunk& chunk, bool decompressed, ChunkFacts& facts,
                  const std::function<ProteinEntry&(size_t)>& entry_at);
// The same into `entries`, in place of those it held.
void ParseChunk(const TextChunk& chunk, bool decompressed, std::vector<ProteinEntry>& entries,
                ChunkFacts& facts);

// One input's chunks, taken in order once parsed.
class InputLedger {
 public:
  static constexpr size_t kNucleotideSample = 10000;
  static constexpr size_t kNucleotideMinimum = 20;

  // `where` begins each warning (the path); an input must hold an entry
  // unless `may_be_empty` (a shard's part of it).
  explicit InputLedger(std::string where, bool may_be_empty = false)
      : where_(std::move(where)), may_be_empty_(may_be_empty) {}
  // The entries must bear these names (IndexName), in this order: those the
  // index `index` lists for the part of the input read, whose text must be at
  // least `min_bytes` long.
  void ExpectNames(const NameList* names, std::string index, unsigned long long min_bytes) {
    names_ = names;
    index_ = std::move(index);
    min_bytes_ = min_bytes;
  }
  // The next chunk, its facts and its entries (entry_at(i) for i below
  // count). False, with error(), when the input is to end here; the
  // warnings found go to `warnings`:
  // - once the first residue letters of the input (up to kNucleotideSample of
  //   them, at least kNucleotideMinimum) are known and nine in ten or more are
  //   A, C, G, T, U or N, one saying the input looks like nucleotides;
  // - for a '>' inside a sequence line (not at its start), which is ignored
  //   like any non-letter, one naming the line and the entry, for the first
  //   kAngleWarnings such lines, and after the last entry one with the count
  //   of those not named.
  template <class EntryAt>
  bool Take(const TextChunk& chunk, const ChunkFacts& facts, size_t count, EntryAt entry_at,
            std::vector<std::string>& warnings);
  const std::string& error() const { return error_; }
  // zlib's CRC-32 of every byte taken, and their count: once the input was
  // read to its end, a fingerprint of its content.
  unsigned long crc32() const { return crc32_; }
  unsigned long long bytes() const { return bytes_; }
  long entries() const { return entries_; }

 private:
  bool Begin(const TextChunk& chunk, const ChunkFacts& facts, size_t count);
  bool CheckName(const ProteinEntry& entry, long index);
  void Entry(const ProteinEntry& entry, size_t index, const ChunkFacts& facts, bool last,
             std::vector<std::string>& warnings);
  bool End(const TextChunk& chunk, const ChunkFacts& facts, std::vector<std::string>& warnings);
  void Sample(const std::string& residues, bool finished, std::vector<std::string>& warnings);

  std::string where_;
  bool may_be_empty_;
  const NameList* names_ = nullptr;
  std::string index_;
  unsigned long long min_bytes_ = 0;
  long line_ = 1;  // of the chunk's first line
  size_t angle_index_ = 0;
  long angle_lines_ = 0;
  long entries_ = 0;
  size_t sampled_letters_ = 0;
  size_t sampled_nucleotides_ = 0;
  bool composition_known_ = false;
  unsigned long crc32_ = 0;
  unsigned long long bytes_ = 0;
  std::string error_;
};

template <class EntryAt>
bool InputLedger::Take(const TextChunk& chunk, const ChunkFacts& facts, size_t count,
                       EntryAt entry_at, std::vector<std::string>& warnings) {
  if (!Begin(chunk, facts, count)) return false;
  for (size_t i = 0; names_ != nullptr && i < count; i++) {
    if (!CheckName(entry_at(i), entries_ + static_cast<long>(i))) return false;
  }
  angle_index_ = 0;
  for (size_t i = 0; i < count; i++) {
    Entry(entry_at(i), i, facts, chunk.last && i + 1 == count, warnings);
  }
  return End(chunk, facts, warnings);
}

}  // namespace talvo::proteome
