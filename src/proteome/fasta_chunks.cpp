#include "proteome/fasta_chunks.h"

#ifndef TALVO_NO_ZLIB
#include <zlib.h>
#endif
#ifdef TALVO_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "fasta/residues.h"
#include "proteome/formats.h"

namespace talvo::proteome {

namespace {

// Control bytes that no text file holds: below 0x20 but tab, LF, VT, FF and
// CR, and DEL. Branch-free, so that the scan of a buffer vectorises.
bool IsBinaryByte(unsigned char c) {
  return (c < 0x09) | (static_cast<unsigned char>(c - 0x0e) < 0x12) | (c == 0x7f);
}

// Loops of a fixed count, which the compiler vectorises at -O2 too.
constexpr size_t kBlock = 64;

bool AnyBinaryByte(const char* data, size_t size) {
  size_t i = 0;
  for (; i + kBlock <= size; i += kBlock) {
    unsigned char any = 0;
    for (size_t j = 0; j < kBlock; j++)
      any |= IsBinaryByte(static_cast<unsigned char>(data[i + j]));
    if (any != 0) return true;
  }
  unsigned char any = 0;
  for (; i < size; i++) any |= IsBinaryByte(static_cast<unsigned char>(data[i]));
  return any != 0;
}

bool IsNucleotide(char residue) {
  return residue == 'A' || residue == 'C' || residue == 'G' || residue == 'T' || residue == 'U' ||
         residue == 'N';
}

constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";

const char* AfterLine(const char* from, const char* end) {
  const void* newline = memchr(from, '\n', static_cast<size_t>(end - from));
  return newline != nullptr ? static_cast<const char*>(newline) + 1 : end;
}

// The first header of a chunk that may begin with text before it: a
// byte-order mark at the start of the input is skipped (part of one begins a
// line that is no header), then every line that does not start with '>'.
const char* FirstHeader(const TextChunk& chunk) {
  const char* p = chunk.begin;
  const char* end = chunk.end;
  if (chunk.input_start) {
    size_t matched = 0;
    while (matched < 3 && p + matched < end && p[matched] == kByteOrderMark[matched]) matched++;
    p += matched;
    if (matched > 0 && matched < 3) p = AfterLine(p, end);
  }
  while (p < end && *p != '>') p = AfterLine(p, end);
  return p;
}

// Lines counted lazily up to positions that only grow.
class LineCounter {
 public:
  explicit LineCounter(const char* start) : counted_(start) {}
  long At(const char* position) {
    lines_ += CountNewlines(counted_, position);
    counted_ = position;
    return lines_;
  }

