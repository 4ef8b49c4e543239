#include "proteome/proteome_writer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "proteome/segment_row.h"
#include "proteome/shard_table.h"
#include "proteome/shortest_double.h"

namespace talvo::proteome {
namespace {

// Batch text goes to the files once it reaches this size.
constexpr size_t kFlushSize = 1 << 16;

}  // namespace

// BED has no q-values: its rows go straight to the output. The other formats
// and the summary wait in spools for theirs.
ProteomeWriter::ProteomeWriter(const ProteomeOptions& options, const talvo::Settings& settings,
                               bool own_mask)
    : options_(options),
      settings_(settings),
      reporting_{options.all_segments, settings.mask_p},
      own_mask_(own_mask),
      counts_(1) {
  OpenSegments(options.output, options.format, options.sharded);
  if (!options.gff3.empty()) OpenSegments(options.gff3, OutputFormat::kGff3, false);
  if (!options.bed.empty()) OpenSegments(options.bed, OutputFormat::kBed, false);
  if (!options.summary.empty()) {
    summary_.Open(options.summary);
    summary_spool_.Open();
  }
  if (!options.masked.empty()) {
    masked_.Open(options.masked);
    if (!options.classes.empty()) {
      masked_spool_.Open();
      q_values_needed_ = q_values_needed_ || !own_mask;
    }
  }
}

ProteomeWriter::~ProteomeWriter() = default;

void ProteomeWriter::OpenSegments(const std::string& path, OutputFormat format, bool shard_table) {
  auto output = std::make_unique<SegmentOutput>();
  output->stream.Open(path);
  output->rows = MakeSegmentRows(format, reporting_, shard_table && format == OutputFormat::kTsv,
                                 options_.description, !options_.classes.empty());
  if (output->rows->Spooled()) output->spool.Open();
  q_values_needed_ = q_values_needed_ || format != OutputFormat::kBed;
  admit_reads_id_ = admit_reads_id_ || output->rows->AdmitReadsId();
  segments_.push_back(std::move(output));
}

void ProteomeWriter::NoteSkip(const std::string& input, const ProteinEntry& entry,
                              const std::string& id, talvo::Skip skip) {
  skipped_[static_cast<size_t>(skip)]++;
  if (!options_.verbose) return;
  EndProgressLine();
  fprintf(stderr, "talvo-proteome: skipped entry %ld (%s) of %s: %s\n", entry.number,
          EscapeField(id).c_str(), EscapeField(input).c_str(), talvo::SkipText(skip));
}

size_t ProteomeWriter::BatchSize() const {
  size_t size = summary_text_.size() + masked_text_.size();
  for (const auto& output : segments_) size += output->text.size();
  return size;
}

void ProteomeWriter::SetWorkers(size_t workers) {
  counts_.resize(std::max<size_t>(workers, 1));
}

namespace {

// The results of an entry: its classes' with --discover, else its own.
std::span<const talvo::Result> ResultsOf(const AnalysedEntry& item) {
  if (item.discovery_report) return item.classes;
  return std::span<const talvo::Result>(&item.result, 1);
}

}  // namespace

void ProteomeWriter::Prepare(AnalysedEntry& item, size_t worker) {
  internal::DiscoveryReport* report = item.discovery_report.get();
  Format(item.input, item.entry, ResultsOf(item), report, item.text, worker);
  if (own_mask_ && report != nullptr && masked_.is_open()) {
    FormatMask(item.entry, report->mask_results, report->mask_tally, item.text.back(), worker);
  }
  // Counted, the p-values are not needed again: their memory goes back on
  // this thread while it is warm, for the next entry it analyses, rather
  // than waiting in the batch while new entries take fresh pages.
  if (report != nullptr) {
    decltype(report->tally)().swap(report->tally);
    decltype(report->mask_tally)().swap(report->mask_tally);
  }
}

void ProteomeWriter::Add(const AnalysedEntry& item) {
  Admit(item.input, item.entry, ResultsOf(item), item.discovery_report.get(), item.text);
}

// Every segment counts towards the q-values; only the reported ones are
// written. The text of the outputs of segments comes first, then the
// summary's and the masked record.
void ProteomeWriter::Format(size_t input, const ProteinEntry& entry,
                            std::span<const talvo::Result> results,
                            const internal::DiscoveryReport* report, std::vector<std::string>& text,
                            size_t worker) {
  const std::string id = ProteinId(entry.header, entry.number);
  const bool discover = !options_.classes.empty();
  AnalysedProtein protein{options_.inputs[input], entry, id, results,
                          discover ? &options_.classes : nullptr};
  if (report != nullptr) protein.numbers = report->numbers;
  const talvo::Result& first = protein.first();
  // Emptied, not replaced: the strings keep their memory from entry to entry.
  text.resize(segments_.size() + 2);
  for (std::string& part : text) part.clear();
  for (size_t i = 0; i < segments_.size(); i++) {
    segments_[i]->rows->AppendProtein(text[i], protein);
  }
  Counts& counts = counts_[worker];
  // Counted here, where the segments are still in the cache.
  for (const talvo::Result& result : results) {
    counts.rows += std::count_if(result.segments.begin(), result.segments.end(), reporting_);
  }
  if (summary_.is_open()) {
    AppendSummaryRows(text[segments_.size()], protein, options_.description);
    for (const talvo::Result& result : results) {
      if (result.skip == talvo::Skip::kNone) counts.summary.Count(result.overall.exact_tail);
    }
  }
  if (masked_.is_open() && !discover) {
    text.back() = FormatMaskedRecord(
        entry.header,
        talvo::Masked(entry.residues, first, settings_.mask_p, settings_.lower_case_mask));
  } else if (masked_.is_open() && !own_mask_) {
    AppendMaskCandidates(text.back(), entry, results, settings_.mask_p, settings_.lower_case_mask);
  }
  if (q_values_needed_ && report == nullptr) {
    for (const talvo::Result& result : results) {
      for (const talvo::Segment& segment : result.segments) counts.segments.Count(segment.p_value);
    }
  }
  if (q_values_needed_ && report != nullptr) counts.segments.Count(report->tally);
}

void ProteomeWriter::FormatMask(const ProteinEntry& entry, std::span<const talvo::Result> results,
                                std::span<const std::pair<double, uint32_t>> tally,
                                std::string& text, size_t worker) {
  AppendMaskCandidates(text, entry, results, settings_.mask_p, settings_.lower_case_mask);
  counts_[worker].mask.Count(tally);
}

void ProteomeWriter::Admit(size_t input_index, const ProteinEntry& entry,
                           std::span<const talvo::Result> results,
                           const internal::DiscoveryReport* report,
                           const std::vector<std::string>& text) {
  const std::string& input = options_.inputs[input_index];
  const talvo::Result& first = results.front();
  // The id was in the rows' text already; only a skip or GFF3's regions
  // need it again.
  const bool id_read = first.skip != talvo::Skip::kNone || admit_reads_id_;
  const std::string id = id_read ? ProteinId(entry.header, entry.number) : std::string();
  const bool discover = !options_.classes.empty();
  AnalysedProtein protein{input, entry, id, results, discover ? &options_.classes : nullptr};
  if (report != nullptr) protein.numbers = report->numbers;
  residues_ += first.length;
  if (first.skip != talvo::Skip::kNone) {
    NoteSkip(input, entry, id, first.skip);
  } else {
    analysed_++;
  }
  for (size_t i = 0; i < segments_.size(); i++) {
    segments_[i]->rows->Admit(protein);
    segments_[i]->text += text[i];
  }
  summary_text_ += text[segments_.size()];
  masked_text_ += text.back();
  if (BatchSize() >= kFlushSize) EndBatch();
}

void ProteomeWriter::Add(size_t input, const ProteinEntry& entry,
                         std::span<const talvo::Result> results,
                         const internal::DiscoveryReport* report) {
  std::vector<std::string> text;
  Format(input, entry, results, report, text, 0);
  Admit(input, entry, results, report, text);
}

void ProteomeWriter::AddMask(const ProteinEntry& entry, std::span<const talvo::Result> results,
                             std::span<const std::pair<double, uint32_t>> tally) {
  if (!masked_.is_open()) return;
  FormatMask(entry, results, tally, masked_text_, 0);
}

void ProteomeWriter::EndBatch() {
  if (masked_spool_.is_open()) {
    masked_spool_.Write(masked_text_);
  } else {
    masked_.Write(masked_text_);
  }
  masked_text_.clear();
  for (const auto& output : segments_) {
    if (output->rows->Spooled()) {
      output->spool.Write(output->text);
    } else {
      output->stream.Write(output->text);
    }
    output->text.clear();
  }
  if (summary_.is_open()) summary_spool_.Write(summary_text_);
  summary_text_.clear();
  if (options_.progress) ShowProgress(false);
}

std::string ProteomeWriter::ShardTableHeader() const {
  ShardHeader shard;
  shard.version = talvo::Version();
  shard.options = AnalysisOptionsText(settings_);
  for (size_t c = 0; c < options_.classes.size(); c++) {
    shard.classes.push_back(ClassText(options_.classes[c], class_settings_.at(c)));
  }
  if (settings_.random_null != talvo::RandomNull::kNone)
    shard.seed = std::to_string(settings_.seed);
  shard.index = options_.shard_index;
  shard.count = options_.shard_count;
  shard.all_segments = options_.all_segments;
  shard.inputs = options_.inputs;
  shard.fingerprints = input_fingerprints_;
  shard.rows = counts_[0].rows;
  shard.proteins = analysed_;
  for (long count : skipped_) shard.proteins += count;
  return FormatShardHeader(shard);
}

// The spool's text with every marker filled in: q-values here, the format's
// own markers by the format.
void ProteomeWriter::CopyOut(RowSpool& spool, const QValues& q_values, SegmentRows* rows,
                             OutputStream& stream) {
  spool.CopyTo(
      [&](char kind, uint64_t payload, std::string& out) {
        if (kind != kQMarker) return rows->Resolve(kind, payload, out);
        double p = 0;
        memcpy(&p, &payload, sizeof p);
        AppendShortest(out, q_values.Of(p));
        return true;
      },
      [&stream](const std::string& text) { stream.Write(text); },
      [&q_values](char kind, uint64_t payload) {
        if (kind != kQMarker) return;
        double p = 0;
        memcpy(&p, &payload, sizeof p);
        q_values.Prefetch(p);
      });
}

// --discover's masks: a stretch is masked where a segment that covers it has
// a q-value below -M, among the mask's own segments or the reported ones.
void ProteomeWriter::CopyMasks() {
  const QValues& q_values = own_mask_ ? counts_[0].mask : counts_[0].segments;
  masked_spool_.CopyTo(
      [&](char kind, uint64_t payload, std::string&) {
        if (kind == kKeptMarker) return true;
        double p = 0;
        memcpy(&p, &payload, sizeof p);
        return (q_values.Of(p) < settings_.mask_p) == (kind == kMaskedMarker);
      },
      [this](const std::string& text) { masked_.Write(text); });
}

void ProteomeWriter::Finish() {
  EndBatch();
  for (size_t worker = 1; worker < counts_.size(); worker++) {
    counts_[0].segments.Add(counts_[worker].segments);
    counts_[0].summary.Add(counts_[worker].summary);
    counts_[0].mask.Add(counts_[worker].mask);
    counts_[0].rows += counts_[worker].rows;
  }
  counts_.resize(1);
  QValues& segment_q = counts_[0].segments;
  QValues& summary_q = counts_[0].summary;
  segment_q.Finish();
  for (const auto& output : segments_) {
    output->rows->Finish();
    const bool shard_table = options_.sharded && output.get() == segments_.front().get() &&
                             options_.format == OutputFormat::kTsv;
    output->stream.Write((shard_table ? ShardTableHeader() : "") + output->rows->Header());
    if (output->rows->Spooled())
      CopyOut(output->spool, segment_q, output->rows.get(), output->stream);
  }
  if (summary_.is_open()) {
    summary_q.Finish();
    summary_.Write(SummaryHeader(options_.description, !options_.classes.empty()));
    CopyOut(summary_spool_, summary_q, nullptr, summary_);
  }
  if (masked_spool_.is_open()) {
    if (own_mask_) counts_[0].mask.Finish();
    CopyMasks();
  }
  std::vector<OutputStream*> streams;
  for (const auto& output : segments_) streams.push_back(&output->stream);
  streams.insert(streams.end(), {&summary_, &masked_});
  for (OutputStream* stream : streams) stream->Close();
  CommitOutputs(streams);
  if (options_.progress) ShowProgress(true);
  if (options_.verbose) {
    uint64_t bytes = summary_spool_.bytes();
    for (const auto& output : segments_) bytes += output->spool.bytes();
    fprintf(stderr,
            "talvo-proteome: temporary files: %llu bytes; q-values from %zu distinct p-values "
            "of %llu segments\n",
            static_cast<unsigned long long>(bytes), segment_q.distinct(),
            static_cast<unsigned long long>(segment_q.total()));
  }
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

}  // namespace talvo::proteome
