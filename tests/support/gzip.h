// Text deflated into one or more gzip members of about equal size, one after
// the other, as a multi-member .gz file holds them. For tests and the fuzz
// harnesses of the proteome reader.
#pragma once
#include <zlib.h>

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
