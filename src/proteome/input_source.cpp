#include "proteome/input_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#ifndef TALVO_NO_ZLIB
#include <zlib.h>
#endif
#ifdef TALVO_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif
#ifdef TALVO_HAVE_ISAL
#include <isa-l/igzip_lib.h>
#endif

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace talvo::proteome {
namespace {

constexpr unsigned char kGzipMagic[2] = {0x1f, 0x8b};
constexpr size_t kMemberHeader = 12;  // a BGZF member's header up to XLEN
#if defined(TALVO_HAVE_LIBDEFLATE) || defined(TALVO_HAVE_ISAL)
constexpr unsigned char kHeaderCrcFlag = 0x02;
#endif
#ifdef TALVO_HAVE_LIBDEFLATE
// A member inflated in one call gets at most this much text; a larger one
// is read as a stream.
constexpr size_t kWholeMemberLimit = size_t{256} << 20;
#endif

bool StartsMember(const unsigned char* bytes, size_t available) {
  return available >= 2 && memcmp(bytes, kGzipMagic, 2) == 0;
}

}  // namespace

InputSource::~InputSource() {
  Close();
#ifdef TALVO_HAVE_LIBDEFLATE
  if (decompressor_ != nullptr) libdeflate_free_decompressor(decompressor_);
#endif
#ifdef TALVO_HAVE_ISAL
  delete fast_inflater_;
#endif
}

void InputSource::Fail(const std::string& what) {
  if (error_.empty()) error_ = path_ + ": " + what;
  at_end_ = true;
}

bool InputSource::Open(const std::string& path, size_t read_size, const TextRange* range,
                       unsigned long long whole_limit, bool stream_fast) {
  path_ = path;
  whole_limit_ = whole_limit;
  stream_fast_ = stream_fast;
  read_size_ = std::max<size_t>(read_size, 1);
  raw_.assign(std::max<size_t>(read_size_, 2), 0);  // the gzip magic fits whole
  errno = 0;
  // Standard input is duplicated, so that closing the source leaves it open.
  fd_ = path == "-" ? dup(0) : open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) {
    Fail(std::string("cannot open: ") + strerror(errno));
    return false;
  }
  if (range == nullptr) return true;
  // The index tells the format, and the reading starts where it says.
  ranged_ = true;
  range_ = *range;
  format_known_ = true;
  gzip_ = bgzf_ = range->bgzf;
  member_ended_ = true;
  at_end_ = range->begin >= range->end;  // an empty part reads nothing
  const unsigned long long start = range->bgzf ? range->member_offset : range->begin;
  text_offset_ = range->bgzf ? range->member_text_offset : range->begin;
  raw_offset_ = member_offset_ = start;
  if (lseek(fd_, static_cast<off_t>(start), SEEK_SET) < 0) {
    Fail(std::string("cannot seek: ") + strerror(errno));
    return false;
  }
  return true;
}

