#include "proteome/bgzf_blocks.h"

#include <cstring>
#include <memory>

#ifdef TALVO_HAVE_LIBDEFLATE
#include <libdeflate.h>
#elif !defined(TALVO_NO_ZLIB)
#include <zlib.h>
#endif

namespace talvo::proteome {

namespace {

constexpr size_t kFixedHeader = 12;  // up to and with XLEN
constexpr size_t kTrailer = 8;       // CRC-32 and ISIZE

uint32_t Little32(const unsigned char* p) {
  return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

unsigned Little16(const unsigned char* p) {
  return p[0] | p[1] << 8;
}

#ifdef TALVO_HAVE_LIBDEFLATE
struct FreeDecompressor {
  void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
};

// One per thread, made on first use: libdeflate's state is reused, not shared.
libdeflate_decompressor* Decompressor() {
  thread_local std::unique_ptr<libdeflate_decompressor, FreeDecompressor> decompressor(
      libdeflate_alloc_decompressor());
  return decompressor.get();
}

bool InflateBlock(const unsigned char* data, size_t size, char* text, size_t text_size,
                  uint32_t crc) {
  libdeflate_decompressor* d = Decompressor();
  size_t used = 0, produced = 0;
  return d != nullptr &&
         libdeflate_deflate_decompress_ex(d, data, size, text, text_size, &used, &produced) ==
             LIBDEFLATE_SUCCESS &&
         used == size && produced == text_size && libdeflate_crc32(0, text, text_size) == crc;
}
#elif !defined(TALVO_NO_ZLIB)
bool InflateBlock(const unsigned char* data, size_t size, char* text, size_t text_size,
                  uint32_t crc) {
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) return false;  // raw deflate
  z.next_in = const_cast<unsigned char*>(data);
  z.avail_in = static_cast<uInt>(size);
  z.next_out = reinterpret_cast<Bytef*>(text);
  z.avail_out = static_cast<uInt>(text_size);
  const int status = inflate(&z, Z_FINISH);
  const bool whole = status == Z_STREAM_END && z.avail_in == 0 && z.avail_out == 0;
  inflateEnd(&z);
  return whole &&
         crc32(0, reinterpret_cast<const Bytef*>(text), static_cast<uInt>(text_size)) == crc;
}
#else
bool InflateBlock(const unsigned char*, size_t, char*, size_t, uint32_t) {
  return false;  // builds without zlib read no gzip at all
}
#endif

}  // namespace

// ID1 ID2 CM=8 FLG=FEXTRA (only), then XLEN and subfields, one of them
// "BC" of two bytes holding BSIZE, the member's size less one.
size_t BgzfMemberSize(const unsigned char* bytes, size_t available) {
  if (available < kFixedHeader || bytes[0] != 0x1f || bytes[1] != 0x8b || bytes[2] != 8 ||
      bytes[3] != 4) {
    return 0;
  }
  const size_t extra = Little16(bytes + 10);
  if (available < kFixedHeader + extra) return 0;
  size_t size = 0;
  for (size_t at = 0; at + 4 <= extra;) {
    const unsigned char* field = bytes + kFixedHeader + at;
    const size_t length = Little16(field + 2);
    if (field[0] == 'B' && field[1] == 'C' && length == 2 && at + 6 <= extra) {
      size = Little16(field + 4) + 1;
    }
    at += 4 + length;
  }
  return size >= kFixedHeader + extra + kTrailer ? size : 0;
}

bool AddBgzfBlock(BgzfGroup& group, size_t start, size_t size) {
  const unsigned char* member = group.bytes.data() + start;
  BgzfBlock block;
  block.start = start;
  block.data = start + kFixedHeader + Little16(member + 10);
  block.data_size = start + size - kTrailer - block.data;
  block.crc32 = Little32(member + size - kTrailer);
  block.text_size = Little32(member + size - 4);
  if (block.text_size > kBgzfMaxBlock) return false;
  group.blocks.push_back(block);
  group.text_size += block.text_size;
  return true;
}

size_t InflateBgzfGroup(const BgzfGroup& group, char* text) {
  for (size_t i = 0; i < group.blocks.size(); i++) {
    const BgzfBlock& block = group.blocks[i];
    if (!InflateBlock(group.bytes.data() + block.data, block.data_size, text, block.text_size,
                      block.crc32)) {
      return i;
    }
    text += block.text_size;
  }
  return group.blocks.size();
}

}  // namespace talvo::proteome
