#include "proteome/fasta_index.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifdef TALVO_HAVE_HTSLIB
#include <htslib/bgzf.h>
#include <htslib/hts_log.h>
#endif

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string_view>

namespace talvo::proteome {

const char kIndexFingerprint[] = "index";
const char kPartFingerprint[] = "part";

namespace {

// One line of a .fai: name, residues, offset of the first residue, residues
// per line, bytes per line.
struct FaiLine {
  std::string_view name;
  unsigned long long length = 0, offset = 0, line_bases = 0, line_bytes = 0;
};

bool ParseFaiLine(std::string_view line, FaiLine& entry) {
  unsigned long long* numbers[] = {&entry.length, &entry.offset, &entry.line_bases,
                                   &entry.line_bytes};
  size_t tab = line.find('\t');
  entry.name = line.substr(0, tab);
  for (unsigned long long* number : numbers) {
    if (tab == std::string_view::npos) return false;
    const size_t next = line.find('\t', tab + 1);
    const std::string_view field = line.substr(tab + 1, next - tab - 1);
    const auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), *number);
    if (error != std::errc() || end != field.data() + field.size() || field.empty()) return false;
    tab = next;
  }
  return tab == std::string_view::npos && !entry.name.empty() && entry.line_bases > 0 &&
         entry.line_bytes >= entry.line_bases;
}

// Where an entry's sequence ends: after its last line's line end.
unsigned long long SequenceEnd(const FaiLine& entry) {
  const unsigned long long lines = entry.length / entry.line_bases;
  const unsigned long long rest = entry.length % entry.line_bases;
  return entry.offset + lines * entry.line_bytes +
         (rest > 0 ? rest + entry.line_bytes - entry.line_bases : 0);
}

// Where its last residue ends: a file may end without a last line end.
unsigned long long ResiduesEnd(const FaiLine& entry) {
  if (entry.length == 0) return entry.offset;
  const unsigned long long lines = (entry.length - 1) / entry.line_bases;
  return entry.offset + lines * entry.line_bytes + entry.length - lines * entry.line_bases;
}

class Descriptor {
 public:
  explicit Descriptor(const std::string& path) : fd_(open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
  ~Descriptor() {
    if (fd_ >= 0) close(fd_);
  }
  int get() const { return fd_; }

 private:
  int fd_;
};

[[noreturn]] void Fail(const std::string& what) {
  throw talvo::Error(what);
}

[[noreturn]] void FailSystem(const std::string& what) {
  throw talvo::Error(what + ": " + strerror(errno));
}

// Up to `size` bytes from `offset` of a file.
std::string ReadAt(int fd, const std::string& path, unsigned long long offset, size_t size) {
  std::string bytes(size, '\0');
  size_t got = 0;
  while (got < size) {
    const ssize_t read =
        pread(fd, bytes.data() + got, size - got, static_cast<off_t>(offset + got));
    if (read < 0 && errno == EINTR) continue;
    if (read < 0) FailSystem("read error in " + path);
    if (read == 0) break;
    got += static_cast<size_t>(read);
  }
  bytes.resize(got);
  return bytes;
}

// The lines of a .fai, which are in the order of their entries' offsets.
class FaiLines {
 public:
  FaiLines(int fd, std::string path, unsigned long long size)
      : fd_(fd), path_(std::move(path)), size_(size) {}

