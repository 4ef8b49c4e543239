#include "proteome/pipeline.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "proteome/benjamini_hochberg.h"

namespace {

constexpr size_t kWriteChunk = 1 << 16;

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
  Pipeline(const ProteomeOptions& options, const talvo::Analyser& analyser,
           const PipelineTuning& tuning)
      : options_(options), analyser_(analyser), tuning_(tuning) {}
  int Run();

 private:
  bool OpenOutputs();
  bool OpenOutput(const std::string& name, Output& output);
  bool WriteBatch(const std::vector<AnalysedEntry>& batch);
  bool WriteSegments();
  bool Fail(const std::string& message);
  bool FailWrite(const Output& output);
  void ShowProgress(bool last);
  void EndProgressLine();
  int Finish(bool ok);

  const ProteomeOptions& options_;
  const talvo::Analyser& analyser_;
  const PipelineTuning& tuning_;

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

// The writer runs on one thread: the first failure is the one reported.
bool Pipeline::Fail(const std::string& message) {
  if (error_.empty() && !broken_pipe_) error_ = message;
  return false;
}

bool Pipeline::FailWrite(const Output& output) {
  if (errno == EPIPE) broken_pipe_ = true;
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

bool Pipeline::WriteBatch(const std::vector<AnalysedEntry>& batch) {
  std::string summary;
  std::string masked;
  std::string spool;
  for (const AnalysedEntry& item : batch) {
    const std::string& input = options_.inputs[item.input];
    const talvo::Result& result = item.result;
    const std::string id = ProteinId(item.entry.header, item.entry.number);
    residues_ += result.length;
    if (masked_.file != nullptr) {
      const talvo::Settings& settings = analyser_.settings();
      masked += FormatMaskedRecord(
          item.entry.header,
          talvo::Masked(item.entry.residues, result, settings.mask_p, settings.lower_case_mask));
    }
    if (result.skip != talvo::Skip::kNone) {
      skipped_++;
      EndProgressLine();
      fprintf(stderr, "talvo-proteome: skipped entry %ld (%s) of %s: %s\n", item.entry.number,
              EscapeField(id).c_str(), EscapeField(input).c_str(), talvo::SkipText(result.skip));
      continue;
    }
    analysed_++;
    if (summary_.file != nullptr) summary += FormatSummaryRow(input, item.entry.number, id, result);
    long index = 0;
    for (const talvo::Segment& segment : result.segments) {
      index++;
      p_values_.push_back(segment.p_value);
      if (!options_.all_segments && !(segment.p_value < analyser_.settings().mask_p)) continue;
      reported_.push_back(p_values_.size() - 1);
      if (options_.format == OutputFormat::kGff3) formatter_.NoteProtein(id, result.length);
      const SegmentRow row{input,           item.entry.number, id,           result.length,
                           index,           segment.start,     segment.end,  segment.length,
                           segment.special, segment.p_value,   std::nullopt, segment.residues};
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
  const OrderedInputs inputs{options_.inputs, options_.shard_index, options_.shard_count,
                             [](const std::string& warning) {
                               fprintf(stderr, "talvo-proteome: warning: %s\n", warning.c_str());
                             }};
  const std::string error =
      RunOrdered(inputs, analyser_, options_.threads, tuning_,
                 [this](std::vector<AnalysedEntry>& batch) { return WriteBatch(batch); });
  if (!error.empty()) Fail(error);
  bool ok = error_.empty() && !broken_pipe_;
  if (ok) ok = WriteSegments();
  return Finish(ok);
}

}  // namespace

int RunPipeline(const ProteomeOptions& options, const talvo::Analyser& analyser,
                const PipelineTuning& tuning) {
  Pipeline pipeline(options, analyser, tuning);
  return pipeline.Run();
}
