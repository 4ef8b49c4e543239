#include "proteome/fasta_stream.h"

#include <fcntl.h>
#include <unistd.h>
#ifndef TALVO_NO_ZLIB
#include <zlib.h>
#endif

#include <algorithm>
#include <array>
#include <cerrno>
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

bool AnyBinaryByte(const char* data, size_t size) {
  unsigned char any = 0;
  for (size_t i = 0; i < size; i++) any |= IsBinaryByte(static_cast<unsigned char>(data[i]));
  return any != 0;
}

bool IsNucleotide(char residue) {
  return residue == 'A' || residue == 'C' || residue == 'G' || residue == 'T' || residue == 'U' ||
         residue == 'N';
}

constexpr unsigned char kGzipMagic[2] = {0x1f, 0x8b};
constexpr char kByteOrderMark[] = "\xEF\xBB\xBF";

}  // namespace

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

void FastaStream::Fail(const std::string& what) {
  if (error_.empty()) error_ = path_ + ": " + what;
  at_end_ = true;
}

// Every byte read is checked once, a buffer at a time, so that a binary byte
// ends the input wherever it stands (preamble, header or sequence).
bool FastaStream::FailIfBinary() {
  const std::string problem = BinaryByteProblem(buffer_.data(), end_, buffer_offset_, gzip_);
  if (problem.empty()) return false;
  Fail(problem);
  return true;
}

// Decides once, from the first residue letters, whether the input looks like
// nucleotides; costs nothing after that.
void FastaStream::SampleComposition(const std::string& residues) {
  for (char residue : residues) {
    if (sampled_letters_ == kNucleotideSample) break;
    if (residue == '-') continue;
    sampled_letters_++;
    sampled_nucleotides_ += IsNucleotide(residue);
  }
  if (sampled_letters_ < kNucleotideSample && !finished_) return;
  composition_known_ = true;
  if (sampled_letters_ < kNucleotideMinimum || sampled_nucleotides_ * 10 < sampled_letters_ * 9) {
    return;
  }
  char what[160];
  snprintf(what, sizeof what,
           "looks like nucleotides: %zu of the first %zu residue letters are A, C, G, T, U or N; "
           "the analysis expects protein sequences",
           sampled_nucleotides_, sampled_letters_);
  warnings_.push_back(path_ + ": " + what);
}

// TALVO ends an entry at a '>' wherever it stands; here it is ignored inside
// a sequence line, so the two would differ on that entry: say so.
void FastaStream::WarnAngleBracket(const ProteinEntry& entry, long line) {
  if (++angle_lines_ > kAngleWarnings) return;
  warnings_.push_back(path_ + ": line " + std::to_string(line) + ", entry " +
                      std::to_string(entry.number) + " (" + ProteinId(entry.header, entry.number) +
                      "): '>' inside a sequence line is ignored (TALVO would end the entry there)");
}

std::vector<std::string> FastaStream::TakeWarnings() {
  std::vector<std::string> taken;
  taken.swap(warnings_);
  return taken;
}

FastaStream::~FastaStream() {
  Close();
}

bool FastaStream::Open(const std::string& path, size_t buffer_size) {
  path_ = path;
  buffer_.assign(std::max<size_t>(buffer_size, 1), '\0');
  raw_.assign(std::max<size_t>(buffer_size, 2), 0);  // the gzip magic fits whole
  errno = 0;
  // Standard input is duplicated, so that closing the stream leaves it open.
  fd_ = path == "-" ? dup(0) : open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) {
    Fail(std::string("cannot open: ") + strerror(errno));
    return false;
  }
  return true;
}

bool FastaStream::Close() {
#ifndef TALVO_NO_ZLIB
  if (inflater_ != nullptr) inflateEnd(inflater_);
  delete inflater_;
  inflater_ = nullptr;
#endif
  if (fd_ < 0) return error_.empty();
  const int closed = close(fd_);
  fd_ = -1;
  if (closed != 0) Fail("error closing input");
  return error_.empty();
}

// Makes at least `wanted` unread bytes available in raw_, fewer only at the
// end of the file; false on a read error.
bool FastaStream::ReadRaw(size_t wanted) {
  if (raw_end_ - raw_pos_ >= wanted || raw_eof_) return true;
  memmove(raw_.data(), raw_.data() + raw_pos_, raw_end_ - raw_pos_);
  raw_offset_ += raw_pos_;
  raw_end_ -= raw_pos_;
  raw_pos_ = 0;
  while (raw_end_ < wanted && !raw_eof_) {
    const ssize_t got = read(fd_, raw_.data() + raw_end_, raw_.size() - raw_end_);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0) {
      Fail(std::string("read error: ") + strerror(errno));
      return false;
    }
    raw_eof_ = got == 0;
    raw_end_ += static_cast<size_t>(got);
  }
  return true;
}

