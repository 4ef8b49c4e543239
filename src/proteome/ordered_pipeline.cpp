#include "proteome/ordered_pipeline.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

namespace talvo::proteome {
namespace {

// A mask compares its q-values with `below` alone. A p-value at or above it
// can neither pass nor change the ranks of those below it, nor, as 1, the
// q-values that pass: such values count as one, so that the writer's count
// of the mask's p-values stays small.
void CountAsOneFrom(double below, std::vector<std::pair<double, uint32_t>>& tally) {
  uint64_t at_or_above = 0;
  size_t kept = 0;
  for (const auto& [p, times] : tally) {
    if (p < below) {
      tally[kept++] = {p, times};
    } else {
      at_or_above += times;
    }
  }
  tally.resize(kept);
  for (; at_or_above > 0; at_or_above -= std::min<uint64_t>(at_or_above, UINT32_MAX)) {
    tally.emplace_back(1.0, static_cast<uint32_t>(std::min<uint64_t>(at_or_above, UINT32_MAX)));
  }
}

}  // namespace

void AnalyseMask(const talvo::Discovery& mask, double below, const ProteinEntry& entry,
                 talvo::Workspace& workspace, std::vector<talvo::Result>& results,
                 internal::DiscoveryReport& report) {
  report.below = below;
  report.segments_only = true;
  internal::DiscoveryAccess::Analyse(mask, entry.residues, entry.number, workspace, results,
                                     report);
  CountAsOneFrom(below, report.tally);
}

Analysis Analysis::Owning(const talvo::Analyser& single) {
  Analysis analysis(single);
  analysis.owned = std::make_shared<const talvo::Analyser>(single);
  analysis.analyser = analysis.owned.get();
  return analysis;
}

Analysis Analysis::Owning(const talvo::Discovery& classes, double below,
                          const talvo::Discovery* mask, double mask_below) {
  Analysis analysis(classes, below);
  analysis.owned_discovery = std::make_shared<const talvo::Discovery>(classes);
  analysis.discovery = analysis.owned_discovery.get();
  if (mask != nullptr) {
    analysis.owned_mask = std::make_shared<const talvo::Discovery>(*mask);
    analysis.mask = analysis.owned_mask.get();
    analysis.mask_below = mask_below;
  }
  return analysis;
}

void Analysis::Run(AnalysedEntry& item) const {
  if (discovery != nullptr) {
    // Each analysing thread keeps its working memory from entry to entry.
    thread_local talvo::Workspace workspace;
    if (!item.discovery_report)
      item.discovery_report = std::make_shared<internal::DiscoveryReport>();
    item.discovery_report->below = below;
    internal::DiscoveryAccess::Analyse(*discovery, item.entry.residues, item.entry.number,
                                       workspace, item.classes, *item.discovery_report);
    if (mask != nullptr) {
      internal::DiscoveryReport& report = *item.discovery_report;
      internal::DiscoveryReport mask_report;
      AnalyseMask(*mask, mask_below, item.entry, workspace, report.mask_results, mask_report);
      report.mask_tally = std::move(mask_report.tally);
    }
  } else {
    item.result = analyser->Analyse(item.entry.residues, item.entry.number);
  }
}

namespace {

struct Batch {
  size_t index = 0;
  std::vector<AnalysedEntry> items;  // taken whole by Pull once done
  size_t size = 0;                   // of items, for the workers
  std::atomic<size_t> next_item{0};
  std::atomic<size_t> done_items{0};
};

}  // namespace

// The run's inputs, settings and sizes are its own copies, so that a pulled
// run outlives what it was made from.
class OrderedRun {
 public:
  OrderedRun(const OrderedInputs& inputs, const Analysis& analysis, int threads,
             const PipelineTuning& tuning, const BatchSink& sink, const std::atomic<bool>* cancel)
      : inputs_(inputs),
        analysis_(analysis),
        threads_(threads),
        tuning_(tuning),
        sink_(sink),
        cancel_(cancel) {}
  ~OrderedRun() { Join(); }
  void Run();
  // The pulled run: Start, then Pull until kEnd, then ThrowError.
  void Start();
  OrderedPipeline::Pulled Pull(std::vector<AnalysedEntry>& items, std::chrono::milliseconds wait);
  void ThrowError();
  bool Stop(const std::string& error);

 private:
  void Join();
  void ReadInputs();
  bool ReadInput(size_t input);
  bool Submit(std::unique_ptr<Batch>& batch);
  void Work();
  void AnalyseBatch(const std::shared_ptr<Batch>& batch);
  bool Hand(std::vector<AnalysedEntry>& items);
  bool Cancelled() const { return cancel_ != nullptr && cancel_->load(); }

