// What a table written with --shard says about itself, in '#' lines above
// its column header, so that --merge can refuse shards that do not make up
// one run: the version, the analysis options, the seed of random sequences,
// the shard, --all, the inputs, a fingerprint of each input's content and
// the number of rows below the column header. The header is written when the
// run ends (the rows wait for their q-values), so the count and the
// fingerprints are known then.
#pragma once
#include <map>
#include <string>
#include <vector>

#include "talvo/talvo.h"

// "#fingerprint\t<input number>\t<kind>\t<value>", below the input's
// "#input" line: the kind says what was taken, so that a reader that sees
// only part of an input can record a kind of its own. Fingerprints of one
// input compare kind by kind.
using Fingerprints = std::map<std::string, std::string>;  // kind: value

// zlib's CRC-32 of every decompressed byte of the input, and their count.
extern const char kCrc32Fingerprint[];  // "crc32"
std::string Crc32FingerprintValue(unsigned long crc32, unsigned long long bytes);

struct ShardHeader {
  std::string version;  // "1.1.0"
  std::string options;  // AnalysisOptionsText
  std::string seed;     // only with random sequences
  long index = 0;
  long count = 0;
  bool all_segments = false;
  std::vector<std::string> inputs;
  std::vector<Fingerprints> fingerprints;  // by input; none past its end
  long rows = -1;                          // -1: not recorded (tables of earlier releases)
};

// The program's version, as the shard header records it.
std::string ProteomeVersionNumber();
// Every setting that changes a table written with --all, in one canonical
// text: equal texts, equal tables. The seed is left out (see ShardHeader),
// and so are -M and the mask's case, which change only what is reported or
// masked.
std::string AnalysisOptionsText(const talvo::Settings& settings);
// The header lines, each with its newline.
std::string FormatShardHeader(const ShardHeader& header);
// Takes one '#' line (without its newline) into header; false when the line
// is not one of the header's.
bool ReadShardHeaderLine(const std::string& line, ShardHeader& header);
// True when every field a header must have was read (tables of earlier
// releases, without rows and fingerprints, pass: see rows).
bool IsCompleteShardHeader(const ShardHeader& header);
