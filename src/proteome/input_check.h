// Every input is looked at before the run creates anything, so that a bad
// third input costs neither the work on the first two nor their outputs.
#pragma once
#include <string>

namespace talvo::proteome {

// Throws, saying why, when `path` cannot be read as FASTA, in the reader's words: it is
// missing, unreadable or a directory, or its first 64 KiB (decompressed when
// gzip) hold a binary byte, fail to decompress or are none at all. Pipes and
// devices are only checked for read permission: reading them would consume
// what the run is to read. So is standard input ("-"), unless it is a regular
// file, whose first bytes are read without moving its offset.
void CheckInput(const std::string& path);

}  // namespace talvo::proteome
