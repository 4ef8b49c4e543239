// What a table written with --shard says about itself, in '#' lines above
// its column header, so that --merge can refuse shards that do not make up
// one run: the version, the analysis options, the seed of random sequences,
// the shard, --all, and the inputs.
#pragma once
#include <string>
#include <vector>

#include "talvo/talvo.h"

struct ShardHeader {
  std::string version;  // "1.1.0"
  std::string options;  // AnalysisOptionsText
  std::string seed;     // only with random sequences
  long index = 0;
  long count = 0;
  bool all_segments = false;
  std::vector<std::string> inputs;
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
// True when every field a header must have was read.
bool IsCompleteShardHeader(const ShardHeader& header);
