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

#include "config/run_config.h"
#include "proteome/benjamini_hochberg.h"

namespace {

constexpr size_t kWriteChunk = 1 << 16;

struct WorkItem {
  ProteinEntry entry;
  EntryResult result;
};

struct Batch {
  size_t index = 0;
  size_t input = 0;
  std::vector<WorkItem> items;
  std::atomic<size_t> next_item{0};
  std::atomic<size_t> done_items{0};
};

// The rows wait for their q-values in an unnamed file under $TMPDIR (or /tmp),
// gone when the process ends however it ends.
FILE* OpenSpool() {
  const char* dir = getenv("TMPDIR");
  std::string name =
      std::string(dir != nullptr && *dir != '\0' ? dir : "/tmp") + "/talvo-proteome-XXXXXX";
  const int fd = mkstemp(name.data());
  if (fd < 0) return nullptr;
  unlink(name.c_str());
  FILE* spool = fdopen(fd, "w+");
  if (spool == nullptr) close(fd);
  return spool;
}

// An output stream whose every write is checked.
struct Output {
  std::string name;
  FILE* file = nullptr;
  bool owned = false;

  bool Write(const std::string& text) {
    return file == nullptr || text.empty() ||
           fwrite(text.data(), 1, text.size(), file) == text.size();
  }
  // Flushes and closes; false when anything written was lost.
  bool Close() {
    if (file == nullptr) return true;
    bool ok = fflush(file) == 0 && ferror(file) == 0;
    const int saved = errno;
    if (owned) ok = fclose(file) == 0 && ok;
    file = nullptr;
    if (!ok && saved != 0) errno = saved;
    return ok;
  }
};

class Pipeline {
 public:
  Pipeline(const ProteomeOptions& options, const AnalysisSettings& settings,
           const PipelineTuning& tuning)
      : options_(options), settings_(settings), tuning_(tuning) {}
  int Run();

 private:
  bool OpenOutputs();
  bool OpenOutput(const std::string& name, Output& output);
  void ReadInputs();
  bool ReadInput(size_t input);
  bool Submit(std::unique_ptr<Batch>& batch, size_t input);
  void Work();
  void AnalyseBatch(const std::shared_ptr<Batch>& batch);
  bool WriteBatches();
  bool WriteBatch(const Batch& batch);
  bool WriteSegments();
  bool Fail(const std::string& message);
  bool FailWrite(const Output& output);
  void ShowProgress(bool last);
  void EndProgressLine();
  int Finish(bool ok);

  const ProteomeOptions& options_;
  const AnalysisSettings& settings_;
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
  bool broken_pipe_ = false;
  std::string error_;

  Output output_;
  Output summary_;
  Output masked_;
  FILE* spool_ = nullptr;
  std::vector<double> p_values_;  // every segment of the run, in order
  SegmentFormatter formatter_{options_.format};
  std::vector<size_t> reported_;  // index into p_values_ of each spooled row
  long analysed_ = 0;
  long skipped_ = 0;
  long long residues_ = 0;
  std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point last_progress_;
  bool progress_shown_ = false;
};

bool Pipeline::Fail(const std::string& message) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (error_.empty() && !broken_pipe_) error_ = message;
  stop_ = true;
  work_ready_.notify_all();
  batch_done_.notify_all();
  space_free_.notify_all();
  return false;
}

bool Pipeline::FailWrite(const Output& output) {
  if (errno == EPIPE) {
    std::lock_guard<std::mutex> lock(mutex_);
    broken_pipe_ = true;
  }
  return Fail("error writing " + output.name + ": " + strerror(errno));
}

bool Pipeline::OpenOutput(const std::string& name, Output& output) {
  output.name = name;
  output.file = fopen(name.c_str(), "w");
  output.owned = output.file != nullptr;
  if (output.file == nullptr) return Fail("cannot open " + name + ": " + strerror(errno));
  return true;
}

