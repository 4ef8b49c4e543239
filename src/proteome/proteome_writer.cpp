#include "proteome/proteome_writer.h"

#include <cerrno>
#include <cstring>

#include "proteome/shard_table.h"

namespace {

// Batch text goes to the files once it reaches this size.
constexpr size_t kFlushSize = 1 << 16;

}  // namespace

bool ProteomeWriter::Output::Write(const std::string& text) {
  return file == nullptr || text.empty() ||
         fwrite(text.data(), 1, text.size(), file) == text.size();
}

bool ProteomeWriter::Output::Close() {
  if (file == nullptr) return true;
  const bool own = file == named.file();
  file = nullptr;
  if (own) return named.Close();
  return fflush(stdout) == 0 && ferror(stdout) == 0;
}

ProteomeWriter::~ProteomeWriter() {
  if (output_.file == stdout) fflush(stdout);
}

bool ProteomeWriter::Fail(const std::string& message) {
  if (error_.empty() && !broken_pipe_) error_ = message;
  return false;
}

bool ProteomeWriter::FailWrite(const Output& output) {
  const int saved = errno;
  if (saved == EPIPE) broken_pipe_ = true;
  return Fail("error writing " + output.name + ": " + strerror(saved));
}

bool ProteomeWriter::OpenOutput(const std::string& name, Output& output) {
  output.name = name;
  if (!output.named.Open(name)) return Fail(output.named.error());
  output.file = output.named.file();
  return true;
}

bool ProteomeWriter::OpenSpool(RowSpool& spool) {
  if (spool.Open()) return true;
  return Fail(std::string("cannot create a temporary file: ") + strerror(errno));
}

// BED has no q-values: its rows go straight to the output. The other formats
// and the summary wait in spools for theirs.
bool ProteomeWriter::Open() {
  if (options_.output.empty()) {
    output_.name = "standard output";
    output_.file = stdout;
  } else if (!OpenOutput(options_.output, output_)) {
    return false;
  }
  if (!options_.summary.empty() &&
      (!OpenOutput(options_.summary, summary_) || !OpenSpool(summary_spool_))) {
    return false;
  }
  if (!options_.masked.empty() && !OpenOutput(options_.masked, masked_)) return false;
  if (options_.format == OutputFormat::kGff3 && !regions_.Open()) return Fail(regions_.error());
  return options_.format == OutputFormat::kBed || OpenSpool(segment_spool_);
}

void ProteomeWriter::NoteSkip(const std::string& input, const ProteinEntry& entry,
                              const std::string& id, talvo::Skip skip) {
  skipped_[static_cast<size_t>(skip)]++;
  if (!options_.verbose) return;
  EndProgressLine();
  fprintf(stderr, "talvo-proteome: skipped entry %ld (%s) of %s: %s\n", entry.number,
          EscapeField(id).c_str(), EscapeField(input).c_str(), talvo::SkipText(skip));
}

// Every segment counts towards the q-values; only the reported ones are
// written.
void ProteomeWriter::AddSegments(const std::string& input, const ProteinEntry& entry,
                                 const std::string& id, const talvo::Result& result) {
  const bool bed = options_.format == OutputFormat::kBed;
  bool begun = false;
  long index = 0;
  for (const talvo::Segment& segment : result.segments) {
    index++;
    if (!bed) segment_q_.Count(segment.p_value);
    if (!options_.all_segments && !(segment.p_value < settings_.mask_p)) continue;
    if (!begun) {
      segments_.BeginProtein(input, entry.number, id, result.length,
                             options_.description ? ProteinDescription(entry.header) : "");
      if (options_.format == OutputFormat::kGff3) regions_ok_ = regions_.Add(id, result.length);
    }
    begun = true;
    rows_++;
    segments_.AppendSegment(segment_text_, index, segment);
  }
}

bool ProteomeWriter::Add(size_t input_index, const ProteinEntry& entry,
                         const talvo::Result& result) {
  const std::string& input = options_.inputs[input_index];
  const std::string id = ProteinId(entry.header, entry.number);
  residues_ += result.length;
  if (masked_.file != nullptr) {
    masked_text_ += FormatMaskedRecord(
        entry.header,
        talvo::Masked(entry.residues, result, settings_.mask_p, settings_.lower_case_mask));
  }
  if (summary_.file != nullptr) {
    const std::string description =
        options_.description ? ProteinDescription(entry.header) : std::string();
    AppendSummaryRow(summary_text_, input, entry.number, id, result,
                     options_.description ? &description : nullptr);
    if (result.skip == talvo::Skip::kNone) summary_q_.Count(result.overall.exact_tail);
  }
  if (result.skip != talvo::Skip::kNone) {
    NoteSkip(input, entry, id, result.skip);
  } else {
    analysed_++;
    AddSegments(input, entry, id, result);
  }
  if (!regions_ok_) return Fail(regions_.error());
  if (segment_text_.size() + summary_text_.size() + masked_text_.size() >= kFlushSize) {
    return EndBatch();
  }
  return true;
}