// Plain text: the bytes read to tell it from gzip first, then straight from
// the file into the parse buffer.
size_t FastaStream::ReadPlain() {
  if (raw_pos_ < raw_end_) {
    const size_t count = std::min(buffer_.size(), raw_end_ - raw_pos_);
    memcpy(buffer_.data(), raw_.data() + raw_pos_, count);
    raw_pos_ += count;
    return count;
  }
  while (!raw_eof_) {
    const ssize_t got = read(fd_, buffer_.data(), buffer_.size());
    if (got > 0) return static_cast<size_t>(got);
    if (got == 0) {
      raw_eof_ = true;
    } else if (errno != EINTR) {
      Fail(std::string("read error: ") + strerror(errno));
      return 0;
    }
  }
  return 0;
}

#ifdef TALVO_NO_ZLIB
// Without zlib (the WebAssembly build, whose page decompresses gzip itself)
// every input is plain text, and gzip data is refused as binary.
size_t FastaStream::Inflate() {
  return 0;
}
#else
// Members are inflated one after the other, zlib checking each one's CRC and
// length. After a member only the end of the file or the magic of another
// one may follow: zlib's own gzread would stop there silently, and the rest
// of the input would be lost without a word.
size_t FastaStream::Inflate() {
  if (inflater_ == nullptr) {
    inflater_ = new z_stream{};
    if (inflateInit2(inflater_, 15 + 16) != Z_OK) {  // the gzip wrapper only
      delete inflater_;
      inflater_ = nullptr;
      Fail("out of memory");
      return 0;
    }
  }
  z_stream& z = *inflater_;
  for (;;) {
    if (!ReadRaw(member_ended_ ? 2 : 1)) return 0;
    const size_t unread = raw_end_ - raw_pos_;
    if (member_ended_) {
      if (unread == 0) return 0;
      if (unread < 2 || memcmp(raw_.data() + raw_pos_, kGzipMagic, 2) != 0) {
        Fail("data after the end of the gzip stream at offset " +
             std::to_string(raw_offset_ + raw_pos_));
        return 0;
      }
      inflateReset(&z);
      member_ended_ = false;
      member_offset_ = raw_offset_ + raw_pos_;
    }
    z.next_in = raw_.data() + raw_pos_;
    z.avail_in = static_cast<uInt>(unread);
    z.next_out = reinterpret_cast<Bytef*>(buffer_.data());
    z.avail_out = static_cast<uInt>(buffer_.size());
    const int status = inflate(&z, Z_NO_FLUSH);
    raw_pos_ = static_cast<size_t>(z.next_in - raw_.data());
    const size_t produced = buffer_.size() - z.avail_out;
    const auto member = [this] { return "the member at offset " + std::to_string(member_offset_); };
    if (status == Z_STREAM_END) {
      member_ended_ = true;
    } else if (status == Z_MEM_ERROR) {
      Fail("out of memory");
      return 0;
    } else if (status != Z_OK && status != Z_BUF_ERROR) {
      Fail("corrupt gzip data in " + member() + " (" + (z.msg ? z.msg : "bad data") + ")");
      return 0;
    } else if (produced == 0 && raw_pos_ == raw_end_ && raw_eof_) {
      Fail("truncated gzip data: the input ends inside " + member());
      return 0;
    }
    if (produced > 0) return produced;
  }
}
#endif  // TALVO_NO_ZLIB

bool FastaStream::Fill() {
  if (at_end_) return false;
  if (!format_known_) {
    format_known_ = true;
    if (!ReadRaw(2)) return false;
#ifndef TALVO_NO_ZLIB
    gzip_ = raw_end_ >= 2 && memcmp(raw_.data(), kGzipMagic, 2) == 0;
#endif
  }
  const size_t got = gzip_ ? Inflate() : ReadPlain();
  if (got == 0) {
    at_end_ = true;
    return false;
  }
  return Deliver(got);
}

// Every byte the parser sees passes here once, plain or decompressed.
bool FastaStream::Deliver(size_t got) {
  any_byte_ = true;
  buffer_offset_ += end_;
  pos_ = 0;
  end_ = got;
#ifndef TALVO_NO_ZLIB
  crc32_ = crc32(crc32_, reinterpret_cast<const Bytef*>(buffer_.data()), static_cast<uInt>(got));
#endif
  FindAngleBracket(buffer_.data());
  return !FailIfBinary();
}