 private:
  const char* counted_;
  long lines_ = 0;
};

// Where the sequence that starts at `body` ends: at the next '>' that begins
// a line. A '>' inside a line is ignored like any other non-letter, and
// noted once per line.
const char* SequenceEnd(const char* body, const char* end, size_t entry, LineCounter& lines,
                        ChunkFacts& facts) {
  for (const char* from = body;;) {
    const void* found = memchr(from, '>', static_cast<size_t>(end - from));
    if (found == nullptr) return end;
    const char* angle = static_cast<const char*>(found);
    if (angle[-1] == '\n') return angle;  // body follows the header's newline
    if (facts.angles.size() < static_cast<size_t>(kAngleWarnings)) {
      facts.angles.push_back(AngleLine{lines.At(angle), entry});
    }
    facts.angle_lines++;
    from = AfterLine(angle, end);
  }
}

}  // namespace

long CountNewlines(const char* from, const char* to) {
  const size_t size = static_cast<size_t>(to - from);
  long count = 0;
  size_t i = 0;
  for (; i + kBlock <= size; i += kBlock) {
    unsigned char block = 0;
    for (size_t j = 0; j < kBlock; j++) block += from[i + j] == '\n';
    count += block;
  }
  for (; i < size; i++) count += from[i] == '\n';
  return count;
}

unsigned long TextCrc32(unsigned long crc, const void* data, size_t size) {
#if defined(TALVO_HAVE_LIBDEFLATE)
  return libdeflate_crc32(static_cast<uint32_t>(crc), data, size);
#elif !defined(TALVO_NO_ZLIB)
  return crc32_z(crc, static_cast<const Bytef*>(data), size);
#else
  (void)data;
  (void)size;
  return crc;
#endif
}

std::string BinaryByteProblem(const char* data, size_t size, unsigned long long offset,
                              bool decompressed) {
  if (!AnyBinaryByte(data, size)) return "";
  const char* at = std::find_if(data, data + size,
                                [](char c) { return IsBinaryByte(static_cast<unsigned char>(c)); });
  char what[128];
  snprintf(what, sizeof what, "binary byte 0x%02X at offset %llu%s: not a FASTA text file",
           static_cast<unsigned char>(*at), offset + static_cast<size_t>(at - data),
           decompressed ? " of the decompressed data" : "");
  return what;
}

EntryCutter::EntryCutter(size_t chunk_size, size_t chunk_entries, unsigned long long offset,
                         long first_entry)
    : chunk_size_(std::max<size_t>(chunk_size, 1)),
      chunk_entries_(std::max<size_t>(chunk_entries, 1)),
      offset_(offset),
      origin_(offset),
      next_entry_(first_entry) {}

// The text not yet cut moves to a new buffer when the room runs out; the
// chunks cut before keep the old one.
char* EntryCutter::Room(size_t size) {
  if (capacity_ - fill_ >= size) return buffer_.get() + fill_;
  const size_t pending = fill_ - start_;
  const size_t capacity = std::max({pending + size, 2 * pending, 4 * chunk_size_, size_t{1} << 16});
  std::shared_ptr<char[]> buffer(new char[capacity]);
  if (pending > 0) memcpy(buffer.get(), buffer_.get() + start_, pending);
  scan_ -= start_;
  fill_ = pending;
  start_ = 0;
  buffer_ = std::move(buffer);
  capacity_ = capacity;
  return buffer_.get() + fill_;
}

void EntryCutter::Commit(size_t size, std::vector<TextChunk>& out) {
  fill_ += size;
  Scan(out);
}

void EntryCutter::Append(const char* text, size_t size, std::vector<TextChunk>& out) {
  if (size == 0) return;
  memcpy(Room(size), text, size);
  Commit(size, out);
}

// The start of the text, and every byte after a newline, begin a line; so
// does the byte after a byte-order mark at the start of the input.
bool EntryCutter::LineStartAt(size_t at) const {
  if (at == start_ || buffer_[at - 1] == '\n') return true;
  return origin_ == 0 && offset_ == 0 && at - start_ == 3 &&
         memcmp(buffer_.get() + start_, kByteOrderMark, 3) == 0;
}

void EntryCutter::Cut(size_t at, std::vector<TextChunk>& out) {
  TextChunk& chunk = out.emplace_back();
  chunk.buffer = buffer_;
  chunk.begin = buffer_.get() + start_;
  chunk.end = buffer_.get() + at;
  chunk.offset = offset_;
  chunk.first_entry = next_entry_;
  chunk.entries = pending_entries_;
  chunk.input_start = offset_ == 0;
  chunk.preamble = !header_seen_;
  header_seen_ = header_seen_ || pending_entries_ > 0;
  next_entry_ += pending_entries_;
  pending_entries_ = 0;
  offset_ += at - start_;
  start_ = at;
}

void EntryCutter::Scan(std::vector<TextChunk>& out) {
  const char* base = buffer_.get();
  while (scan_ < fill_) {
    const void* found = memchr(base + scan_, '>', fill_ - scan_);
    if (found == nullptr) {
      scan_ = fill_;
      break;
    }
    const size_t at = static_cast<size_t>(static_cast<const char*>(found) - base);
    scan_ = at + 1;
    if (!LineStartAt(at)) continue;
    if (at > start_ &&
        (at - start_ >= chunk_size_ || static_cast<size_t>(pending_entries_) >= chunk_entries_)) {
      Cut(at, out);
    }
    pending_entries_++;
  }
  // A long text before the first header goes at a line's end.
  if (!header_seen_ && pending_entries_ == 0 && fill_ - start_ >= chunk_size_) {
    size_t at = fill_;
    while (at > start_ && base[at - 1] != '\n') at--;
    if (at > start_) Cut(at, out);
  }
}

void EntryCutter::Finish(const std::string& error, std::vector<TextChunk>& out) {
  Cut(fill_, out);
  out.back().last = true;
  out.back().error = error;
}

size_t ParseChunk(const TextChunk& chunk, bool decompressed, ChunkFacts& facts,
                  const std::function<ProteinEntry&(size_t)>& entry_at) {
  const char* end = chunk.end;
  const size_t size = static_cast<size_t>(end - chunk.begin);
  facts = ChunkFacts{};
  facts.bytes = size;
  if (size == 0) return 0;
  facts.binary = BinaryByteProblem(chunk.begin, size, chunk.offset, decompressed);
  if (!facts.binary.empty()) return 0;
  facts.crc32 = TextCrc32(0, chunk.begin, size);
  facts.newlines = CountNewlines(chunk.begin, end);
  LineCounter lines(chunk.begin);
  size_t count = 0;
  for (const char* p = chunk.preamble ? FirstHeader(chunk) : chunk.begin; p < end; count++) {
    ProteinEntry& entry = entry_at(count);
    entry.number = chunk.first_entry + static_cast<long>(count);
    const char* header_end = AfterLine(p, end);
    const char* body = header_end;
    if (header_end[-1] == '\n') header_end--;
    if (header_end > p + 1 && header_end[-1] == '\r') header_end--;
    entry.header.assign(p + 1, header_end);
    const char* stop = SequenceEnd(body, end, count, lines, facts);
    entry.residues.resize(static_cast<size_t>(stop - body));
    const char* kept = talvo::CopyResidues(body, stop, entry.residues.data());
    entry.residues.resize(static_cast<size_t>(kept - entry.residues.data()));
    p = stop;
  }
  return count;
}

void ParseChunk(const TextChunk& chunk, bool decompressed, std::vector<ProteinEntry>& entries,
                ChunkFacts& facts) {
  const size_t count =
      ParseChunk(chunk, decompressed, facts, [&entries](size_t i) -> ProteinEntry& {
        if (i == entries.size()) entries.emplace_back();
        return entries[i];
      });
  entries.resize(count);
}

std::string_view IndexName(const std::string& header) {
  return std::string_view(header).substr(0, header.find_first_of(" \t\n\v\f\r"));
}

bool InputLedger::CheckName(const ProteinEntry& entry, long index) {
  const size_t at = static_cast<size_t>(index);
  const std::string_view name = IndexName(entry.header);
  if (at < names_->size() && name == (*names_)[at]) return true;
  // Appended piece by piece: GCC 12 at -O3 sees a false overlap in a chain
  // of + on temporaries (-Wrestrict).
  error_ =
      index_ + " does not match " + where_ + ": entry " + std::to_string(entry.number) + " is '";
  error_.append(name).append("' in the file, ");
  if (at < names_->size()) {
    error_.append("'").append((*names_)[at]).append("' in the index");
  } else {
    error_.append("past the index's part");
  }
  return false;
}

bool InputLedger::Begin(const TextChunk& chunk, const ChunkFacts& facts, size_t count) {
  if (!error_.empty()) return false;
  if (!facts.binary.empty()) {
    error_ = where_ + ": " + facts.binary;
  } else if (!chunk.error.empty()) {
    error_ = chunk.error;
  } else if (count != static_cast<size_t>(chunk.entries)) {
    error_ = where_ + ": the entries of a chunk were counted differently (" +
             std::to_string(chunk.entries) + " and " + std::to_string(count) + ")";
  }
  if (!error_.empty()) return false;
#ifndef TALVO_NO_ZLIB
  crc32_ = crc32_combine(crc32_, facts.crc32, static_cast<z_off_t>(facts.bytes));
#endif
  bytes_ += facts.bytes;
  return true;
}

// TALVO ends an entry at a '>' wherever it stands; here it is ignored inside
// a sequence line, so the two would differ on that entry: say so.
void InputLedger::Entry(const ProteinEntry& entry, size_t index, const ChunkFacts& facts, bool last,
                        std::vector<std::string>& warnings) {
  entries_++;
  for (; angle_index_ < facts.angles.size() && facts.angles[angle_index_].entry == index;
       angle_index_++) {
    if (++angle_lines_ > kAngleWarnings) continue;
    warnings.push_back(
        where_ + ": line " + std::to_string(line_ + facts.angles[angle_index_].line) + ", entry " +
        std::to_string(entry.number) + " (" + ProteinId(entry.header, entry.number) +
        "): '>' inside a sequence line is ignored (TALVO would end the entry there)");
  }
  if (!composition_known_) Sample(entry.residues, last, warnings);
}

// Decides once, from the first residue letters, whether the input looks like
// nucleotides; costs nothing after that.
void InputLedger::Sample(const std::string& residues, bool finished,
                         std::vector<std::string>& warnings) {
  for (char residue : residues) {
    if (sampled_letters_ == kNucleotideSample) break;
    if (residue == '-') continue;
    sampled_letters_++;
    sampled_nucleotides_ += IsNucleotide(residue);
  }
  if (sampled_letters_ < kNucleotideSample && !finished) return;
  composition_known_ = true;
  if (sampled_letters_ < kNucleotideMinimum || sampled_nucleotides_ * 10 < sampled_letters_ * 9) {
    return;
  }
  char what[160];
  snprintf(what, sizeof what,
           "looks like nucleotides: %zu of the first %zu residue letters are A, C, G, T, U or N; "
           "the analysis expects protein sequences",
           sampled_nucleotides_, sampled_letters_);
  warnings.push_back(where_ + ": " + what);
}

bool InputLedger::End(const TextChunk& chunk, const ChunkFacts& facts,
                      std::vector<std::string>& warnings) {
  line_ += facts.newlines;
  angle_lines_ += facts.angle_lines - static_cast<long>(facts.angles.size());
  if (!chunk.last) return true;
  if (!composition_known_) Sample("", true, warnings);
  if (names_ != nullptr && static_cast<size_t>(entries_) != names_->size()) {
    error_ = index_ + " does not match " + where_ + ": " + std::to_string(entries_) +
             " entries where the index lists " + std::to_string(names_->size());
    return false;
  }
  if (names_ != nullptr && bytes_ < min_bytes_) {
    error_ = index_ + " does not match " + where_ + ": the text ends " +
             std::to_string(min_bytes_ - bytes_) + " bytes before the index's last entry does";
    return false;
  }
  if (entries_ == 0 && !may_be_empty_) {
    error_ =
        where_ + ": " + (bytes_ > 0 ? "no FASTA header (a line starting with '>')" : "empty input");
    return false;
  }
  if (angle_lines_ > kAngleWarnings) {
    warnings.push_back(where_ + ": " + std::to_string(angle_lines_ - kAngleWarnings) +
                       " more sequence lines with a '>' inside, not named one by one");
  }
  return true;
}

}  // namespace talvo::proteome