  // The first line that starts at `from` or after: its start and fields;
  // false when no line starts there.
  bool FirstFrom(unsigned long long from, unsigned long long& start, FaiLine& entry) {
    start = from;
    if (from > 0) {  // the line that holds byte from - 1 ends first
      const std::string before = ReadAt(fd_, path_, from - 1, kProbe);
      const size_t newline = before.find('\n');
      if (newline == std::string::npos) return from - 1 + before.size() < size_ && Long(from);
      start = from + newline;
    }
    if (start >= size_) return false;
    line_ = ReadAt(fd_, path_, start, kProbe);
    const size_t end = line_.find('\n');
    if (end == std::string::npos) Long(start);
    line_.resize(end);
    Parse(line_, entry, start);
    return true;
  }
  // The line that ends just before `start`.
  FaiLine LineBefore(unsigned long long start) {
    const unsigned long long from = start > kProbe ? start - kProbe : 0;
    line_ = ReadAt(fd_, path_, from, static_cast<size_t>(start - from));
    line_.pop_back();  // its newline
    const size_t newline = line_.rfind('\n');
    if (newline == std::string::npos && from > 0) Long(from);
    line_.erase(0, newline == std::string::npos ? 0 : newline + 1);
    FaiLine entry;
    Parse(line_, entry, start - line_.size() - 1);
    return entry;
  }
  // The lines before byte `end`, counted a block at a time.
  long LinesBefore(unsigned long long end) {
    long lines = 0;
    for (unsigned long long at = 0; at < end; at += kBlock) {
      const std::string block = ReadAt(
          fd_, path_, at, static_cast<size_t>(std::min<unsigned long long>(kBlock, end - at)));
      lines += CountNewlines(block.data(), block.data() + block.size());
    }
    return lines;
  }
  // The lines from `start` on, one at a time.
  bool Next(unsigned long long& at, FaiLine& entry) {
    if (next_ >= size_) return false;
    for (;;) {
      const size_t newline = buffer_.find('\n', pos_);
      if (newline != std::string::npos) {
        line_.assign(buffer_, pos_, newline - pos_);
        at = next_;
        next_ += newline + 1 - pos_;
        pos_ = newline + 1;
        Parse(line_, entry, at);
        return true;
      }
      if (buffer_offset_ + buffer_.size() >= size_) Fail(path_ + ": the last line has no line end");
      buffer_offset_ += pos_;
      buffer_ = ReadAt(fd_, path_, buffer_offset_, std::max(kBlock, 2 * (buffer_.size() - pos_)));
      pos_ = 0;
    }
  }
  void Seek(unsigned long long start) {
    next_ = buffer_offset_ = start;
    buffer_.clear();
    pos_ = 0;
  }

 private:
  static constexpr size_t kProbe = 1 << 12;
  static constexpr size_t kBlock = 1 << 20;

  [[noreturn]] bool Long(unsigned long long at) {
    Fail(path_ + ": no line end within " + std::to_string(kProbe) + " bytes of byte " +
         std::to_string(at) + ": not a FASTA index");
  }
  void Parse(const std::string& line, FaiLine& entry, unsigned long long at) {
    if (ParseFaiLine(line, entry)) return;
    Fail(path_ + ": the line at byte " + std::to_string(at) +
         " is not a line of a FASTA index (name, length, offset, line bases, line bytes)");
  }

  int fd_;
  std::string path_;
  unsigned long long size_;
  std::string line_;  // the fields' names point into it
  std::string buffer_;
  unsigned long long buffer_offset_ = 0;
  size_t pos_ = 0;
  unsigned long long next_ = 0;
};

// The text of a BGZF file, through htslib and its .gzi.
class BgzfText {
 public:
#ifdef TALVO_HAVE_HTSLIB
  BgzfText(const std::string& path, const std::string& gzi) : path_(path) {
    const htsLogLevel level = hts_get_log_level();
    hts_set_log_level(HTS_LOG_OFF);  // the failures are told here, in our words
    file_ = bgzf_open(path.c_str(), "r");
    const bool loaded = file_ != nullptr && bgzf_index_load(file_, path.c_str(), ".gzi") == 0;
    hts_set_log_level(level);
    if (!loaded) Fail(gzi + " cannot be read as the BGZF index of " + path);
  }
  ~BgzfText() {
    if (file_ != nullptr) bgzf_close(file_);
  }
  // The member that holds text offset `offset`: its file offset, and the text
  // offset of its first byte.
  void Member(unsigned long long offset, unsigned long long& member,
              unsigned long long& member_text) {
    Seek(offset);
    const int64_t virtual_offset = bgzf_tell(file_);
    member = static_cast<unsigned long long>(virtual_offset) >> 16;
    member_text = offset - static_cast<unsigned long long>(virtual_offset & 0xFFFF);
  }
  std::string At(unsigned long long offset, size_t size) {
    Seek(offset);
    std::string bytes(size, '\0');
    const ssize_t got = bgzf_read(file_, bytes.data(), size);
    if (got < 0)
      Fail(path_ + ": corrupt BGZF data near byte " + std::to_string(offset) + " of its text");
    bytes.resize(static_cast<size_t>(got));
    return bytes;
  }