bool ProteomeWriter::EndBatch() {
  const bool bed = options_.format == OutputFormat::kBed;
  if (!masked_.Write(masked_text_)) return FailWrite(masked_);
  if (bed ? !output_.Write(segment_text_) : !segment_spool_.Write(segment_text_)) {
    return bed ? FailWrite(output_)
               : Fail(std::string("error writing the temporary file: ") + strerror(errno));
  }
  if (!summary_spool_.Write(summary_text_)) {
    return Fail(std::string("error writing the temporary file: ") + strerror(errno));
  }
  masked_text_.clear();
  segment_text_.clear();
  summary_text_.clear();
  if (options_.progress) ShowProgress(false);
  return true;
}

std::string ProteomeWriter::SegmentHeader() const {
  std::string header;
  if (options_.sharded && options_.format == OutputFormat::kTsv) {
    ShardHeader shard;
    shard.version = ProteomeVersionNumber();
    shard.options = AnalysisOptionsText(settings_);
    if (settings_.random_null != talvo::RandomNull::kNone) {
      shard.seed = std::to_string(settings_.seed);
    }
    shard.index = options_.shard_index;
    shard.count = options_.shard_count;
    shard.all_segments = options_.all_segments;
    shard.inputs = options_.inputs;
    for (size_t input = 0; input < input_fingerprints_.size(); input++) {
      if (input_fingerprints_[input].empty()) continue;
      shard.fingerprints.resize(shard.inputs.size());
      shard.fingerprints[input][kCrc32Fingerprint] = input_fingerprints_[input];
    }
    shard.rows = rows_;
    header = FormatShardHeader(shard);
  }
  return header + segments_.Header();
}

bool ProteomeWriter::CopySpool(RowSpool& spool, const QValues& q_values, Output& output) {
  bool regions_ok = true;
  const RowSpool::Resolve resolve = [&](char kind, uint64_t payload, std::string& out) {
    switch (kind) {
      case SegmentFormatter::kRegionMarker:
        regions_ok = regions_ok && regions_.Next(region_length_);
        return region_length_ >= 0;
      case SegmentFormatter::kRegionLengthMarker:
        if (region_length_ >= 0) out += std::to_string(region_length_);
        return region_length_ >= 0;
      case SegmentFormatter::kRegionEndMarker:
        return true;
    }
    double p = 0;
    memcpy(&p, &payload, sizeof p);
    out += ShortestDouble(q_values.Of(p));
    return true;
  };
  bool written = true;
  const std::string failed = spool.CopyTo(resolve, [&](const std::string& text) {
    written = output.Write(text);
    return written;
  });
  if (!written) return FailWrite(output);
  if (!regions_ok) return Fail(regions_.error());
  return failed.empty() || Fail(failed);
}

bool ProteomeWriter::Finish() {
  if (!EndBatch()) return false;
  if (options_.format == OutputFormat::kGff3 && !regions_.Finish()) return Fail(regions_.error());
  if (options_.format != OutputFormat::kBed) {
    segment_q_.Finish();
    if (!output_.Write(SegmentHeader())) return FailWrite(output_);
    if (!CopySpool(segment_spool_, segment_q_, output_)) return false;
  }
  if (summary_.file != nullptr) {
    summary_q_.Finish();
    if (!summary_.Write(SummaryHeader(options_.description))) return FailWrite(summary_);
    if (!CopySpool(summary_spool_, summary_q_, summary_)) return false;
  }
  for (Output* output : {&output_, &summary_, &masked_}) {
    if (!output->Close()) return FailWrite(*output);
  }
  std::string error;
  if (!CommitOutputs({&output_.named, &summary_.named, &masked_.named}, error)) return Fail(error);
  if (options_.progress) ShowProgress(true);
  if (options_.verbose) {
    fprintf(stderr,
            "talvo-proteome: temporary files: %llu bytes; q-values from %zu distinct p-values "
            "of %llu segments\n",
            static_cast<unsigned long long>(segment_spool_.bytes() + summary_spool_.bytes()),
            segment_q_.distinct(), static_cast<unsigned long long>(segment_q_.total()));
  }
  return true;
}

void ProteomeWriter::PrintCounts() {
  EndProgressLine();
  long skipped = 0;
  for (size_t skip = 0; skip < skipped_.size(); skip++) {
    if (skipped_[skip] == 0) continue;
    skipped += skipped_[skip];
    fprintf(stderr, "%ld skipped: %s\n", skipped_[skip],
            talvo::SkipText(static_cast<talvo::Skip>(skip)));
  }
  fprintf(stderr, "%ld entries analysed, %ld skipped\n", analysed_, skipped);
}

void ProteomeWriter::ShowProgress(bool last) {
  const auto now = std::chrono::steady_clock::now();
  if (!last && now - last_progress_ < std::chrono::milliseconds(200)) return;
  last_progress_ = now;
  const double seconds = std::chrono::duration<double>(now - started_).count();
  long entries = analysed_;
  for (long count : skipped_) entries += count;
  fprintf(stderr, "\r%ld entries, %lld residues, %.0f residues/s", entries, residues_,
          seconds > 0 ? static_cast<double>(residues_) / seconds : 0.0);
  progress_shown_ = true;
  if (last) EndProgressLine();
}

// Other messages start on a line of their own.
void ProteomeWriter::EndProgressLine() {
  if (progress_shown_) fputc('\n', stderr);
  progress_shown_ = false;
}
