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
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "api/discovery_report.h"
#include "proteome/fasta_chunks.h"
#include "proteome/input_source.h"
#include "talvo/proteome.h"
#include "talvo/talvo.h"

namespace talvo::proteome {

using talvo::AnalysedEntry;  // talvo/proteome.h

// What shapes the run but never its output: sizes, which tests shrink, and a
// callback with every batch once it is written (how the page follows a run).
struct PipelineTuning {
  size_t read_buffer = 128 * 1024;
  size_t batch_bytes = 128 * 1024;  // a chunk closes at the first entry after this much text
  size_t batch_entries = 2048;      // ... or before this many entries
  unsigned long long whole_gzip_limit = InputSource::kWholeGzipLimit;
  // The reader and analysis threads ask for huge pages for their heaps.
  bool huge_page_heaps = false;
  // With fewer analysis threads than cores, gzip is inflated as a stream on
  // the spare core while the analysis starts, not first in one faster call.
  bool stream_gzip_beside_spare_core = false;
  std::function<void(const talvo::Settings&, const std::vector<AnalysedEntry>&)> batch_written;
};

// The cores this process may run on (its CPU affinity where the system
// tells it), at least 1.
int AvailableCores();

// The part of an input that an indexed shard reads.
struct InputPart {
  TextRange range;
  long first_entry = 1;
  NameList names;                    // of its entries, from the index
  std::string index;                 // the index's name, for messages
  unsigned long long min_bytes = 0;  // the text must be at least this long
};

// The inputs (talvo/proteome.h: the paths, the shard of inputs read whole,
// and callbacks for the reader's warnings and each input read whole, both
// on the thread that takes the batches), and what talvo-proteome adds.
struct OrderedInputs : talvo::ProteomeInputs {
  // By input: the part an indexed shard reads; none (or a null entry) reads
  // the whole input.
  std::vector<const InputPart*> parts = {};
  // Called on the analysis thread numbered `worker` (from 0 to the thread
  // count - 1; 0 without threads) with each analysed entry, to do there what
  // the sink would otherwise do on its own thread (format its rows, say).
  std::function<void(AnalysedEntry& entry, size_t worker)> prepare = nullptr;
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
  // The same with its own copy of the analyser, for a run that outlives
  // the caller's.
  static Analysis Owning(const talvo::Analyser& single);
  static Analysis Owning(const talvo::Discovery& classes, double below,
                         const talvo::Discovery* mask = nullptr, double mask_below = 2.0);
  void Run(AnalysedEntry& item) const;
  std::shared_ptr<const talvo::Analyser> owned;
  std::shared_ptr<const talvo::Discovery> owned_discovery, owned_mask;
  const talvo::Analyser* analyser = nullptr;
  const talvo::Discovery* discovery = nullptr;
  double below = 2.0;
  const talvo::Discovery* mask = nullptr;
  double mask_below = 2.0;
};

// The analysis of an entry for the mask (the classes at the mask's linkage
// distance): the segments below `below` in results, and in report.tally every
// p-value, those at or above `below` counted as one (they cannot change which
// q-values are below it). No overall tests.
void AnalyseMask(const talvo::Discovery& mask, double below, const ProteinEntry& entry,
                 talvo::Workspace& workspace, std::vector<talvo::Result>& results,
                 internal::DiscoveryReport& report);

// Receives the analysed entries batch by batch, in input order, always on the
// calling thread of RunOrdered. Returns false to stop the run; an exception
// stops it too, and RunOrdered throws it once the pipeline has drained.
using BatchSink = std::function<bool(std::vector<AnalysedEntry>& batch)>;

// Runs the inputs through the analysis on `threads` analysis threads (0: all
// on the calling thread, for builds without threads). Returns when every
// input was read to its end or the sink stopped the run; throws the sink's
// exception, or talvo::Error with the first error in input order (an input
// that cannot be opened or read, a broken gzip stream, binary data, an index
// that does not match its file). Setting *cancel (from any thread) stops the
// run too: no entry is begun after it and the sink is not called again, so a
// consumer that gives up waits for one entry per thread, not for a whole
// batch.
void RunOrdered(const OrderedInputs& inputs, const Analysis& analysis, int threads,
                const PipelineTuning& tuning, const BatchSink& sink,
                const std::atomic<bool>* cancel = nullptr);

class OrderedRun;

// The same run, pulled: the reader and `threads` (at least 1) analysis
// threads start with the object and work ahead by a bounded number of
// batches, handed on by Next from the reorder buffer in input order.
class OrderedPipeline {
 public:
  OrderedPipeline(const OrderedInputs& inputs, const talvo::Analyser& analyser, int threads,
                  const PipelineTuning& tuning = PipelineTuning{});
  // Any analysis; an Owning one, since the run outlives the caller's objects.
  OrderedPipeline(const OrderedInputs& inputs, const Analysis& owning, int threads,
                  const PipelineTuning& tuning = PipelineTuning{});
  ~OrderedPipeline();  // cancels and waits for the threads
  OrderedPipeline(const OrderedPipeline&) = delete;
  OrderedPipeline& operator=(const OrderedPipeline&) = delete;

  using Pulled = talvo::ProteomeBatches::Pulled;
  // The next batch, waiting at most `wait`; kEnd at the end of the inputs or
  // once cancelled. Throws talvo::Error with the run's first error.
  Pulled Next(std::vector<AnalysedEntry>& batch, std::chrono::milliseconds wait);
  // From any thread: stops the run as RunOrdered's cancel flag does.
  void Cancel();

 private:
  std::unique_ptr<OrderedRun> run_;
};

}  // namespace talvo::proteome
