#include "proteome/pipeline.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "proteome/proteome_writer.h"

namespace {

struct WorkItem {
  ProteinEntry entry;
  talvo::Result result;
};

struct Batch {
  size_t index = 0;
  size_t input = 0;
  std::vector<WorkItem> items;
  std::atomic<size_t> next_item{0};
  std::atomic<size_t> done_items{0};
};

class Pipeline {
 public:
  Pipeline(const ProteomeOptions& options, const talvo::Analyser& analyser,
           const PipelineTuning& tuning)
      : options_(options),
        analyser_(analyser),
        tuning_(tuning),
        writer_(options, analyser.settings()) {}
  int Run();

 private:
  void ReadInputs();
  bool ReadInput(size_t input);
  bool Submit(std::unique_ptr<Batch>& batch, size_t input);
  void Work();
  void AnalyseBatch(const std::shared_ptr<Batch>& batch);
  bool WriteBatches();
  bool WriteBatch(const Batch& batch);
  bool Fail(const std::string& message);
  int Finish(bool ok);

  const ProteomeOptions& options_;
  const talvo::Analyser& analyser_;
  const PipelineTuning& tuning_;

  std::mutex mutex_;
  std::condition_variable work_ready_;
  std::condition_variable batch_done_;
  std::condition_variable space_free_;
  std::deque<std::shared_ptr<Batch>> open_;
  std::map<size_t, std::shared_ptr<Batch>> done_;
  size_t submitted_ = 0;
  size_t written_ = 0;
  bool input_done_ = false;
  bool stop_ = false;
  std::string error_;

  ProteomeWriter writer_;
};

bool Pipeline::Fail(const std::string& message) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (error_.empty()) error_ = message;
  stop_ = true;
  work_ready_.notify_all();
  batch_done_.notify_all();
  space_free_.notify_all();
  return false;
}

// Batches never span two inputs; each closes on a residue budget or an entry
// cap, whichever comes first.
bool Pipeline::ReadInput(size_t input) {
  FastaStream stream;
  if (!stream.Open(options_.inputs[input], tuning_.read_buffer)) return Fail(stream.error());
  auto batch = std::make_unique<Batch>();
  size_t batch_residues = 0;
  ProteinEntry entry;
  while (stream.Next(entry)) {
    if ((entry.number - 1) % options_.shard_count != options_.shard_index) continue;
    batch_residues += entry.residues.size();
    batch->items.push_back(WorkItem{std::move(entry), talvo::Result{}});
    if (batch_residues >= tuning_.batch_residues || batch->items.size() >= tuning_.batch_entries) {
      if (!Submit(batch, input)) return false;
      batch_residues = 0;
    }
  }
  if (!stream.error().empty() || !stream.Close()) return Fail(stream.error());
  return batch->items.empty() || Submit(batch, input);
}

void Pipeline::ReadInputs() {
  try {
    for (size_t input = 0; input < options_.inputs.size(); input++) {
      if (!ReadInput(input)) break;
    }
  } catch (const std::exception& e) {
    Fail(std::string("reading input: ") + e.what());
  }
  std::lock_guard<std::mutex> lock(mutex_);
  input_done_ = true;
  work_ready_.notify_all();
  batch_done_.notify_all();
}

// Waits while the reorder buffer is full, so memory stays bounded.
bool Pipeline::Submit(std::unique_ptr<Batch>& batch, size_t input) {
  const size_t in_flight = std::max<size_t>(2, 2 * static_cast<size_t>(options_.threads));
  std::unique_lock<std::mutex> lock(mutex_);
  space_free_.wait(lock, [&] { return stop_ || submitted_ - written_ < in_flight; });
  if (stop_) return false;
  batch->index = submitted_++;
  batch->input = input;
  open_.push_back(std::shared_ptr<Batch>(batch.release()));
  batch = std::make_unique<Batch>();
  work_ready_.notify_all();
  return true;
}

// Entries are taken one at a time from a shared counter: protein lengths
// differ by orders of magnitude, so fixed slices would leave threads idle.
void Pipeline::AnalyseBatch(const std::shared_ptr<Batch>& batch) {
  const size_t size = batch->items.size();
  for (size_t i = batch->next_item.fetch_add(1); i < size; i = batch->next_item.fetch_add(1)) {
    WorkItem& item = batch->items[i];
    item.result = analyser_.Analyse(item.entry.residues, item.entry.number);
    if (batch->done_items.fetch_add(1) + 1 == size) {
      std::lock_guard<std::mutex> lock(mutex_);
      done_[batch->index] = batch;
      batch_done_.notify_all();
    }
  }
}

void Pipeline::Work() {
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
    Fail(std::string("analysis: ") + e.what());
  }
}

bool Pipeline::WriteBatch(const Batch& batch) {
  for (const WorkItem& item : batch.items) {
    if (!writer_.Add(batch.input, item.entry, item.result)) return Fail(writer_.error());
  }
  return writer_.EndBatch() || Fail(writer_.error());
}

bool Pipeline::WriteBatches() {
  for (;;) {
    std::shared_ptr<Batch> batch;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      batch_done_.wait(lock, [&] {
        if (stop_) return true;
        auto it = done_.find(written_);
        if (it != done_.end()) return true;
        return input_done_ && written_ == submitted_;
      });
      if (stop_) return false;
      auto it = done_.find(written_);
      if (it == done_.end()) return true;
      batch = it->second;
      done_.erase(it);
      written_++;
      space_free_.notify_all();
    }
    if (!WriteBatch(*batch)) return false;
  }
}

int Pipeline::Finish(bool ok) {
  if (ok && !writer_.Finish()) ok = Fail(writer_.error());
  if (writer_.broken_pipe()) return kPipeStatus;
  if (!ok) {
    fprintf(stderr, "talvo-proteome: %s\n", error_.c_str());
    return 1;
  }
  writer_.PrintCounts();
  return 0;
}

int Pipeline::Run() {
  if (!writer_.Open()) return Finish(Fail(writer_.error()));
  std::thread reader(&Pipeline::ReadInputs, this);
  std::vector<std::thread> workers;
  for (int i = 0; i < options_.threads; i++) workers.emplace_back(&Pipeline::Work, this);
  bool ok = false;
  try {
    ok = WriteBatches();
  } catch (const std::exception& e) {
    ok = Fail(std::string("writing: ") + e.what());
  }
  reader.join();
  for (std::thread& worker : workers) worker.join();
  return Finish(ok && error_.empty());
}

}  // namespace

int RunPipeline(const ProteomeOptions& options, const talvo::Analyser& analyser,
                const PipelineTuning& tuning) {
  Pipeline pipeline(options, analyser, tuning);
  return pipeline.Run();
}
