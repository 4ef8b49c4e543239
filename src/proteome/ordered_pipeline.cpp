#include "proteome/ordered_pipeline.h"

#if defined(__linux__) && !defined(__EMSCRIPTEN__)
#include <pthread.h>
#include <sched.h>
#endif

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

// Names the calling thread, so that `top -H` and profilers tell the reader
// from the analysis threads. Linux keeps at most 15 characters.
void NameThisThread(const std::string& name) {
#if defined(__linux__) && defined(__GLIBC__) && !defined(__EMSCRIPTEN__)
  pthread_setname_np(pthread_self(), name.substr(0, 15).c_str());
#else
  (void)name;
#endif
}

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
    thread_local talvo::Workspace workspace;
    analyser->Analyse(item.entry.residues, item.entry.number, workspace, item.result);
  }
}

namespace {

// A chunk of one input's text, then its entries.
struct Batch {
  size_t index = 0;
  size_t input = 0;
  bool decompressed = false;
  TextChunk chunk;
  ChunkFacts facts;
  std::vector<AnalysedEntry> items;
  bool parse_claimed = false;  // under the run's lock
  bool parsed = false;
  // The entries parsed, set with `parsed`: the delivering thread drops the
  // entries outside the shard from `items` while workers may still look.
  size_t parsed_items = 0;
  std::atomic<size_t> next_item{0};
  std::atomic<size_t> done_items{0};
};

// BGZF members for an analysis thread to inflate, and their text.
struct InflateJob {
  BgzfGroup group;
  std::unique_ptr<char[]> text;
  size_t failed = 0;  // the first member that did not inflate
  bool done = false;  // under the run's lock
};

// Delivered entries go back to the parser, so that their strings and
// segments keep their memory from batch to batch; up to this much of it.
constexpr size_t kRecycledBytes = size_t{4} << 20;
// An entry that held a long protein gives its memory back, so that the
// kept entries stay near the size of typical ones however many pass.
constexpr size_t kKeptCharacters = size_t{4} << 10;
constexpr size_t kKeptSegments = 64;

void GiveBackLong(std::string& text) {
  if (text.capacity() > kKeptCharacters) std::string().swap(text);
}

void GiveBackLong(std::vector<talvo::Segment>& segments) {
  if (segments.capacity() > kKeptSegments) std::vector<talvo::Segment>().swap(segments);
}

void GiveBackLong(AnalysedEntry& item) {
  GiveBackLong(item.entry.header);
  GiveBackLong(item.entry.residues);
  GiveBackLong(item.result.segments);
  for (talvo::Result& result : item.classes) GiveBackLong(result.segments);
  for (std::string& text : item.text) GiveBackLong(text);
}

size_t HeldBytes(const std::vector<AnalysedEntry>& items) {
  size_t bytes = items.capacity() * sizeof(AnalysedEntry);
  for (const AnalysedEntry& item : items) {
    bytes += item.entry.header.capacity() + item.entry.residues.capacity();
    // Segments of runs hold at most the protein's residues.
    bytes += item.result.segments.capacity() * sizeof(talvo::Segment) + item.entry.residues.size();
    for (const talvo::Result& result : item.classes) {
      bytes += result.segments.capacity() * sizeof(talvo::Segment);
    }
    for (const std::string& text : item.text) bytes += text.capacity();
  }
  return bytes;
}

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
  const InputPart* PartOf(size_t input) const {
    return input < inputs_.parts.size() ? inputs_.parts[input] : nullptr;
  }
  bool Selected(size_t input, long number) const {
    return PartOf(input) != nullptr || (number - 1) % inputs_.shard_count == inputs_.shard_index;
  }
  void ReadInputs();
  bool ReadInput(size_t input);
  bool ReadBgzf(InputSource& source, EntryCutter& cutter, size_t input);
  bool SubmitChunks(std::vector<TextChunk>& chunks, size_t input, bool decompressed);
  bool Submit(std::unique_ptr<Batch> batch);
  void Parse(Batch& batch);
  std::vector<AnalysedEntry> SpareItems();
  void Recycle(std::vector<AnalysedEntry>& items);
  void Inflate(InflateJob& job);
  std::shared_ptr<Batch> FindWork();
  void Work(size_t worker);
  void AnalyseBatch(const std::shared_ptr<Batch>& batch, size_t worker);
  void Analyse(AnalysedEntry& item, size_t worker);
  bool Account(Batch& batch);
  void Join();
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
  std::condition_variable inflated_;
  std::deque<std::shared_ptr<Batch>> open_;  // batches that may still have work
  std::deque<std::shared_ptr<InflateJob>> inflate_queue_;
  std::map<size_t, std::shared_ptr<Batch>> done_;
  std::vector<std::vector<AnalysedEntry>> spare_items_;  // delivered, for the parser to refill
  size_t submitted_ = 0;
  size_t delivered_ = 0;
  bool input_done_ = false;
  bool stop_ = false;
  std::atomic<bool> stopping_{false};  // stop_, read by the workers without the lock
  std::string error_;
  std::exception_ptr sink_error_;  // of the sink or the delivery, thrown once the threads end
  // The ledgers of the inputs, on the delivering thread.
  std::map<size_t, InputLedger> ledgers_;
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
  inflated_.notify_all();
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

bool OrderedRun::SubmitChunks(std::vector<TextChunk>& chunks, size_t input, bool decompressed) {
  for (TextChunk& chunk : chunks) {
    auto batch = std::make_unique<Batch>();
    batch->input = input;
    batch->decompressed = decompressed;
    batch->chunk = std::move(chunk);
    if (!Submit(std::move(batch))) return false;
  }
  chunks.clear();
  return true;
}

// BGZF members go to the analysis threads in groups, a few groups ahead; their
// text is cut in order. A group that does not inflate goes back to the source,
// which reads it again with zlib for the exact message.
bool OrderedRun::ReadBgzf(InputSource& source, EntryCutter& cutter, size_t input) {
  const size_t ahead = 2 * static_cast<size_t>(threads_) + 2;
  std::deque<std::shared_ptr<InflateJob>> jobs;
  std::vector<TextChunk> chunks;
  for (;;) {
    while (jobs.size() < ahead) {
      auto job = std::make_shared<InflateJob>();
      if (!source.TakeBgzf(job->group, tuning_.batch_bytes)) break;
      job->text.reset(new char[std::max<size_t>(job->group.text_size, 1)]);
      std::lock_guard<std::mutex> lock(mutex_);
      inflate_queue_.push_back(job);
      jobs.push_back(std::move(job));
      work_ready_.notify_one();
    }
    if (jobs.empty()) return true;
    std::shared_ptr<InflateJob> job = std::move(jobs.front());
    jobs.pop_front();
    {
      std::unique_lock<std::mutex> lock(mutex_);
      inflated_.wait(lock, [&] { return stop_ || job->done; });
      if (stop_) return false;
    }
    if (job->failed < job->group.blocks.size()) {
      std::vector<const BgzfGroup*> later;
      for (const auto& other : jobs) later.push_back(&other->group);
      source.Unread(job->group, job->failed, later);
      return true;
    }
    size_t from = 0, to = 0;
    source.Clip(job->group.text_offset, job->group.text_size, from, to);
    cutter.Append(job->text.get() + from, to - from, chunks);
    if (!SubmitChunks(chunks, input, true)) return false;
  }
}

int AvailableCores() {
#if defined(__linux__) && !defined(__EMSCRIPTEN__)
  cpu_set_t cores;
  if (sched_getaffinity(0, sizeof cores, &cores) == 0) return std::max(1, CPU_COUNT(&cores));
#endif
  return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

// Every fault of an input (it cannot be opened or read, its gzip data is
// bad) ends its last chunk, so that it is told in input order.
bool OrderedRun::ReadInput(size_t input) {
  const InputPart* part = PartOf(input);
  InputSource source;
  const size_t read_size = std::max<size_t>(tuning_.read_buffer, 1);
  const bool spare_core =
      tuning_.stream_gzip_beside_spare_core && threads_ > 0 && threads_ < AvailableCores();
  const bool opened =
      source.Open(inputs_.paths[input], read_size, part != nullptr ? &part->range : nullptr,
                  spare_core ? 0 : tuning_.whole_gzip_limit);
  EntryCutter cutter(tuning_.batch_bytes, tuning_.batch_entries,
                     part != nullptr ? part->range.begin : 0,
                     part != nullptr ? part->first_entry : 1);
  std::vector<TextChunk> chunks;
  if (opened && threads_ > 0 && !ReadBgzf(source, cutter, input)) return false;
  while (opened) {
    const size_t size = source.NextSize();
    const size_t got = source.Read(cutter.Room(size), size);
    if (got == 0) break;
    cutter.Commit(got, chunks);
    if (!SubmitChunks(chunks, input, source.decompressed())) return false;
  }
  source.Close();
  cutter.Finish(source.error(), chunks);
  return SubmitChunks(chunks, input, source.decompressed());
}

void OrderedRun::ReadInputs() {
  NameThisThread("talvo-reader");
  if (tuning_.huge_page_heaps) talvo::internal::AdviseHugePagesForThreadHeap();
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

// A chunk's entries become the batch's items, in delivered items taken
// back; only those of the shard are analysed, but all pass the input's
// ledger.
void OrderedRun::Parse(Batch& batch) {
  std::vector<AnalysedEntry>& items = batch.items;
  const size_t count =
      ParseChunk(batch.chunk, batch.decompressed, batch.facts, [&items](size_t i) -> ProteinEntry& {
        if (i == items.size()) items.emplace_back();
        return items[i].entry;
      });
  items.resize(count);
  for (AnalysedEntry& item : items) item.input = batch.input;
  batch.chunk.buffer.reset();  // the text is no longer needed
  batch.chunk.begin = batch.chunk.end = nullptr;
}

// Taken by the thread that parses the next chunk, which trims them first:
// the delivering thread, which every batch passes, only hands them over.
std::vector<AnalysedEntry> OrderedRun::SpareItems() {
  std::vector<AnalysedEntry> items;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (spare_items_.empty()) return items;
    items = std::move(spare_items_.back());
    spare_items_.pop_back();
  }
  for (AnalysedEntry& item : items) GiveBackLong(item);
  if (HeldBytes(items) > kRecycledBytes) return {};
  return items;
}

// Items the sink gave back keep their memory for a later batch, unless
// enough wait already; those that hold much (a run of giant proteins) are
// let go when taken.
void OrderedRun::Recycle(std::vector<AnalysedEntry>& items) {
  const size_t keep = static_cast<size_t>(threads_) + 1;
  if (items.capacity() == 0) return;
  std::lock_guard<std::mutex> lock(mutex_);
  if (spare_items_.size() < keep) spare_items_.push_back(std::move(items));
}

void OrderedRun::Inflate(InflateJob& job) {
  job.failed = InflateBgzfGroup(job.group, job.text.get());
}

// Without threads the batch is parsed, analysed and delivered at once; with
// them it waits while the reorder buffer is full, so memory stays bounded.
bool OrderedRun::Submit(std::unique_ptr<Batch> batch) {
  if (threads_ == 0) {
    batch->items = SpareItems();
    Parse(*batch);
    for (AnalysedEntry& item : batch->items) {
      if (Cancelled()) return Stop("");
      Analyse(item, 0);
    }
    if (!Account(*batch) || !Hand(batch->items)) return false;
    Recycle(batch->items);
    return true;
  }
  const size_t in_flight = std::max<size_t>(2, 2 * static_cast<size_t>(threads_));
  std::unique_lock<std::mutex> lock(mutex_);
  space_free_.wait(lock, [&] { return stop_ || submitted_ - delivered_ < in_flight; });
  if (stop_) return false;
  batch->index = submitted_++;
  open_.push_back(std::shared_ptr<Batch>(batch.release()));
  work_ready_.notify_all();
  return true;
}

// Entries are taken one at a time from a shared counter: protein lengths
// differ by orders of magnitude, so fixed slices would leave threads idle.
// A stopped run takes no further entry (a batch can hold minutes of work).
void OrderedRun::Analyse(AnalysedEntry& item, size_t worker) {
  if (!Selected(item.input, item.entry.number)) return;
  analysis_.Run(item);
  if (inputs_.prepare) inputs_.prepare(item, worker);
}

void OrderedRun::AnalyseBatch(const std::shared_ptr<Batch>& batch, size_t worker) {
  const size_t size = batch->parsed_items;
  for (size_t i = batch->next_item.fetch_add(1); i < size && !stopping_.load();
       i = batch->next_item.fetch_add(1)) {
    if (Cancelled()) {
      Stop("");
      return;
    }
    Analyse(batch->items[i], worker);
    if (batch->done_items.fetch_add(1) + 1 == size) {
      std::lock_guard<std::mutex> lock(mutex_);
      done_[batch->index] = batch;
      batch_done_.notify_all();
    }
  }
}

// The first batch, in input order, with a chunk to parse or entries to
// analyse; batches with neither leave the list. Called under the lock.
std::shared_ptr<Batch> OrderedRun::FindWork() {
  for (auto it = open_.begin(); it != open_.end();) {
    Batch& batch = **it;
    if (!batch.parse_claimed) return *it;
    if (batch.parsed && batch.next_item.load() >= batch.parsed_items) {
      it = open_.erase(it);
      continue;
    }
    if (batch.parsed) return *it;
    ++it;
  }
  return nullptr;
}

// BGZF members to inflate come first: the reader waits for them.
void OrderedRun::Work(size_t worker) {
  NameThisThread("talvo-work-" + std::to_string(worker + 1));
  if (tuning_.huge_page_heaps) talvo::internal::AdviseHugePagesForThreadHeap();
  try {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
      std::shared_ptr<Batch> batch;
      work_ready_.wait(lock, [&] {
        return stop_ || !inflate_queue_.empty() || (batch = FindWork()) != nullptr ||
               (input_done_ && open_.empty());
      });
      if (stop_) return;
      if (!inflate_queue_.empty()) {
        std::shared_ptr<InflateJob> job = std::move(inflate_queue_.front());
        inflate_queue_.pop_front();
        lock.unlock();
        Inflate(*job);
        lock.lock();
        job->done = true;
        inflated_.notify_all();
        continue;
      }
      if (batch == nullptr) return;  // the input is read and every batch taken
      if (!batch->parse_claimed) {
        batch->parse_claimed = true;
        lock.unlock();
        batch->items = SpareItems();
        Parse(*batch);
        lock.lock();
        batch->parsed = true;
        batch->parsed_items = batch->items.size();
        if (batch->items.empty()) {
          done_[batch->index] = batch;
          batch_done_.notify_all();
        }
        work_ready_.notify_all();
        continue;
      }
      lock.unlock();
      AnalyseBatch(batch, worker);
      lock.lock();
    }
  } catch (const std::exception& e) {
    Stop(std::string("analysis: ") + e.what());
  }
}

// The batch's chunk, in input order, through its input's ledger: the warnings
// go out, the first fault ends the run, and an input read to its end gets
// its fingerprint. Entries outside the shard leave the batch.
bool OrderedRun::Account(Batch& batch) {
  const size_t input = batch.input;
  auto ledger = ledgers_.find(input);
  if (ledger == ledgers_.end()) {
    const InputPart* part = PartOf(input);
    std::string where = inputs_.paths[input];
    if (part != nullptr && part->range.begin > 0) {
      where += " (from byte " + std::to_string(part->range.begin) + ")";
    }
    ledger = ledgers_.emplace(input, InputLedger(where, part != nullptr)).first;
    if (part != nullptr) ledger->second.ExpectNames(&part->names, part->index, part->min_bytes);
  }
  std::vector<std::string> warnings;
  const bool taken = ledger->second.Take(
      batch.chunk, batch.facts, batch.items.size(),
      [&batch](size_t i) -> const ProteinEntry& { return batch.items[i].entry; }, warnings);
  for (const std::string& warning : warnings) {
    if (inputs_.warn) inputs_.warn(warning);
  }
  if (!taken) return Stop(ledger->second.error());
  if (batch.chunk.last && inputs_.read_whole) {
#ifndef TALVO_NO_ZLIB
    inputs_.read_whole(input, ledger->second.crc32(), ledger->second.bytes());
#endif
  }
  if (inputs_.shard_count > 1 && PartOf(input) == nullptr) {
    std::erase_if(batch.items, [this](const AnalysedEntry& item) {
      return !Selected(item.input, item.entry.number);
    });
  }
  return true;
}

// The next batch from the reorder buffer, in index order, through its
// input's ledger: kEnd once every batch was taken or the run stopped (the
// error, if any, kept for ThrowError). The items given in are refilled by a
// later batch.
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
  if (!Account(*batch)) return OrderedPipeline::Pulled::kEnd;
  items.swap(batch->items);
  Recycle(batch->items);
  return OrderedPipeline::Pulled::kBatch;
}

void OrderedRun::Start() {
  reader_ = std::thread(&OrderedRun::ReadInputs, this);
  for (int i = 0; i < threads_; i++) workers_.emplace_back(&OrderedRun::Work, this, i);
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
