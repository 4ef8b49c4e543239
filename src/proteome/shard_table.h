// What a table written with --shard carries so that --merge can refuse shards
// that do not make up one run, and write every output of that run from them.
//
// Above its column header, in '#' lines: the version, the analysis options,
// the class set of --discover, the seed of random sequences, the shard, --all, the inputs, a
// fingerprint of each input's content and the numbers of rows and proteins below the column header.
// The header is written when the run ends (the rows wait for their q-values), so the counts and the
// fingerprints are known then.
//
// Among the rows, before each protein's own: a "#protein" line with what the
// other outputs need of the protein (its overall test or why it was skipped,
// its header and its residues).
#pragma once
#include <map>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "proteome/fasta_stream.h"
#include "talvo/talvo.h"

namespace talvo::proteome {

// "#fingerprint\t<input number>\t<kind>\t<value>", below the input's
// "#input" line: the kind says what was taken, so that a reader that sees
// only part of an input can record a kind of its own. Fingerprints of one
// input compare kind by kind.
using Fingerprints = std::map<std::string, std::string>;  // kind: value

// zlib's CRC-32 of every decompressed byte of the input, and their count.
extern const char kCrc32Fingerprint[];  // "crc32"
std::string Crc32FingerprintValue(unsigned long crc32, unsigned long long bytes);

struct ShardHeader {
  std::string version;               // talvo::Version()
  std::string options;               // AnalysisOptionsText
  std::vector<std::string> classes;  // --discover: ClassText of each class; empty otherwise
  std::string seed;                  // only with random sequences
  long index = 0;
  long count = 0;
  bool all_segments = false;
  std::vector<std::string> inputs;
  std::vector<Fingerprints> fingerprints;  // by input; none past its end
  long rows = -1;                          // -1: not recorded (tables of earlier releases)
  long proteins = -1;
};

// "I/N", a shard: I from 0 to N - 1, N at least 1.
bool ReadShard(std::string_view text, long& index, long& count);

// Every setting that changes a table written with --all, in one canonical
// text: equal texts, equal tables. The seed is left out (see ShardHeader),
// and so are -M and the mask's case, which change only what is reported or
// masked.
std::string AnalysisOptionsText(const talvo::Settings& settings);
// The header lines, each with its newline.
std::string FormatShardHeader(const ShardHeader& header);
// Takes one '#' line (without its newline) into header; throws talvo::Error
// when the line is not one of the header's.
void ReadShardHeaderLine(const std::string& line, ShardHeader& header);
// True when every field a header must have was read (tables of earlier
// releases, without counts and fingerprints, pass: see rows).
bool IsCompleteShardHeader(const ShardHeader& header);

// One protein of a shard table: "#protein", input, entry, length, special,
// expected, direction, exact_tail (these four for each class with
// --discover), skipped (the fields as in the summary), header and residues.
constexpr std::string_view kProteinLineStart = "#protein\t";
void AppendProteinLine(std::string& out, const std::string& input, const ProteinEntry& entry,
                       std::span<const talvo::Result> results);
// A protein line without its newline into input, entry and results (skip,
// length and overall of each, as many as the line must hold); throws
// talvo::Error when it is not a well-formed one or holds values no protein
// has.
void ReadProteinLine(std::string_view line, std::string& input, ProteinEntry& entry,
                     std::span<talvo::Result> results);

// A class of a --discover table's "#class" lines: "<name>\t<letters>\t<linkage>",
// the linkage distance its rows were found with ("estimated" for -K).
std::string ClassText(const talvo::ResidueClass& added, const talvo::Settings& class_settings);

}  // namespace talvo::proteome