bool Pipeline::OpenOutputs() {
  if (options_.output.empty()) {
    output_.name = "standard output";
    output_.file = stdout;
  } else if (!OpenOutput(options_.output, output_)) {
    return false;
  }
  if (!options_.summary.empty() &&
      (!OpenOutput(options_.summary, summary_) || !summary_.Write(kSummaryHeader))) {
    return false;
  }
  if (!options_.masked.empty() && !OpenOutput(options_.masked, masked_)) return false;
  spool_ = OpenSpool();
  if (spool_ == nullptr) {
    return Fail(std::string("cannot create a temporary file: ") + strerror(errno));
  }
  return true;
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
    batch->items.push_back(WorkItem{std::move(entry), EntryResult{}});
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

#ifdef TALVO_NO_THREADS
// Without threads (WebAssembly in a browser worker) every batch is analysed
// and written as soon as it is read, on the calling thread.
bool Pipeline::Submit(std::unique_ptr<Batch>& batch, size_t input) {
  batch->input = input;
  for (WorkItem& item : batch->items) {
    item.result = AnalyseEntry(settings_, item.entry.residues, item.entry.number);
  }
  const bool written = WriteBatch(*batch);
  batch = std::make_unique<Batch>();
  return written;
}
#else
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
#endif

// Entries are taken one at a time from a shared counter: protein lengths
// differ by orders of magnitude, so fixed slices would leave threads idle.
void Pipeline::AnalyseBatch(const std::shared_ptr<Batch>& batch) {
  const size_t size = batch->items.size();
  for (size_t i = batch->next_item.fetch_add(1); i < size; i = batch->next_item.fetch_add(1)) {
    WorkItem& item = batch->items[i];
    item.result = AnalyseEntry(settings_, item.entry.residues, item.entry.number);
    if (batch->done_items.fetch_add(1) + 1 == size) {
      std::lock_guard<std::mutex> lock(mutex_);
      done_[batch->index] = batch;
      batch_done_.notify_all();
    }
  }
}

void Pipeline::Work() {
  try {
    PrepareAnalysisThread(settings_);
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

void Pipeline::ShowProgress(bool last) {
  const auto now = std::chrono::steady_clock::now();
  if (!last && now - last_progress_ < std::chrono::milliseconds(200)) return;
  last_progress_ = now;
  const double seconds = std::chrono::duration<double>(now - started_).count();
  fprintf(stderr, "\r%ld entries, %lld residues, %.0f residues/s", analysed_ + skipped_, residues_,
          seconds > 0 ? static_cast<double>(residues_) / seconds : 0.0);
  progress_shown_ = true;
  if (last) EndProgressLine();
}

// Other messages start on a line of their own.
void Pipeline::EndProgressLine() {
  if (progress_shown_) fputc('\n', stderr);
  progress_shown_ = false;
}

bool Pipeline::WriteBatch(const Batch& batch) {
  const std::string& input = options_.inputs[batch.input];
  std::string summary;
  std::string masked;
  std::string spool;
  for (const WorkItem& item : batch.items) {
    const EntryResult& result = item.result;
    const std::string id = ProteinId(item.entry.header);
    residues_ += result.length;
    if (settings_.keep_masked) masked += FormatMaskedRecord(item.entry.header, result.masked);
    if (result.skip != SkipReason::kNone) {
      skipped_++;
      EndProgressLine();
      fprintf(stderr, "talvo-proteome: skipped entry %ld (%s) of %s: %s\n", item.entry.number,
              EscapeField(id).c_str(), EscapeField(input).c_str(), SkipReasonText(result.skip));
      continue;
    }
    analysed_++;
    if (summary_.file != nullptr) summary += FormatSummaryRow(input, item.entry.number, id, result);
    long index = 0;
    for (const SegmentResult& segment : result.segments) {
      index++;
      p_values_.push_back(segment.p_value);
      if (!options_.all_segments && !(segment.p_value < masking_p_val)) continue;
      reported_.push_back(p_values_.size() - 1);
      if (options_.format == OutputFormat::kGff3) formatter_.NoteProtein(id, result.length);
      const SegmentRow row{input,
                           item.entry.number,
                           id,
                           result.length,
                           index,
                           segment.start,
                           segment.end,
                           segment.length,
                           segment.special,
                           segment.p_value,
                           std::nullopt,
                           item.entry.residues.substr(segment.start - 1, segment.length)};
      spool += FormatSegmentRow(row);
    }
  }
  if (!summary_.Write(summary)) return FailWrite(summary_);
  if (!masked_.Write(masked)) return FailWrite(masked_);
  if (fwrite(spool.data(), 1, spool.size(), spool_) != spool.size()) {
    return Fail(std::string("error writing the temporary file: ") + strerror(errno));
  }
  if (options_.progress) ShowProgress(false);
  return true;
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

// The q-values need every p-value of the run, so the rows wait in the spool
// until the input is done.
bool Pipeline::WriteSegments() {
  const std::vector<double> q_values = BenjaminiHochberg(p_values_);
  SegmentFormatter& formatter = formatter_;
  std::string text = formatter.Header();
  if (fflush(spool_) != 0 || fseek(spool_, 0, SEEK_SET) != 0) {
    return Fail(std::string("error reading the temporary file: ") + strerror(errno));
  }
  char* line = nullptr;
  size_t capacity = 0;
  size_t row = 0;
  bool ok = true;
  for (ssize_t got; ok && (got = getline(&line, &capacity, spool_)) > 0;) {
    std::optional<SegmentRow> parsed = ParseSegmentRow(std::string(line, got - 1));
    if (!parsed || row >= reported_.size()) {
      ok = Fail("the temporary file was corrupted");
      break;
    }
    parsed->q_value = q_values[reported_[row++]];
    text += formatter.Format(*parsed);
    if (text.size() >= kWriteChunk) {
      ok = output_.Write(text) || FailWrite(output_);
      text.clear();
    }
  }
  free(line);
  if (ok && row != reported_.size()) ok = Fail("error reading the temporary file");
  return ok && (output_.Write(text) || FailWrite(output_));
}

int Pipeline::Finish(bool ok) {
  if (spool_ != nullptr) fclose(spool_);
  for (Output* output : {&output_, &summary_, &masked_}) {
    if (!output->Close() && ok) ok = FailWrite(*output);
  }
  if (options_.progress) ShowProgress(true);
  if (broken_pipe_) return kPipeStatus;
  if (!ok) {
    fprintf(stderr, "talvo-proteome: %s\n", error_.c_str());
    return 1;
  }
  fprintf(stderr, "%ld entries analysed, %ld skipped\n", analysed_, skipped_);
  return 0;
}

int Pipeline::Run() {
  if (!OpenOutputs()) return Finish(false);
#ifdef TALVO_NO_THREADS
  PrepareAnalysisThread(settings_);
  ReadInputs();
  bool ok = true;
#else
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
#endif
  ok = ok && error_.empty();
  if (ok) ok = WriteSegments();
  return Finish(ok);
}

}  // namespace

int RunPipeline(const ProteomeOptions& options, const AnalysisSettings& settings,
                const PipelineTuning& tuning) {
  Pipeline pipeline(options, settings, tuning);
  return pipeline.Run();
}