  const OrderedInputs inputs_;
  const Analysis analysis_;
  const int threads_;
  const PipelineTuning tuning_;
  const BatchSink sink_;
  const std::atomic<bool>* cancel_;
  std::thread reader_;
  std::vector<std::thread> workers_;

  std::mutex mutex_;
  std::condition_variable work_ready_;
  std::condition_variable batch_done_;
  std::condition_variable space_free_;
  std::deque<std::shared_ptr<Batch>> open_;
  std::map<size_t, std::shared_ptr<Batch>> done_;
  size_t submitted_ = 0;
  size_t delivered_ = 0;
  bool input_done_ = false;
  bool stop_ = false;
  std::atomic<bool> stopping_{false};  // stop_, read by the workers without the lock
  std::string error_;
  std::exception_ptr sink_error_;  // of the sink or the delivery, thrown once the threads end
};

// The first error wins; an empty one stops the run without being an error.
bool OrderedRun::Stop(const std::string& error) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!stop_) error_ = error;
  stop_ = true;
  stopping_.store(true);
  work_ready_.notify_all();
  batch_done_.notify_all();
  space_free_.notify_all();
  return false;
}

// Hands a batch to the sink; false once the run is to stop, the sink's
// exception kept for Run to throw.
bool OrderedRun::Hand(std::vector<AnalysedEntry>& items) {
  try {
    if (!Cancelled() && sink_(items)) return true;
  } catch (...) {
    sink_error_ = std::current_exception();
  }
  return Stop("");
}

// Batches never span two inputs; each closes on a residue budget or an entry
// cap, whichever comes first.
bool OrderedRun::ReadInput(size_t input) {
  FastaStream stream;
  if (!stream.Open(inputs_.paths[input], tuning_.read_buffer)) return Stop(stream.error());
  auto batch = std::make_unique<Batch>();
  size_t batch_residues = 0;
  ProteinEntry entry;
  while (stream.Next(entry)) {
    for (const std::string& warning : stream.TakeWarnings()) {
      if (inputs_.warn) inputs_.warn(warning);
    }
    if ((entry.number - 1) % inputs_.shard_count != inputs_.shard_index) continue;
    batch_residues += entry.residues.size();
    batch->items.push_back(AnalysedEntry{input, std::move(entry), talvo::Result{}, {}, nullptr});
    if (batch_residues >= tuning_.batch_residues || batch->items.size() >= tuning_.batch_entries) {
      if (!Submit(batch)) return false;
      batch_residues = 0;
    }
  }
  if (!stream.error().empty() || !stream.Close()) return Stop(stream.error());
#ifndef TALVO_NO_ZLIB
  if (inputs_.read_whole) inputs_.read_whole(input, stream.content_crc32(), stream.content_bytes());
#endif
  return batch->items.empty() || Submit(batch);
}

void OrderedRun::ReadInputs() {
  try {
    for (size_t input = 0; input < inputs_.paths.size(); input++) {
      if (!ReadInput(input)) break;
    }
  } catch (const std::exception& e) {
    Stop(std::string("reading input: ") + e.what());
  }
  std::lock_guard<std::mutex> lock(mutex_);
  input_done_ = true;
  work_ready_.notify_all();
  batch_done_.notify_all();
}

// Without threads the batch is analysed and delivered at once; with them it
// waits while the reorder buffer is full, so memory stays bounded.
bool OrderedRun::Submit(std::unique_ptr<Batch>& batch) {
  if (threads_ == 0) {
    for (AnalysedEntry& item : batch->items) {
      if (Cancelled()) return Stop("");
      analysis_.Run(item);
    }
    const bool go_on = Hand(batch->items);
    batch = std::make_unique<Batch>();
    return go_on;
  }
  const size_t in_flight = std::max<size_t>(2, 2 * static_cast<size_t>(threads_));
  std::unique_lock<std::mutex> lock(mutex_);
  space_free_.wait(lock, [&] { return stop_ || submitted_ - delivered_ < in_flight; });
  if (stop_) return false;
  batch->index = submitted_++;
  batch->size = batch->items.size();
  open_.push_back(std::shared_ptr<Batch>(batch.release()));
  batch = std::make_unique<Batch>();
  work_ready_.notify_all();
  return true;
}

// Entries are taken one at a time from a shared counter: protein lengths
// differ by orders of magnitude, so fixed slices would leave threads idle.
// A stopped run takes no further entry (a batch can hold minutes of work).
void OrderedRun::AnalyseBatch(const std::shared_ptr<Batch>& batch) {
  const size_t size = batch->size;
  for (size_t i = batch->next_item.fetch_add(1); i < size && !stopping_.load();
       i = batch->next_item.fetch_add(1)) {
    if (Cancelled()) {
      Stop("");
      return;
    }
    AnalysedEntry& item = batch->items[i];
    analysis_.Run(item);
    if (batch->done_items.fetch_add(1) + 1 == size) {
      std::lock_guard<std::mutex> lock(mutex_);
      done_[batch->index] = batch;
      batch_done_.notify_all();
    }
  }
}