 private:
  void Seek(unsigned long long offset) {
    if (bgzf_useek(file_, static_cast<off_t>(offset), SEEK_SET) != 0) {
      Fail(path_ + ".gzi does not match " + path_ + ": it cannot find byte " +
           std::to_string(offset) + " of the text");
    }
  }
  BGZF* file_ = nullptr;
#else
  BgzfText(const std::string& path, const std::string&) : path_(path) {}
  void Member(unsigned long long, unsigned long long&, unsigned long long&) {}
  std::string At(unsigned long long, size_t) {
    return "";
  }
#endif
  std::string path_;
};

// The text at a boundary of the part: blank lines, then entry `name`'s
// header.
bool BeginsEntry(std::string_view text, std::string_view name) {
  const size_t start = text.find_first_not_of("\r\n");
  if (start == std::string_view::npos || text[start] != '>') return false;
  const std::string_view header = text.substr(start + 1);
  if (header.substr(0, name.size()) != name) return false;
  return header.size() == name.size() || isspace(static_cast<unsigned char>(header[name.size()]));
}

// Blank lines before a header that the check reads past.
constexpr size_t kBlankSlack = 4096;

}  // namespace

std::string PartFingerprintValue(unsigned long crc32, unsigned long long bytes,
                                 const InputPart& part) {
  char text[128];
  snprintf(text, sizeof text, "%08lx\t%llu\t%llu\t%ld\t%zu", crc32 & 0xffffffffUL, bytes,
           part.range.begin, part.first_entry, part.names.size());
  return text;
}

bool ReadPartFingerprint(const std::string& value, PartFields& fields) {
  unsigned long crc32 = 0;
  char end = 0;
  return sscanf(value.c_str(), "%8lx\t%llu\t%llu\t%ld\t%ld%c", &crc32, &fields.bytes, &fields.begin,
                &fields.first_entry, &fields.entries, &end) == 5 &&
         fields.first_entry >= 1 && fields.entries >= 0;
}

