#include "proteome/fasta_stream.h"

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
bool FastaStream::FailIfBinary(bool decompressed) {
  const std::string problem = BinaryByteProblem(buffer_.data(), end_, buffer_offset_, decompressed);
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
  warning_ = path_ + ": " + what;
}

#ifdef TALVO_NO_ZLIB
// Without zlib (the WebAssembly build, whose page decompresses gzip itself)
// the input is plain text read through stdio.
namespace {

FILE* AsFile(void* file) {
  return static_cast<FILE*>(file);
}

}  // namespace

FastaStream::~FastaStream() {
  if (file_ != nullptr) fclose(AsFile(file_));
}

bool FastaStream::Open(const std::string& path, size_t buffer_size) {
  path_ = path;
  buffer_.assign(buffer_size > 0 ? buffer_size : 1, '\0');
  errno = 0;
  if (path == "-") {
    const int fd = dup(0);
    file_ = fd >= 0 ? fdopen(fd, "rb") : nullptr;
    if (file_ == nullptr && fd >= 0) close(fd);
  } else {
    file_ = fopen(path.c_str(), "rb");
  }
  if (file_ == nullptr) {
    Fail(std::string("cannot open: ") + (errno != 0 ? strerror(errno) : "out of memory"));
    return false;
  }
  return true;
}

bool FastaStream::Fill() {
  if (at_end_) return false;
  const size_t got = fread(buffer_.data(), 1, buffer_.size(), AsFile(file_));
  if (got == 0) {
    if (ferror(AsFile(file_)) != 0) Fail(std::string("read error: ") + strerror(errno));
    at_end_ = true;
    return false;
  }
  any_byte_ = true;
  buffer_offset_ += end_;
  pos_ = 0;
  end_ = got;
  return !FailIfBinary(false);
}

bool FastaStream::Close() {
  if (file_ == nullptr) return error_.empty();
  const int closed = fclose(AsFile(file_));
  file_ = nullptr;
  if (closed != 0 && error_.empty()) Fail("error closing input");
  return error_.empty();
}

#else
namespace {

gzFile AsGz(void* file) {
  return static_cast<gzFile>(file);
}

// zlib's text for the stream's error state, without the path it prefixes.
std::string ZlibProblem(void* file, const std::string& path, int& code) {
  std::string message = gzerror(AsGz(file), &code);
  if (message.compare(0, path.size() + 2, path + ": ") == 0) message.erase(0, path.size() + 2);
  if (code == Z_BUF_ERROR) return "truncated gzip data (" + message + ")";
  return "corrupt gzip data (" + message + ")";
}

}  // namespace

FastaStream::~FastaStream() {
  if (file_ != nullptr) gzclose(AsGz(file_));
}

bool FastaStream::Open(const std::string& path, size_t buffer_size) {
  path_ = path;
  buffer_.assign(buffer_size > 0 ? buffer_size : 1, '\0');
  errno = 0;
  if (path == "-") {
    // A duplicate, so that closing the stream leaves standard input open.
    const int fd = dup(0);
    file_ = fd >= 0 ? gzdopen(fd, "rb") : nullptr;
    if (file_ == nullptr && fd >= 0) close(fd);
  } else {
    file_ = gzopen(path.c_str(), "rb");
  }
  if (file_ == nullptr) {
    Fail(std::string("cannot open: ") + (errno != 0 ? strerror(errno) : "out of memory"));
    return false;
  }
  return true;
}

bool FastaStream::Fill() {
  if (at_end_) return false;
  const int got = gzread(AsGz(file_), buffer_.data(), static_cast<unsigned>(buffer_.size()));
  int code = Z_OK;
  if (got < 0) {
    const std::string problem = ZlibProblem(file_, path_, code);
    Fail(code == Z_ERRNO ? std::string("read error: ") + strerror(errno) : problem);
    return false;
  }
  if (got == 0) {
    // At the very end a stream cut short is known; earlier, read-ahead would
    // make this check fire too soon.
    const std::string problem = ZlibProblem(file_, path_, code);
    if (code != Z_OK && code != Z_ERRNO) Fail(problem);
    at_end_ = true;
    return false;
  }
  any_byte_ = true;
  buffer_offset_ += end_;
  pos_ = 0;
  end_ = static_cast<size_t>(got);
  crc32_ = crc32(crc32_, reinterpret_cast<const Bytef*>(buffer_.data()), static_cast<uInt>(got));
  return !FailIfBinary(gzdirect(AsGz(file_)) != 1);
}

bool FastaStream::Close() {
  if (file_ == nullptr) return error_.empty();
  // zlib learns that a stream was cut short only when it reaches the end, and
  // read-ahead makes earlier checks fire too soon: check once, here.
  int code = Z_OK;
  const char* message = gzerror(AsGz(file_), &code);
  if (code != Z_OK && code != Z_ERRNO)
    Fail(std::string("truncated or corrupt gzip data: ") + message);
  const int closed = gzclose(AsGz(file_));
  file_ = nullptr;
  if (closed != Z_OK && error_.empty()) {
    Fail(closed == Z_BUF_ERROR ? "truncated gzip data: unexpected end of file"
                               : "error closing input");
  }
  return error_.empty();
}

#endif  // TALVO_NO_ZLIB

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
      break;
    }
  }
  if (!text.empty() && text.back() == '\r') text.pop_back();
}

void FastaStream::AppendResidues(std::string& residues) {
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
    pos_ = stop - buffer_.data();
    if (newline != nullptr) {
      pos_++;
      return;
    }
  }
}

// Text before the first header is skipped; a '>' counts only at the start of
// a line.
bool FastaStream::FindFirstHeader() {
  for (int c = Peek(); c >= 0; c = Peek()) {
    if (c == '>') return true;
    SkipLine();
  }
  if (error_.empty())
    Fail(any_byte_ ? "no FASTA header (a line starting with '>')" : "empty input");
  return false;
}

bool FastaStream::Next(ProteinEntry& entry) {
  if (finished_ || file_ == nullptr) return false;
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
  for (int c = Peek(); c >= 0 && c != '>'; c = Peek()) AppendResidues(entry.residues);
  if (Peek() < 0) finished_ = true;
  if (!composition_known_ && error_.empty()) SampleComposition(entry.residues);
  return error_.empty();
}
