// The text of one input, in order: plain text as it is, gzip inflated member
// after member, or BGZF members handed out whole (TakeBgzf) so that other
// threads inflate them. Read gives the text on the calling thread whatever
// the format.
//
// gzip is streamed by ISA-L where it is there (more than twice as fast as
// zlib); otherwise by zlib as a stream, or, when the whole file is small
// (kWholeGzipLimit) and libdeflate is there, a member at a time in one call.
// Every fault of the gzip data (a damaged or cut-short member, whatever
// follows the last complete member) ends the text with zlib's reading of it
// and the member's offset: a member that a faster path cannot inflate is read
// again by zlib from its start, leaving out the text already given. A pipe
// cannot be read again: the first kKeptMemberLimit bytes of each member are
// kept for that, and a fault past them is told in zlib's words by ISA-L.
//
// An indexed shard reads a range of the text: the reading starts where the
// index says (a byte of a plain file, a BGZF member) and stops at the range's
// end.
#pragma once
#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "proteome/bgzf_blocks.h"
#include "talvo/proteome.h"

struct z_stream_s;
struct libdeflate_decompressor;
struct inflate_state;

namespace talvo::proteome {

// Bytes that are written before they are read, and so need no zeroing (the
// large ones on huge pages).
template <class T>
struct Unzeroed : talvo::internal::LargeAllocator<T> {
  template <class U>
  struct rebind {
    using other = Unzeroed<U>;
  };
  template <class U, class... Args>
  void construct(U* at, Args&&... args) {
    if constexpr (sizeof...(Args) == 0) {
      ::new (static_cast<void*>(at)) U;
    } else {
      ::new (static_cast<void*>(at)) U(std::forward<Args>(args)...);
    }
  }
};

// A part of an input's text, for an indexed shard.
struct TextRange {
  unsigned long long begin = 0;    // offset in the (decompressed) text
  unsigned long long end = ~0ULL;  // past the last byte; ~0: to the end of the input
  // BGZF: the member holding `begin`, and the offset of its text.
  bool bgzf = false;
  unsigned long long member_offset = 0;
  unsigned long long member_text_offset = 0;
};

class InputSource {
 public:
  // Compressed files up to this size are inflated a member at a time in one
  // call (with libdeflate), larger ones as a stream.
  static constexpr unsigned long long kWholeGzipLimit = 32ULL << 20;
  // A gzip member from a pipe is kept, for zlib to read it again after a
  // fault, up to this many compressed bytes.
  static constexpr unsigned long long kKeptMemberLimit = 16ULL << 20;

  InputSource() = default;
  InputSource(const InputSource&) = delete;
  InputSource& operator=(const InputSource&) = delete;
  ~InputSource();

  // "-" reads standard input. read_size is the size of each read of the file
  // (and, for tests, of the pieces Read gives); whole_limit replaces
  // kWholeGzipLimit; without stream_fast, gzip is read as where ISA-L is
  // missing. False, with error(), when it cannot be opened.
  bool Open(const std::string& path, size_t read_size, const TextRange* range = nullptr,
            unsigned long long whole_limit = kWholeGzipLimit, bool stream_fast = true);
  // The size of room the next Read fills best: the read size, or a whole
  // gzip member's text when it is inflated in one call (straight into the
  // room, when the member is no longer than its file's last says).
  size_t NextSize();
  // Up to `capacity` bytes of text into dest; 0 at the end or after an error.
  size_t Read(char* dest, size_t capacity);
  // The next BGZF members, whole and still compressed, up to about
  // `text_size` bytes of text; false when the next bytes are not BGZF
  // members (Read takes them) or the range is read. The group's text is
  // clipped to the range with Clip.
  bool TakeBgzf(BgzfGroup& group, size_t text_size);
  // After a group failed to inflate: the group's bytes from its failing
  // member on (`failed`), and every group taken after it, go back to be read
  // by Read, which then gives zlib's message for the member.
  void Unread(const BgzfGroup& group, size_t failed, const std::vector<const BgzfGroup*>& later);
  // The part of the text [offset, offset + size) that lies in the range, as
  // offsets from `offset`.
  void Clip(unsigned long long offset, size_t size, size_t& from, size_t& to) const;

  // Replaces kKeptMemberLimit (for tests), before the first Read.
  void LimitKeptMember(unsigned long long bytes) { kept_member_limit_ = bytes; }

  bool decompressed() const { return gzip_; }
  const std::string& error() const { return error_; }
  const std::string& path() const { return path_; }
  // Closes the input; false with error() when it failed or could not be
  // closed.
  bool Close();

 private:
  size_t Produce(char* dest, size_t capacity);
  size_t ReadPlain(char* dest, size_t capacity);
  size_t Inflate(char* dest, size_t capacity);
  size_t InflateFast(char* dest, size_t capacity);
  void RereadMemberWithZlib();
  void FailLikeZlib(int status, bool cut_short);
  size_t InflateWhole(char* dest, size_t capacity);
  bool InflateNextMember(char* dest, size_t capacity, size_t& direct);
  bool ReadRaw(size_t wanted);
  bool ReadAllRaw();
  bool DetectFormat();
  bool NextMemberStarts();
  void Fail(const std::string& what);

  int fd_ = -1;
  std::string path_;
  size_t read_size_ = 0;
  TextRange range_;
  bool ranged_ = false;
  unsigned long long text_offset_ = 0;  // of the next byte of text produced
  // Bytes read from the file and not yet used: the first bytes, which tell
  // plain text from gzip, and compressed input.
  std::vector<unsigned char, Unzeroed<unsigned char>> raw_;
  size_t raw_pos_ = 0;
  size_t raw_end_ = 0;
  unsigned long long raw_offset_ = 0;     // of raw_[0] in the file
  unsigned long long member_offset_ = 0;  // where the gzip member being read starts
  bool raw_eof_ = false;
  bool format_known_ = false;
  bool gzip_ = false;
  bool bgzf_ = false;        // the next members are taken whole
  bool whole_ = false;       // members inflated in one call each
  size_t member_guess_ = 0;  // the text of the file's last member
  bool member_ended_ = false;
  bool fast_ = false;         // members streamed by ISA-L
  bool keep_member_ = false;  // a pipe: the member's bytes stay in raw_
  unsigned long long kept_member_limit_ = kKeptMemberLimit;
  size_t member_text_ = 0;  // text given of the member being read
  size_t skip_ = 0;         // text zlib inflates again that was given already
  z_stream_s* inflater_ = nullptr;
  inflate_state* fast_inflater_ = nullptr;
  libdeflate_decompressor* decompressor_ = nullptr;
  unsigned long long whole_limit_ = kWholeGzipLimit;
  bool stream_fast_ = true;
  // Text inflated but not yet given (BGZF and whole members on this thread).
  std::vector<char, Unzeroed<char>> text_;
  size_t text_pos_ = 0;
  size_t text_end_ = 0;
  bool at_end_ = false;
  std::string error_;
};

}  // namespace talvo::proteome
