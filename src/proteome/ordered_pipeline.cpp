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

void Analysis::Run(AnalysedEntry& item) const {
  if (discovery != nullptr) {
    // Each analysing thread keeps its working memory from entry to entry.
    thread_local talvo::Workspace workspace;
    item.report.below = below;
    internal::DiscoveryAccess::Analyse(*discovery, item.entry.residues, item.entry.number,
                                       workspace, item.classes, item.report);
    if (mask != nullptr) {
      item.mask_report.below = mask_below;
      item.mask_report.segments_only = true;
      internal::DiscoveryAccess::Analyse(*mask, item.entry.residues, item.entry.number, workspace,
                                         item.mask_classes, item.mask_report);
      CountAsOneFrom(mask_below, item.mask_report.tally);
    }
  } else {
    item.result = analyser->Analyse(item.entry.residues, item.entry.number);
  }
}

namespace {

struct Batch {
  size_t index = 0;
  std::vector<AnalysedEntry> items;
  std::atomic<size_t> next_item{0};
  std::atomic<size_t> done_items{0};
};

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
  void Run();

 private:
  void ReadInputs();
  bool ReadInput(size_t input);
  bool Submit(std::unique_ptr<Batch>& batch);
  void Work();
  void AnalyseBatch(const std::shared_ptr<Batch>& batch);
  bool Deliver();
  bool Hand(std::vector<AnalysedEntry>& items);
  bool Stop(const std::string& error);
  bool Cancelled() const { return cancel_ != nullptr && cancel_->load(); }

  const OrderedInputs& inputs_;
  const Analysis& analysis_;
  const int threads_;
  const PipelineTuning& tuning_;
  const BatchSink& sink_;
  const std::atomic<bool>* cancel_;

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
    batch->items.push_back(AnalysedEntry{input, std::move(entry), talvo::Result{}, {}, {}, {}, {}});
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
  open_.push_back(std::shared_ptr<Batch>(batch.release()));
  batch = std::make_unique<Batch>();
  work_ready_.notify_all();
  return true;
}

// Entries are taken one at a time from a shared counter: protein lengths
// differ by orders of magnitude, so fixed slices would leave threads idle.
// A stopped run takes no further entry (a batch can hold minutes of work).
void OrderedRun::AnalyseBatch(const std::shared_ptr<Batch>& batch) {
  const size_t size = batch->items.size();
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
        if (batch->next_item.load() >= batch->items.size()) {
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

// Hands the batches to the sink in index order; false once the run stopped.
bool OrderedRun::Deliver() {
  for (;;) {
    std::shared_ptr<Batch> batch;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      batch_done_.wait(lock, [&] {
        return stop_ || done_.count(delivered_) != 0 || (input_done_ && delivered_ == submitted_);
      });
      if (stop_) return false;
      auto it = done_.find(delivered_);
      if (it == done_.end()) return true;
      batch = it->second;
      done_.erase(it);
      delivered_++;
      space_free_.notify_all();
    }
    if (!Hand(batch->items)) return false;
  }
}

void OrderedRun::Run() {
  if (threads_ == 0) {
    ReadInputs();
  } else {
    std::thread reader(&OrderedRun::ReadInputs, this);
    std::vector<std::thread> workers;
    for (int i = 0; i < threads_; i++) workers.emplace_back(&OrderedRun::Work, this);
    try {
      Deliver();
    } catch (...) {  // the threads end before anything leaves
      sink_error_ = std::current_exception();
      Stop("");
    }
    reader.join();
    for (std::thread& worker : workers) worker.join();
  }
  if (sink_error_) std::rethrow_exception(sink_error_);
  if (!error_.empty()) throw talvo::Error(error_);
}

}  // namespace

void RunOrdered(const OrderedInputs& inputs, const Analysis& analysis, int threads,
                const PipelineTuning& tuning, const BatchSink& sink,
                const std::atomic<bool>* cancel) {
  OrderedRun run(inputs, analysis, threads, tuning, sink, cancel);
  run.Run();
}

}  // namespace talvo::proteome