bool InputSource::Close() {
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
bool InputSource::ReadRaw(size_t wanted) {
  if (raw_end_ - raw_pos_ >= wanted || raw_eof_) return true;
  // The bytes used are let go, but those of a member from a pipe that zlib
  // may have to read again, up to kept_member_limit_.
  size_t used = raw_pos_;
  if (fast_ && keep_member_ && member_offset_ >= raw_offset_ &&
      raw_offset_ + raw_end_ - member_offset_ < kept_member_limit_) {
    used = std::min<size_t>(used, member_offset_ - raw_offset_);
  }
  if (used > 0) {
    memmove(raw_.data(), raw_.data() + used, raw_end_ - used);
    raw_offset_ += used;
    raw_end_ -= used;
    raw_pos_ -= used;
  }
  const size_t needed = raw_pos_ + wanted;
  if (raw_.size() < needed) raw_.resize(std::max(needed, raw_end_ + read_size_));
  while (raw_end_ < needed && !raw_eof_) {
    const size_t room = std::min(raw_.size() - raw_end_, std::max(read_size_, needed - raw_end_));
    const ssize_t got = read(fd_, raw_.data() + raw_end_, room);
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

// The rest of a small file, for members inflated in one call each.
bool InputSource::ReadAllRaw() {
  struct stat status;
  if (fstat(fd_, &status) != 0 || !S_ISREG(status.st_mode)) return false;
  const off_t here = lseek(fd_, 0, SEEK_CUR);
  if (here < 0 || static_cast<unsigned long long>(status.st_size) > whole_limit_) return false;
  const size_t rest = static_cast<size_t>(std::max<off_t>(status.st_size - here, 0));
  return ReadRaw(raw_end_ - raw_pos_ + rest + 1);  // one more: the end of the file is seen
}

// Plain text or gzip, from the first bytes; BGZF when the first member is
// one.
bool InputSource::DetectFormat() {
  format_known_ = true;
  if (!ReadRaw(2)) return false;
#ifndef TALVO_NO_ZLIB
  gzip_ = StartsMember(raw_.data(), raw_end_);
#endif
  if (!gzip_) return true;
  member_ended_ = true;  // the next bytes start a member
  if (!ReadRaw(kMemberHeader)) return false;
  const size_t unread = raw_end_ - raw_pos_;
  if (unread >= kMemberHeader && raw_[3] == 4) {
    if (!ReadRaw(kMemberHeader + (raw_[10] | raw_[11] << 8))) return false;
    bgzf_ = BgzfMemberSize(raw_.data(), raw_end_) != 0;
  }
#ifdef TALVO_HAVE_ISAL
  // A pipe cannot be read again: its member's bytes are kept instead, up to
  // kept_member_limit_.
  struct stat status;
  fast_ = stream_fast_ && !bgzf_;
  keep_member_ = !(fstat(fd_, &status) == 0 && S_ISREG(status.st_mode));
  if (fast_) return error_.empty();
#endif
#ifdef TALVO_HAVE_LIBDEFLATE
  whole_ = !bgzf_ && ReadAllRaw();
  if (whole_ && raw_end_ >= 4) {
    // The last member's length closes the file: right for a single member.
    const unsigned char* last = raw_.data() + raw_end_ - 4;
    member_guess_ =
        std::min(last[0] | last[1] << 8 | last[2] << 16 | size_t{last[3]} << 24, kWholeMemberLimit);
  }
#endif
  return error_.empty();
}

// Plain text: the bytes already read first, then straight from the file.
size_t InputSource::ReadPlain(char* dest, size_t capacity) {
  if (raw_pos_ < raw_end_) {
    const size_t count = std::min(capacity, raw_end_ - raw_pos_);
    memcpy(dest, raw_.data() + raw_pos_, count);
    raw_pos_ += count;
    return count;
  }
  while (!raw_eof_) {
    const ssize_t got = read(fd_, dest, capacity);
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

// After a complete member only the end of the input or another member may
// follow: zlib's own gzread would stop there silently, and the rest of the
// input would be lost without a word. True when a member starts.
bool InputSource::NextMemberStarts() {
  if (!ReadRaw(2)) return false;
  const size_t unread = raw_end_ - raw_pos_;
  if (unread == 0) return false;
  if (!StartsMember(raw_.data() + raw_pos_, unread)) {
    Fail("data after the end of the gzip stream at offset " +
         std::to_string(raw_offset_ + raw_pos_));
    return false;
  }
  member_ended_ = false;
  member_offset_ = raw_offset_ + raw_pos_;
  return true;
}

#ifdef TALVO_NO_ZLIB
// Without zlib (the WebAssembly build, whose page decompresses gzip itself)
// every input is plain text, and gzip data is refused as binary.
size_t InputSource::Inflate(char*, size_t) {
  return 0;
}
#else
// Members are inflated one after the other, zlib checking each one's CRC and
// length.
size_t InputSource::Inflate(char* dest, size_t capacity) {
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
    if (member_ended_) {
      if (!NextMemberStarts()) return 0;
      inflateReset(&z);
    }
    if (!ReadRaw(1)) return 0;
    const size_t unread = raw_end_ - raw_pos_;
    z.next_in = raw_.data() + raw_pos_;
    z.avail_in = static_cast<uInt>(unread);
    z.next_out = reinterpret_cast<Bytef*>(dest);
    z.avail_out = static_cast<uInt>(capacity);
    const int status = inflate(&z, Z_NO_FLUSH);
    raw_pos_ = static_cast<size_t>(z.next_in - raw_.data());
    size_t produced = capacity - z.avail_out;
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
    if (skip_ > 0) {  // given already by the faster path
      const size_t dropped = std::min(skip_, produced);
      memmove(dest, dest + dropped, produced - dropped);
      skip_ -= dropped;
      produced -= dropped;
    }
    if (produced > 0) return produced;
    if (member_ended_ && skip_ > 0) {  // never the next member's text in its place
      Fail("corrupt gzip data in " + member() + " (shorter on a second reading)");
      return 0;
    }
  }
}
#endif  // TALVO_NO_ZLIB

#ifdef TALVO_HAVE_ISAL
// gzip members streamed by ISA-L, more than twice as fast as zlib and
// faster than inflating the whole file in one call, so the analysis starts
// at once. What it does not take (a header with a CRC, damaged or cut-short
// data) zlib reads again from the member's start, with its own messages; 0
// with fast_ cleared then. From a pipe, the member's start is found again
// among the bytes kept; past them, the fault is told in zlib's words.
size_t InputSource::InflateFast(char* dest, size_t capacity) {
  if (fast_inflater_ == nullptr) fast_inflater_ = new inflate_state;
  inflate_state& state = *fast_inflater_;
  for (;;) {
    if (member_ended_) {
      if (!NextMemberStarts() || !ReadRaw(4)) return 0;
      member_text_ = 0;
      if (raw_end_ - raw_pos_ < 4 || (raw_[raw_pos_ + 3] & kHeaderCrcFlag) != 0) {
        RereadMemberWithZlib();
        return 0;
      }
      isal_inflate_init(&state);
      state.crc_flag = ISAL_GZIP;
    }
    if (!ReadRaw(1)) return 0;
    const size_t unread = raw_end_ - raw_pos_;
    const size_t room = std::min<size_t>(capacity, UINT32_MAX);
    state.next_in = raw_.data() + raw_pos_;
    state.avail_in = static_cast<uint32_t>(std::min<size_t>(unread, UINT32_MAX));
    state.next_out = reinterpret_cast<uint8_t*>(dest);
    state.avail_out = static_cast<uint32_t>(room);
    const int status = isal_inflate(&state);
    const size_t used = static_cast<size_t>(state.next_in - (raw_.data() + raw_pos_));
    const size_t produced = room - state.avail_out;
    const bool finished = state.block_state == ISAL_BLOCK_FINISH;
    // Damaged, cut short, or (never seen) stuck without reading: zlib's turn,
    // unless the member came from a pipe and is no longer kept.
    const bool cut_short = raw_eof_ && raw_pos_ + used == raw_end_;
    if (status < 0 || status == ISAL_NEED_DICT ||
        (produced == 0 && !finished && (used == 0 || cut_short))) {
      if (keep_member_ && member_offset_ < raw_offset_) {
        FailLikeZlib(status, cut_short);
      } else {
        RereadMemberWithZlib();
      }
      return 0;
    }
    raw_pos_ += used;
    member_text_ += produced;
    member_ended_ = finished;
    if (produced > 0) return produced;
  }
}

// The fault of a member that zlib cannot read again, in zlib's words where
// ISA-L's status tells it apart.
void InputSource::FailLikeZlib(int status, bool cut_short) {
  const std::string member = "the member at offset " + std::to_string(member_offset_);
  const char* fault = "bad data";
  switch (status) {
    case ISAL_INVALID_BLOCK:
      fault = "invalid block type";
      break;
    case ISAL_INVALID_SYMBOL:
      fault = "invalid literal/length code";
      break;
    case ISAL_INVALID_LOOKBACK:
      fault = "invalid distance too far back";
      break;
    case ISAL_INVALID_WRAPPER:
      fault = "incorrect header check";
      break;
    case ISAL_UNSUPPORTED_METHOD:
      fault = "unknown compression method";
      break;
    case ISAL_INCORRECT_CHECKSUM:
      fault = "incorrect data check";
      break;
    default:
      if (cut_short) return Fail("truncated gzip data: the input ends inside " + member);
  }
  Fail("corrupt gzip data in " + member + " (" + fault + ")");
}

// zlib takes over at the start of the member being read, leaving out the
// text already given.
void InputSource::RereadMemberWithZlib() {
  fast_ = false;
  skip_ = member_text_;
  member_ended_ = false;
  if (member_offset_ >= raw_offset_) {  // still in the buffer
    raw_pos_ = static_cast<size_t>(member_offset_ - raw_offset_);
    return;
  }
  if (lseek(fd_, static_cast<off_t>(member_offset_), SEEK_SET) < 0) {
    Fail(std::string("cannot seek: ") + strerror(errno));
    return;
  }
  raw_offset_ = member_offset_;
  raw_pos_ = raw_end_ = 0;
  raw_eof_ = false;
}
#else
size_t InputSource::InflateFast(char*, size_t) {
  fast_ = false;
  return 0;
}
#endif  // TALVO_HAVE_ISAL

#ifdef TALVO_HAVE_LIBDEFLATE
// The next member in one call: straight into dest when it fits there (direct
// says how much it made), else into text_. False at the end of the input,
// after an error, or when zlib is to read the member (it cannot be inflated
// here, or its header has a CRC, which libdeflate does not check).
bool InputSource::InflateNextMember(char* dest, size_t capacity, size_t& direct) {
  if (!NextMemberStarts()) return false;
  const unsigned char* member = raw_.data() + raw_pos_;
  const size_t unread = raw_end_ - raw_pos_;
  if (decompressor_ == nullptr) decompressor_ = libdeflate_alloc_decompressor();
  bool fits = unread >= 4 && (member[3] & kHeaderCrcFlag) == 0 && decompressor_ != nullptr;
  size_t used = 0, produced = 0;
  if (fits && capacity >= member_guess_) {
    const libdeflate_result result = libdeflate_gzip_decompress_ex(
        decompressor_, member, unread, dest, capacity, &used, &produced);
    if (result == LIBDEFLATE_SUCCESS) {
      raw_pos_ += used;
      member_ended_ = true;
      direct = produced;
      return true;
    }
    fits = result == LIBDEFLATE_INSUFFICIENT_SPACE;
  }
  if (fits && text_.size() < member_guess_) text_.resize(member_guess_);
  while (fits) {
    const libdeflate_result result = libdeflate_gzip_decompress_ex(
        decompressor_, member, unread, text_.data(), text_.size(), &used, &produced);
    if (result == LIBDEFLATE_SUCCESS) {
      raw_pos_ += used;
      member_ended_ = true;
      text_pos_ = 0;
      text_end_ = produced;
      return true;
    }
    fits = result == LIBDEFLATE_INSUFFICIENT_SPACE && text_.size() < kWholeMemberLimit;
    if (fits)
      text_.resize(std::min(std::max<size_t>(2 * text_.size(), 1 << 16), kWholeMemberLimit));
  }
  whole_ = false;  // zlib reads this member and the rest, with its messages
  member_ended_ = true;
  return false;
}
#else
bool InputSource::InflateNextMember(char*, size_t, size_t&) {
  whole_ = false;
  return false;
}
#endif

size_t InputSource::NextSize() {
  if (!format_known_) DetectFormat();
  return whole_ && text_pos_ == text_end_ ? std::max(read_size_, member_guess_) : read_size_;
}

size_t InputSource::Produce(char* dest, size_t capacity) {
  if (at_end_ || (!format_known_ && !DetectFormat())) return 0;
  for (;;) {
    if (text_pos_ < text_end_) {
      const size_t count = std::min(capacity, text_end_ - text_pos_);
      memcpy(dest, text_.data() + text_pos_, count);
      text_pos_ += count;
      return count;
    }
    if (!error_.empty()) return 0;
    if (!gzip_) return ReadPlain(dest, capacity);
    if (bgzf_) {
      BgzfGroup group;
      if (!TakeBgzf(group, 1)) {
        if (bgzf_) return 0;  // the end of the input or the range, or an error
        continue;             // not a BGZF member: zlib reads on
      }
      if (text_.size() < group.text_size) text_.resize(group.text_size);
      const size_t failed = InflateBgzfGroup(group, text_.data());
      if (failed < group.blocks.size()) {
        Unread(group, failed, {});
        continue;
      }
      text_pos_ = 0;
      text_end_ = group.text_size;
      text_offset_ -= group.text_size;  // counted again as it is given
    } else if (fast_) {
      const size_t got = InflateFast(dest, capacity);
      if (got > 0 || fast_ || !error_.empty()) return got;
      // zlib reads on from the member's start
    } else if (whole_) {
      size_t direct = 0;
      if (!InflateNextMember(dest, capacity, direct)) {
        if (whole_) return 0;  // the end of the input, or an error
        continue;              // zlib reads on
      }
      if (direct > 0) return direct;
    } else {
      return Inflate(dest, capacity);
    }
  }
}

size_t InputSource::Read(char* dest, size_t capacity) {
  for (;;) {
    size_t wanted = capacity;
    if (ranged_) {
      if (text_offset_ >= range_.end) return 0;
      wanted = static_cast<size_t>(std::min<unsigned long long>(wanted, range_.end - text_offset_));
    }
    const size_t got = Produce(dest, wanted);
    const unsigned long long offset = text_offset_;
    text_offset_ += got;
    if (got == 0) {
      at_end_ = true;
      return 0;
    }
    size_t from = 0, to = got;
    Clip(offset, got, from, to);
    if (from < to) {
      memmove(dest, dest + from, to - from);
      return to - from;
    }
  }
}

void InputSource::Clip(unsigned long long offset, size_t size, size_t& from, size_t& to) const {
  from = 0;
  to = size;
  if (!ranged_) return;
  const unsigned long long end = offset + size;
  if (offset < range_.begin) from = static_cast<size_t>(std::min(end, range_.begin) - offset);
  if (end > range_.end) to = static_cast<size_t>(std::max(offset, range_.end) - offset);
  to = std::max(from, to);
}

bool InputSource::TakeBgzf(BgzfGroup& group, size_t text_size) {
  group = BgzfGroup{};
  if (!format_known_ && !DetectFormat()) return false;
  group.file_offset = raw_offset_ + raw_pos_;
  group.text_offset = text_offset_;
  while (bgzf_ && error_.empty() && group.text_size < text_size &&
         !(ranged_ && text_offset_ >= range_.end)) {
    if (!ReadRaw(kMemberHeader)) return false;
    const unsigned char* member = raw_.data() + raw_pos_;
    size_t unread = raw_end_ - raw_pos_;
    if (unread == 0) {
      at_end_ = true;
      break;
    }
    size_t size = 0;
    if (unread >= kMemberHeader && member[3] == 4 &&
        ReadRaw(kMemberHeader + (member[10] | member[11] << 8))) {
      member = raw_.data() + raw_pos_;
      unread = raw_end_ - raw_pos_;
      size = BgzfMemberSize(member, unread);
    }
    if (size == 0 || !ReadRaw(size) || raw_end_ - raw_pos_ < size) {
      bgzf_ = false;  // not a whole BGZF member: zlib reads on from here
      break;
    }
    const size_t start = group.bytes.size();
    group.bytes.insert(group.bytes.end(), raw_.data() + raw_pos_, raw_.data() + raw_pos_ + size);
    if (!AddBgzfBlock(group, start, size)) {
      group.bytes.resize(start);
      bgzf_ = false;
      break;
    }
    raw_pos_ += size;
    member_offset_ = raw_offset_ + raw_pos_;
    text_offset_ += group.blocks.back().text_size;
  }
  return !group.blocks.empty();
}

void InputSource::Unread(const BgzfGroup& group, size_t failed,
                         const std::vector<const BgzfGroup*>& later) {
  const BgzfBlock& block = group.blocks[failed];
  std::vector<unsigned char, Unzeroed<unsigned char>> bytes(group.bytes.begin() + block.start,
                                                            group.bytes.end());
  for (const BgzfGroup* other : later) {
    bytes.insert(bytes.end(), other->bytes.begin(), other->bytes.end());
  }
  bytes.insert(bytes.end(), raw_.begin() + raw_pos_, raw_.begin() + raw_end_);
  raw_offset_ = group.file_offset + block.start;
  raw_end_ = bytes.size();
  raw_pos_ = 0;
  if (bytes.size() < 2) bytes.resize(2);
  raw_ = std::move(bytes);
  text_offset_ = group.text_offset;
  for (size_t i = 0; i < failed; i++) text_offset_ += group.blocks[i].text_size;
  bgzf_ = false;
  member_ended_ = true;
  at_end_ = false;
}

}  // namespace talvo::proteome
