// What talvo-proteome writes from the analysed entries, handed to it in input
// order: the segments (TSV, GFF3 or BED, to --output and to --gff3 and
// --bed), the summary, the masked FASTA, the skip counts and the progress
// line. The merge hands it the proteins of the shard tables the same way, so
// that both write the same bytes. Each row is formatted once; rows that wait
// for their q-values wait in temporary files, and the q-values come from
// counts of the distinct p-values, so memory does not grow with the run.
// Every failure throws (errors.h).
#pragma once
#include <array>
#include <chrono>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "api/discovery_report.h"
#include "proteome/benjamini_hochberg.h"
#include "proteome/fasta_stream.h"
#include "proteome/formats.h"
#include "proteome/options.h"
#include "proteome/ordered_pipeline.h"
#include "proteome/output_files.h"
#include "proteome/row_spool.h"
#include "proteome/shard_table.h"
#include "talvo/talvo.h"

namespace talvo::proteome {

class ProteomeWriter {
 public:
  // Opens every output. With own_mask (--discover), --masked masks what
  // AddMask hands it, by its own q-values, instead of the reported segments.
  ProteomeWriter(const ProteomeOptions& options, const talvo::Settings& settings,
                 bool own_mask = false);
  ProteomeWriter(const ProteomeWriter&) = delete;
  ProteomeWriter& operator=(const ProteomeWriter&) = delete;
  ~ProteomeWriter();

  // Before the run: the analysis threads that call Prepare (their numbers
  // run from 0 to workers - 1).
  void SetWorkers(size_t workers);
  // The entry's text for every output, into item.text, on analysis thread
  // `worker`, which also counts its p-values: its result, or with --discover
  // its classes' and, with own_mask, its mask analysis in its report (whose
  // tallies of p-values it then empties).
  void Prepare(AnalysedEntry& item, size_t worker);
  // One prepared entry, in input order.
  void Add(const AnalysedEntry& item);
  // One entry of the input with index `input`, in input order, prepared here:
  // its result, or with --discover its result for each class of
  // options.classes. With a report (--discover) the results hold only the
  // reported segments (report->numbers), and report->tally counts every
  // p-value.
  void Add(size_t input, const ProteinEntry& entry, std::span<const talvo::Result> results,
           const internal::DiscoveryReport* report = nullptr);
  void Add(size_t input, const ProteinEntry& entry, const talvo::Result& result) {
    Add(input, entry, std::span<const talvo::Result>(&result, 1));
  }
  // With own_mask, after Add: the entry's mask analysis, each class's
  // segments below -M in results and every segment's p-value in tally.
  void AddMask(const ProteinEntry& entry, std::span<const talvo::Result> results,
               std::span<const std::pair<double, uint32_t>> tally);
  // The settings of each class (--discover), which a shard table records.
  void SetClassSettings(std::vector<talvo::Settings> class_settings) {
    class_settings_ = std::move(class_settings);
  }
  // After each batch: hands its text on to the files.
  void EndBatch();
  // Before Finish: the fingerprints of each input (shard_table.h), which a
  // shard table records.
  void SetInputFingerprints(std::vector<Fingerprints> fingerprints) {
    input_fingerprints_ = std::move(fingerprints);
  }
  // After the last entry: the q-values, the segments and the summary; closes
  // every output and gives the files their names. Without it (a failed or
  // stopped run) the files keep what they held.
  void Finish();

  // The closing lines on standard error: skips by reason, then the counts.
  void PrintCounts();
  // Other messages start on a line of their own, not on the progress line.
  void EndProgressLine();

 private:
  // One output of the segments, in its format.
  struct SegmentOutput {
    std::unique_ptr<SegmentRows> rows;
    OutputStream stream;
    RowSpool spool;
    std::string text;  // of the current batch
  };

  // The text of the outputs of segments comes first, then the summary's and
  // the masked record.
  void Format(size_t input, const ProteinEntry& entry, std::span<const talvo::Result> results,
              const internal::DiscoveryReport* report, std::vector<std::string>& text,
              size_t worker);
  void FormatMask(const ProteinEntry& entry, std::span<const talvo::Result> results,
                  std::span<const std::pair<double, uint32_t>> tally, std::string& text,
                  size_t worker);
  void Admit(size_t input, const ProteinEntry& entry, std::span<const talvo::Result> results,
             const internal::DiscoveryReport* report, const std::vector<std::string>& text);
  void OpenSegments(const std::string& path, OutputFormat format, bool shard_table);
  void CopyOut(RowSpool& spool, const QValues& q_values, SegmentRows* rows, OutputStream& stream);
  std::string ShardTableHeader() const;
  void CopyMasks();
  void NoteSkip(const std::string& input, const ProteinEntry& entry, const std::string& id,
                talvo::Skip skip);
  size_t BatchSize() const;
  void ShowProgress(bool last);

  const ProteomeOptions& options_;
  const talvo::Settings& settings_;
  Reporting reporting_;
  std::vector<std::unique_ptr<SegmentOutput>> segments_;  // --output first
  bool q_values_needed_ = false;                          // by a segments output other than BED
  bool admit_reads_id_ = false;                           // by a segments output (GFF3)
  OutputStream summary_, masked_;
  RowSpool summary_spool_;
  RowSpool masked_spool_;  // --discover: the masks wait for the q-values
  bool own_mask_;          // of the mask's counts, not the segments'
  std::vector<talvo::Settings> class_settings_;
  // The p-values counted by each analysis thread, put together by Finish;
  // a cache line each.
  struct alignas(64) Counts {
    QValues segments, summary, mask;
    long rows = 0;  // segment rows reported
  };
  std::vector<Counts> counts_;
  std::string summary_text_, masked_text_;  // of the current batch

  std::vector<Fingerprints> input_fingerprints_;
  long analysed_ = 0;
  std::array<long, 5> skipped_{};  // by talvo::Skip
  long long residues_ = 0;

  std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point last_progress_;
  bool progress_shown_ = false;
};

}  // namespace talvo::proteome