void OrderedRun::Work() {
  try {
    for (;;) {
      std::shared_ptr<Batch> batch;
      {
        std::unique_lock<std::mutex> lock(mutex_);
        work_ready_.wait(lock, [&] { return stop_ || !open_.empty() || input_done_; });
        if (stop_ || open_.empty()) return;
        batch = open_.front();
        if (batch->next_item.load() >= batch->size) {
          open_.pop_front();
          continue;
        }
      }
      AnalyseBatch(batch);
    }
  } catch (const std::exception& e) {
    Stop(std::string("analysis: ") + e.what());
  }
}

// The next batch from the reorder buffer, in index order: kEnd once every
// batch was taken or the run stopped (the error, if any, kept for
// ThrowError).
OrderedPipeline::Pulled OrderedRun::Pull(std::vector<AnalysedEntry>& items,
                                         std::chrono::milliseconds wait) {
  std::shared_ptr<Batch> batch;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    const bool ready = batch_done_.wait_for(lock, wait, [&] {
      return stop_ || Cancelled() || done_.count(delivered_) != 0 ||
             (input_done_ && delivered_ == submitted_);
    });
    if (!ready) return OrderedPipeline::Pulled::kWaiting;
    auto it = done_.find(delivered_);
    if (stop_ || Cancelled() || it == done_.end()) return OrderedPipeline::Pulled::kEnd;
    batch = it->second;
    done_.erase(it);
    delivered_++;
    space_free_.notify_all();
  }
  items = std::move(batch->items);
  return OrderedPipeline::Pulled::kBatch;
}

void OrderedRun::Start() {
  reader_ = std::thread(&OrderedRun::ReadInputs, this);
  for (int i = 0; i < threads_; i++) workers_.emplace_back(&OrderedRun::Work, this);
}

void OrderedRun::Join() {
  if (!reader_.joinable()) return;
  Stop("");
  reader_.join();
  for (std::thread& worker : workers_) worker.join();
  workers_.clear();
}

// After the threads have ended: the first error, if there was one.
void OrderedRun::ThrowError() {
  Join();
  if (!error_.empty()) throw talvo::Error(std::exchange(error_, ""));
}

void OrderedRun::Run() {
  if (threads_ == 0) {
    ReadInputs();
  } else {
    Start();
    try {
      constexpr auto kForever = std::chrono::hours(24 * 365);
      std::vector<AnalysedEntry> items;
      while (Pull(items, kForever) == OrderedPipeline::Pulled::kBatch && Hand(items)) {
      }
    } catch (...) {  // the threads end before anything leaves
      sink_error_ = std::current_exception();
    }
    Join();
  }
  if (sink_error_) std::rethrow_exception(sink_error_);
  ThrowError();
}

void RunOrdered(const OrderedInputs& inputs, const Analysis& analysis, int threads,
                const PipelineTuning& tuning, const BatchSink& sink,
                const std::atomic<bool>* cancel) {
  OrderedRun run(inputs, analysis, threads, tuning, sink, cancel);
  run.Run();
}

OrderedPipeline::OrderedPipeline(const OrderedInputs& inputs, const talvo::Analyser& analyser,
                                 int threads, const PipelineTuning& tuning)
    : run_(std::make_unique<OrderedRun>(inputs, Analysis::Owning(analyser), threads, tuning,
                                        nullptr, nullptr)) {
  if (threads < 1) throw talvo::Error("a pulled run needs at least one analysis thread");
  run_->Start();
}

OrderedPipeline::OrderedPipeline(const OrderedInputs& inputs, const Analysis& owning, int threads,
                                 const PipelineTuning& tuning)
    : run_(std::make_unique<OrderedRun>(inputs, owning, threads, tuning, nullptr, nullptr)) {
  if (threads < 1) throw talvo::Error("a pulled run needs at least one analysis thread");
  run_->Start();
}

OrderedPipeline::~OrderedPipeline() = default;

OrderedPipeline::Pulled OrderedPipeline::Next(std::vector<AnalysedEntry>& batch,
                                              std::chrono::milliseconds wait) {
  const Pulled pulled = run_->Pull(batch, wait);
  if (pulled == Pulled::kEnd) run_->ThrowError();
  return pulled;
}

void OrderedPipeline::Cancel() {
  run_->Stop("");
}

}  // namespace talvo::proteome