std::optional<IndexedInput> FindIndexedPart(const std::string& path, long index, long count,
                                            std::string& warning) {
  if (path == "-") return std::nullopt;
  const std::string fai_path = path + ".fai";
  const Descriptor fai(fai_path);
  if (fai.get() < 0 && errno == ENOENT) return std::nullopt;
  if (fai.get() < 0) FailSystem("cannot open " + fai_path);
  const Descriptor file(path);
  struct stat file_status, fai_status;
  if (file.get() < 0 || fstat(file.get(), &file_status) != 0) FailSystem("cannot open " + path);
  if (fstat(fai.get(), &fai_status) != 0) FailSystem("cannot open " + fai_path);
  const std::string mismatch = fai_path + " does not match " + path + ": ";

  // BGZF needs the .gzi, and htslib to read it.
  const std::string magic = ReadAt(file.get(), path, 0, 2);
  const bool bgzf = magic == "\x1f\x8b";
  const std::string gzi_path = path + ".gzi";
  std::string gzi;
  if (bgzf) {
    const Descriptor gzi_file(gzi_path);
    if (gzi_file.get() < 0) {
      Fail(path + " is gzip-compressed, and its index " + fai_path + " needs the " + gzi_path +
           " that samtools faidx writes beside a BGZF (bgzip) file");
    }
#ifdef TALVO_HAVE_HTSLIB
    (void)warning;
#else
    warning = fai_path + " is not used: this talvo-proteome reads the index of a BGZF file only " +
              "with htslib, so all of " + path + " is read";
    return std::nullopt;
#endif
    gzi = ReadAt(gzi_file.get(), gzi_path, 0,
                 static_cast<size_t>(lseek(gzi_file.get(), 0, SEEK_END)));
  }

  // The last line: where the text ends, for the shares of the parts.
  const unsigned long long fai_size = static_cast<unsigned long long>(fai_status.st_size);
  if (fai_size == 0) Fail(fai_path + ": an empty index");
  FaiLines lines(fai.get(), fai_path, fai_size);
  const FaiLine last = lines.LineBefore(fai_size);
  const unsigned long long text_size = SequenceEnd(last) + 1;
  if (!bgzf && static_cast<unsigned long long>(file_status.st_size) < ResiduesEnd(last)) {
    Fail(mismatch + "its last entry ends at byte " + std::to_string(ResiduesEnd(last)) +
         ", past the file's " + std::to_string(file_status.st_size) + " bytes");
  }

  // The part's first line, by a binary search: the shares of the lines only
  // grow. Its number is the count of the lines before it.
  const auto share = [&](const FaiLine& entry) {
    return static_cast<long>(static_cast<unsigned __int128>(entry.offset) *
                             static_cast<unsigned long>(count) / text_size);
  };
  unsigned long long low = 0, high = fai_size, start = 0;
  FaiLine entry;
  while (low < high) {
    const unsigned long long middle = low + (high - low) / 2;
    if (!lines.FirstFrom(middle, start, entry) || share(entry) >= index) {
      high = middle;
    } else {
      low = middle + 1;
    }
  }
  IndexedInput indexed;
  InputPart& part = indexed.part;
  part.index = fai_path;
  const bool begun = lines.FirstFrom(low, start, entry);
  std::string first_name(begun ? entry.name : ""), next_name;
  if (!begun) start = fai_size;  // an empty part after the last entry
  part.first_entry = lines.LinesBefore(start) + 1;
  unsigned long long previous_end = 0;  // of the sequence before
  if (start > 0) previous_end = SequenceEnd(lines.LineBefore(start));
  part.range.begin = part.range.end = previous_end;
  bool ended = !begun;
  if (begun) {
    lines.Seek(start);
    unsigned long long at = start;
    while (!ended && lines.Next(at, entry)) {
      if (entry.offset <= previous_end) {
        Fail(fai_path + ": the line at byte " + std::to_string(at) +
             " does not follow the line before (offsets must grow)");
      }
      if (share(entry) > index) {
        ended = true;
        part.range.end = previous_end;
        next_name = entry.name;
      } else {
        part.names.Add(entry.name);
        previous_end = SequenceEnd(entry);
      }
    }
    if (!ended) part.range.end = ~0ULL;  // the last part: to the end of the text
  }
  if (begun && !ended) part.min_bytes = ResiduesEnd(last) - part.range.begin;
  if (part.first_entry == 1) part.range.begin = 0;

  // The text at each end of the part must begin the entry the index puts
  // there.
  std::optional<BgzfText> bgzf_text;
  if (bgzf) bgzf_text.emplace(path, gzi_path);
  const auto text_at = [&](unsigned long long offset, size_t size) {
    return bgzf ? bgzf_text->At(offset, size) : ReadAt(file.get(), path, offset, size);
  };
  const auto check = [&](unsigned long long offset, const std::string& name, long entry_number) {
    if (BeginsEntry(text_at(offset, name.size() + kBlankSlack), name)) return;
    Fail(mismatch + "entry " + std::to_string(entry_number) + " ('" + name +
         "') does not begin at byte " + std::to_string(offset) + " of the text");
  };
  if (begun && part.first_entry > 1) check(part.range.begin, first_name, part.first_entry);
  if (begun && ended && part.names.size() > 0) {
    check(part.range.end, next_name, part.first_entry + static_cast<long>(part.names.size()));
  }
  part.range.bgzf = bgzf;
  if (bgzf && part.range.begin > 0 && part.range.begin < part.range.end) {
    bgzf_text->Member(part.range.begin, part.range.member_offset, part.range.member_text_offset);
  }

  // The file's size and the index's: the same for every shard of the input.
  const size_t tail_size = static_cast<size_t>(std::min<unsigned long long>(fai_size, 1 << 16));
  const std::string tail = ReadAt(fai.get(), fai_path, fai_size - tail_size, tail_size);
  unsigned long crc = TextCrc32(0, tail.data(), tail.size());
  crc = TextCrc32(crc, gzi.data(), gzi.size());
  char fingerprint[128];
  snprintf(fingerprint, sizeof fingerprint, "%08lx\t%llu\t%llu\t%zu", crc & 0xffffffffUL,
           static_cast<unsigned long long>(file_status.st_size), fai_size, gzi.size());
  indexed.index_fingerprint = fingerprint;
  return indexed;
}

}  // namespace talvo::proteome
