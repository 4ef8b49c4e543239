// Shards that read only their part of an input: beside a FASTA file, the index
// that `samtools faidx` writes (PATH.fai; PATH.gzi too for a BGZF file) gives
// each entry's name, residue count, and the offset and line layout of its
// sequence, so a shard can find its own entries without reading the others.
//
// Shard I of N takes the entries whose sequence begins in the I-th N-th of the
// text (by uncompressed byte offset, so that parts are about equally long),
// one contiguous part: from the end of the sequence before its first entry to
// the end of its last entry's sequence (shard 0 from the start of the text,
// the last shard to its end). Its entries keep their numbers in the whole
// input (their line in the .fai), so their seeds and rows are those of a
// single run.
//
// The index must match its file: the text at both ends of the part (after
// blank lines) must begin the entry the index puts there, every entry of the
// part must bear the index's name, in order, and the text must reach the
// index's last entry. samtools faidx leaves out entries without residues and
// repeated names; a file with such entries does not match its index.
#pragma once
#include <optional>
#include <string>
#include <vector>

#include "proteome/ordered_pipeline.h"

namespace talvo::proteome {

// What an indexed shard reads of an input, and its fingerprints.
struct IndexedInput {
  InputPart part;
  // "index": the file's size and the index's own, with a CRC-32 of the end of
  // the .fai and of the whole .gzi; every shard of the input records the
  // same.
  std::string index_fingerprint;
};

// The fingerprint kinds of an indexed shard.
extern const char kIndexFingerprint[];  // "index"
extern const char kPartFingerprint[];   // "part": what the shard read
// "<crc32>\t<bytes>\t<first byte>\t<first entry>\t<entries>".
std::string PartFingerprintValue(unsigned long crc32, unsigned long long bytes,
                                 const InputPart& part);
// The fields of a part fingerprint; false when it is not one.
struct PartFields {
  unsigned long long bytes = 0, begin = 0;
  long first_entry = 0, entries = 0;
};
bool ReadPartFingerprint(const std::string& value, PartFields& fields);

// Shard `index` of `count` of `path`, when an index lies beside it; nothing
// for standard input or a file without one (it is read whole). Throws
// talvo::Error when the index cannot serve: it is not an index, it does not
// match the file, or the file is gzip-compressed without a .gzi. A build
// without htslib does not use a BGZF file's index: `warning` says so, and the
// file is read whole.
std::optional<IndexedInput> FindIndexedPart(const std::string& path, long index, long count,
                                            std::string& warning);

}  // namespace talvo::proteome
