// The ordered parallel pipeline: FASTA entries read from the inputs, analysed
// on N threads, and handed on in input order, so that what is done with them
// never depends on the thread count. Batches in flight are bounded, so memory
// stays bounded however long the inputs are.
#pragma once
#include <atomic>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "api/discovery_report.h"
#include "proteome/fasta_stream.h"
#include "talvo/talvo.h"

namespace talvo::proteome {

struct AnalysedEntry;

// What shapes the run but never its output: sizes, which tests shrink, and a
// callback with every batch once it is written (how the page follows a run).
struct PipelineTuning {
  size_t read_buffer = FastaStream::kDefaultBuffer;
  size_t batch_residues = 64 * 1024;
  size_t batch_entries = 2048;
  std::function<void(const talvo::Settings&, const std::vector<AnalysedEntry>&)> batch_written;
};

struct AnalysedEntry {
  size_t input = 0;  // index into the inputs
  ProteinEntry entry;
  talvo::Result result;
  std::vector<talvo::Result> classes;  // with a discovery: each class's result, not `result`
  internal::DiscoveryReport report;    // with a discovery: its numbers and p-values
  // With a mask's own discovery: its results and report, as above.
  std::vector<talvo::Result> mask_classes;
  internal::DiscoveryReport mask_report;
};

// What is done with each entry: the single analysis, or discovery over a
// class set.
struct Analysis {
  Analysis(const talvo::Analyser& single) : analyser(&single) {}  // NOLINT: converts on purpose
  // Keeps only the segments with p below `below` (2: every one); the others
  // are counted.
  // With a mask (the classes at the mask's linkage distance), each entry is
  // analysed by it too, keeping the segments below mask_below.
  Analysis(const talvo::Discovery& classes, double below, const talvo::Discovery* mask = nullptr,
           double mask_below = 2.0)
      : discovery(&classes), below(below), mask(mask), mask_below(mask_below) {}
  void Run(AnalysedEntry& item) const;
  const talvo::Analyser* analyser = nullptr;
  const talvo::Discovery* discovery = nullptr;
  double below = 2.0;
  const talvo::Discovery* mask = nullptr;
  double mask_below = 2.0;
};

struct OrderedInputs {
  std::vector<std::string> paths;  // "-" reads standard input
  long shard_index = 0;            // only entries whose (number - 1) mod count is index
  long shard_count = 1;
  // Called on the reader thread with a warning about an input that does not
  // stop the run: it looks like nucleotides (at most once per input), or a
  // sequence line holds a '>' (a few per input, then their count).
  std::function<void(const std::string&)> warn;
  // Called on the reader thread for each input read to its end without an
  // error, with zlib's CRC-32 of its (decompressed) bytes and their count;
  // not in builds without zlib.
  std::function<void(size_t input, unsigned long crc32, unsigned long long bytes)> read_whole =
      nullptr;
};

// Receives the analysed entries batch by batch, in input order, always on the
// calling thread of RunOrdered. Returns false to stop the run; an exception
// stops it too, and RunOrdered throws it once the pipeline has drained.
using BatchSink = std::function<bool(std::vector<AnalysedEntry>& batch)>;

// Runs the inputs through the analysis on `threads` analysis threads (0: all
// on the calling thread, for builds without threads). Returns when every
// input was read to its end or the sink stopped the run; throws the sink's
// exception, or talvo::Error with the first error's message (an input that
// cannot be opened or read, a broken gzip stream). Setting *cancel (from any
// thread) stops the run too: no entry is begun after it and the sink is not
// called again, so a consumer that gives up waits for one entry per thread,
// not for a whole batch.
void RunOrdered(const OrderedInputs& inputs, const Analysis& analysis, int threads,
                const PipelineTuning& tuning, const BatchSink& sink,
                const std::atomic<bool>* cancel = nullptr);

}  // namespace talvo::proteome
