// The ordered parallel pipeline: FASTA entries read from the inputs, analysed
// on N threads, and handed on in input order, so that what is done with them
// never depends on the thread count. Batches in flight are bounded, so memory
// stays bounded however long the inputs are.
//
// The reader thread only reads: it cuts each input's text into chunks where
// entries begin and hands them on; the analysis threads parse a chunk into
// its entries, then share out their analysis entry by entry. BGZF members are
// inflated by the analysis threads too, and the reader cuts their text in
// order; plain gzip is inflated by the reader, since a deflate stream can only
// be read from its start. What the reading of an input finds (warnings, the
// first fault, the fingerprint) is put together in input order, on the
// calling thread, before the entries of each batch are handed on.
#pragma once
#include <atomic>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "proteome/fasta_chunks.h"
#include "proteome/input_source.h"
#include "talvo/talvo.h"

namespace talvo::proteome {

struct AnalysedEntry;

// What shapes the run but never its output: sizes, which tests shrink, and a
// callback with every batch once it is written (how the page follows a run).
struct PipelineTuning {
  size_t read_buffer = 128 * 1024;
  size_t batch_bytes = 128 * 1024;  // a chunk closes at the first entry after this much text
  size_t batch_entries = 2048;      // ... or before this many entries
  unsigned long long whole_gzip_limit = InputSource::kWholeGzipLimit;
  std::function<void(const talvo::Settings&, const std::vector<AnalysedEntry>&)> batch_written;
};

struct AnalysedEntry {
  size_t input = 0;  // index into the inputs
  ProteinEntry entry;
  talvo::Result result;
  std::vector<std::string> text;  // made by OrderedInputs::prepare
};

// The part of an input that an indexed shard reads.
struct InputPart {
  TextRange range;
  long first_entry = 1;
  NameList names;                    // of its entries, from the index
  std::string index;                 // the index's name, for messages
  unsigned long long min_bytes = 0;  // the text must be at least this long
};

struct OrderedInputs {
  std::vector<std::string> paths;  // "-" reads standard input
  long shard_index = 0;            // inputs read whole: only entries whose (number - 1) mod
  long shard_count = 1;            // count is index
  // Called on the calling thread of RunOrdered with a warning about an input
  // that does not stop the run (InputLedger's), before the entries that
  // follow it.
  std::function<void(const std::string&)> warn;
  // Called on the calling thread for each input (or part) read to its end
  // without an error, with zlib's CRC-32 of its (decompressed) bytes and
  // their count; not in builds without zlib.
  std::function<void(size_t input, unsigned long crc32, unsigned long long bytes)> read_whole =
      nullptr;
  // By input: the part an indexed shard reads; none (or a null entry) reads
  // the whole input.
  std::vector<const InputPart*> parts = {};
  // Called on the analysis thread numbered `worker` (from 0 to the thread
  // count - 1; 0 without threads) with each analysed entry, to do there what
  // the sink would otherwise do on its own thread (format its rows, say).
  std::function<void(AnalysedEntry& entry, size_t worker)> prepare = nullptr;
};

// Receives the analysed entries batch by batch, in input order, always on the
// calling thread of RunOrdered. Returns false to stop the run; an exception
// stops it too, and RunOrdered throws it once the pipeline has drained.
using BatchSink = std::function<bool(std::vector<AnalysedEntry>& batch)>;

// Runs the inputs through the analyser on `threads` analysis threads (0: all
// on the calling thread, for builds without threads). Returns when every
// input was read to its end or the sink stopped the run; throws the sink's
// exception, or talvo::Error with the first error in input order (an input
// that cannot be opened or read, a broken gzip stream, binary data, an index
// that does not match its file). Setting *cancel (from any thread) stops the
// run too: no entry is begun after it and the sink is not called again, so a
// consumer that gives up waits for one entry per thread, not for a whole
// batch.
void RunOrdered(const OrderedInputs& inputs, const talvo::Analyser& analyser, int threads,
                const PipelineTuning& tuning, const BatchSink& sink,
                const std::atomic<bool>* cancel = nullptr);

}  // namespace talvo::proteome
