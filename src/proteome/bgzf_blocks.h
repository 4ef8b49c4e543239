// BGZF: gzip members of at most 64 KiB of text each, whose header says how
// long the member is (the "BC" extra field), so that the members of a file
// can be found without inflating them and inflated on any thread. The reader
// takes whole members from the file into groups; a worker inflates a group
// into its text. Anything that is not a whole, well-formed member is left to
// the ordinary gzip reader, which gives its exact message.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace talvo::proteome {

struct BgzfBlock {
  size_t start = 0;      // of the member in the group's bytes
  size_t data = 0;       // of its deflate data in the group's bytes
  size_t data_size = 0;  // bytes of deflate data
  uint32_t crc32 = 0;    // of its text, from the trailer
  uint32_t text_size = 0;
};

struct BgzfGroup {
  std::vector<unsigned char> bytes;  // whole members, as in the file
  std::vector<BgzfBlock> blocks;
  unsigned long long file_offset = 0;  // of bytes[0]
  unsigned long long text_offset = 0;  // of the first member's text in the decompressed stream
  size_t text_size = 0;                // of every member together
};

// Largest member: BSIZE is 16 bits.
constexpr size_t kBgzfMaxBlock = 65536;

// The size of the member that starts at `bytes` when it is a BGZF member
// whose header and size make sense (`available` bytes are there, at least
// 18); 0 when it is not one. The member itself may be cut short.
size_t BgzfMemberSize(const unsigned char* bytes, size_t available);
// Reads the member of `size` bytes at group.bytes[start] into group.blocks;
// false when its trailer or header contradict each other.
bool AddBgzfBlock(BgzfGroup& group, size_t start, size_t size);

// Inflates every member of the group into text (group.text_size bytes),
// checking each one's length and CRC-32. Returns the index of the first
// member that fails, or group.blocks.size() when all succeed.
size_t InflateBgzfGroup(const BgzfGroup& group, char* text);

}  // namespace talvo::proteome
