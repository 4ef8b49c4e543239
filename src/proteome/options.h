// What a talvo-proteome run writes and how, beside the analysis settings.
#pragma once
#include <string>
#include <vector>

#include "talvo/talvo.h"

namespace talvo::proteome {

enum class OutputFormat { kTsv, kGff3, kBed };

struct ProteomeOptions {
  std::vector<std::string> inputs;
  int threads = 1;
  OutputFormat format = OutputFormat::kTsv;  // of --output
  std::string output;                        // empty: standard output
  std::string gff3;                          // the other outputs; empty: none
  std::string bed;
  std::string summary;
  std::string masked;
  bool all_segments = false;
  long shard_index = 0;
  long shard_count = 1;
  bool sharded = false;  // --shard given: a TSV table says which shard it is
  bool progress = false;
  bool verbose = false;      // a line for every skipped entry
  bool description = false;  // TSV and summary end in the headers' descriptions
  // --discover: every protein analysed for every class of this set (the
  // outputs gain the class); empty for a run of one sub-alphabet.
  std::vector<talvo::ResidueClass> classes;
  // --discover --masked masks the segments found with this linkage distance.
  int mask_linkage = talvo::kDiscoveryMaskLinkage;
};

}  // namespace talvo::proteome