int FastaStream::Peek() {
  if (pos_ == end_ && !Fill()) return -1;
  return static_cast<unsigned char>(buffer_[pos_]);
}

void FastaStream::SkipLine() {
  while (Peek() >= 0) {
    const char* start = buffer_.data() + pos_;
    const void* newline = memchr(start, '\n', end_ - pos_);
    if (newline != nullptr) {
      pos_ += static_cast<const char*>(newline) - start + 1;
      line_++;
      return;
    }
    pos_ = end_;
  }
}

void FastaStream::AppendLine(std::string& text) {
  while (Peek() >= 0) {
    const char* start = buffer_.data() + pos_;
    const void* newline = memchr(start, '\n', end_ - pos_);
    const size_t count =
        newline != nullptr ? static_cast<const char*>(newline) - start : end_ - pos_;
    text.append(start, count);
    pos_ += count;
    if (newline != nullptr) {
      pos_++;
      line_++;
      break;
    }
  }
  if (!text.empty() && text.back() == '\r') text.pop_back();
}

// The buffer is searched for '>' once per '>' in it, not once per line.
void FastaStream::FindAngleBracket(const char* from) {
  const char* end = buffer_.data() + end_;
  const void* found = memchr(from, '>', static_cast<size_t>(end - from));
  next_angle_ = found != nullptr ? static_cast<const char*>(found) : end;
}

// Called when [start, stop), part of a sequence line, may hold a '>'.
void FastaStream::CheckAngleBracket(const char* start, const char* stop,
                                    const ProteinEntry& entry) {
  if (next_angle_ < start) FindAngleBracket(start);
  if (next_angle_ < stop && line_ != angle_line_) {
    angle_line_ = line_;
    WarnAngleBracket(entry, line_);
  }
}

// One sequence line. A '>' in it (never at its start: that begins the next
// entry) is ignored like any other non-letter, with a warning.
void FastaStream::AppendResidues(ProteinEntry& entry) {
  std::string& residues = entry.residues;
  while (Peek() >= 0) {
    const char* start = buffer_.data() + pos_;
    const void* newline = memchr(start, '\n', end_ - pos_);
    const char* stop =
        newline != nullptr ? static_cast<const char*>(newline) : buffer_.data() + end_;
    // Room for every byte of the line, trimmed to the residues kept.
    const size_t before = residues.size();
    residues.resize(before + static_cast<size_t>(stop - start));
    const char* out = talvo::CopyResidues(start, stop, residues.data() + before);
    residues.resize(static_cast<size_t>(out - residues.data()));
    if (next_angle_ < stop) CheckAngleBracket(start, stop, entry);
    pos_ = stop - buffer_.data();
    if (newline != nullptr) {
      pos_++;
      line_++;
      return;
    }
  }
}

// A UTF-8 byte-order mark is no text: skipped, so that a header just after
// it is the first entry. Part of one begins a first line that is no header.
void FastaStream::SkipByteOrderMark() {
  size_t matched = 0;
  while (matched < 3 && Peek() == static_cast<unsigned char>(kByteOrderMark[matched])) {
    pos_++;
    matched++;
  }
  if (matched > 0 && matched < 3) SkipLine();
}

// Text before the first header is skipped; a '>' counts only at the start of
// a line.
bool FastaStream::FindFirstHeader() {
  SkipByteOrderMark();
  for (int c = Peek(); c >= 0; c = Peek()) {
    if (c == '>') return true;
    SkipLine();
  }
  if (error_.empty())
    Fail(any_byte_ ? "no FASTA header (a line starting with '>')" : "empty input");
  return false;
}

bool FastaStream::Next(ProteinEntry& entry) {
  if (finished_ || fd_ < 0) return false;
  if (!started_) {
    started_ = true;
    if (!FindFirstHeader()) {
      finished_ = true;
      return false;
    }
  }
  pos_++;  // the '>' that Peek stopped at
  entry.number = ++entries_;
  entry.header.clear();
  entry.residues.clear();
  AppendLine(entry.header);
  for (int c = Peek(); c >= 0 && c != '>'; c = Peek()) AppendResidues(entry);
  if (Peek() < 0) finished_ = true;
  if (!composition_known_ && error_.empty()) SampleComposition(entry.residues);
  if (finished_ && error_.empty() && angle_lines_ > kAngleWarnings) {
    warnings_.push_back(path_ + ": " + std::to_string(angle_lines_ - kAngleWarnings) +
                        " more sequence lines with a '>' inside, not named one by one");
  }
  return error_.empty();
}

}  // namespace talvo::proteome
