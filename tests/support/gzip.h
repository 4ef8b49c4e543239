// Text deflated into one or more gzip members of about equal size, one after
// the other, as a multi-member .gz file holds them, or into BGZF members of
// at most `block` bytes of text each. For tests and the fuzz harnesses of the
// proteome reader.
#pragma once
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

inline std::string Gzip(const std::string& text, int members = 1) {
  std::string out;
  for (int m = 0; m < members; m++) {
    const size_t from = text.size() * m / members, to = text.size() * (m + 1) / members;
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY);
    std::string member(deflateBound(&z, to - from) + 32, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data() + from));
    z.avail_in = static_cast<uInt>(to - from);
    z.next_out = reinterpret_cast<Bytef*>(member.data());
    z.avail_out = static_cast<uInt>(member.size());
    if (deflate(&z, Z_FINISH) != Z_STREAM_END) abort();
    out.append(member, 0, z.total_out);
    deflateEnd(&z);
  }
  return out;
}

// BGZF: gzip members with the "BC" extra field holding each one's size less
// one, then the empty member that ends a BGZF file.
inline std::string Bgzf(const std::string& text, size_t block) {
  const auto little = [](uint32_t value, int bytes) {
    std::string field;
    for (int i = 0; i < bytes; i++) field += static_cast<char>(value >> (8 * i) & 0xff);
    return field;
  };
  std::string out;
  for (size_t from = 0, size = 1; from < text.size() || size > 0; from += size) {
    size = std::min(block, text.size() - from);
    z_stream z{};
    deflateInit2(&z, 6, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    std::string data(deflateBound(&z, size) + 8, '\0');
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data() + from));
    z.avail_in = static_cast<uInt>(size);
    z.next_out = reinterpret_cast<Bytef*>(data.data());
    z.avail_out = static_cast<uInt>(data.size());
    if (deflate(&z, Z_FINISH) != Z_STREAM_END) abort();
    data.resize(z.total_out);
    deflateEnd(&z);
    const uLong crc =
        crc32(0, reinterpret_cast<const Bytef*>(text.data() + from), static_cast<uInt>(size));
    out += std::string("\x1f\x8b\x08\x04\0\0\0\0\0\xff\x06\0BC\x02\0", 16) +
           little(static_cast<uint32_t>(data.size() + 25), 2) + data +
           little(static_cast<uint32_t>(crc), 4) + little(static_cast<uint32_t>(size), 4);
  }
  return out;
}
