// The run: a reader thread, analysis threads and one writer that keeps input
// order, so that the output is the same for every thread count.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "proteome/fasta_stream.h"
#include "proteome/formats.h"
#include "proteome/ordered_pipeline.h"
#include "talvo/talvo.h"

struct ProteomeOptions {
  std::vector<std::string> inputs;
  int threads = 1;
  OutputFormat format = OutputFormat::kTsv;
  std::string output;   // empty: standard output
  std::string summary;  // empty: none
  std::string masked;   // empty: none
  bool all_segments = false;
  long shard_index = 0;
  long shard_count = 1;
  bool sharded = false;  // --shard given: a TSV table says which shard it is
  bool progress = false;
  bool verbose = false;      // a line for every skipped entry
  bool description = false;  // TSV and summary end in the headers' descriptions
};

// Exit status when the reader of the output went away: 128 + SIGPIPE, as
// if the signal had ended the process.
constexpr int kPipeStatus = 141;

// Exit status of the run: 0, or 1 after a message on standard error. A
// closed standard output ends it quietly with 141, as SIGPIPE would.
int RunPipeline(const ProteomeOptions& options, const talvo::Analyser& analyser,
                const PipelineTuning& tuning);
