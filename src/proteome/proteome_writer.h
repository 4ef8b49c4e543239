// What talvo-proteome writes from the analysed entries, handed to it in input
// order: the segments (TSV, GFF3 or BED), the summary, the masked FASTA, the
// skip counts and the progress line. Each row is formatted once; rows that
// wait for their q-values wait in temporary files, and the q-values come from
// counts of the distinct p-values, so memory does not grow with the run.
#pragma once
#include <array>
#include <chrono>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "proteome/benjamini_hochberg.h"
#include "proteome/fasta_stream.h"
#include "proteome/formats.h"
#include "proteome/output_files.h"
#include "proteome/pipeline.h"
#include "proteome/region_lengths.h"
#include "proteome/row_spool.h"
#include "talvo/talvo.h"

class ProteomeWriter {
 public:
  ProteomeWriter(const ProteomeOptions& options, const talvo::Settings& settings)
      : options_(options), settings_(settings), segments_(options.format, options.description) {}
  ProteomeWriter(const ProteomeWriter&) = delete;
  ProteomeWriter& operator=(const ProteomeWriter&) = delete;
  ~ProteomeWriter();

  // Each returns false after the first failure, with error().
  bool Open();
  // One entry of the input with index `input`, in input order.
  bool Add(size_t input, const ProteinEntry& entry, const talvo::Result& result);
  // After each batch: hands its text on to the files.
  bool EndBatch();
  // Before Finish: the CRC-32 fingerprint of each input read to its end
  // (Crc32FingerprintValue; empty for none), which a shard table records.
  void SetInputFingerprints(std::vector<std::string> fingerprints) {
    input_fingerprints_ = std::move(fingerprints);
  }
  // After the last entry: the q-values, the segments and the summary; closes
  // every output and gives the files their names. Without it (a failed or
  // stopped run) the files keep what they held.
  bool Finish();

  const std::string& error() const { return error_; }
  // The reader of an output went away (EPIPE): the run ends quietly.
  bool broken_pipe() const { return broken_pipe_; }
  // The closing lines on standard error: skips by reason, then the counts.
  void PrintCounts();
  // Other messages start on a line of their own, not on the progress line.
  void EndProgressLine();

 private:
  // An output stream whose every write is checked: standard output, or a
  // file that takes its name only when the run has succeeded.
  struct Output {
    std::string name;
    FILE* file = nullptr;
    OutputFile named;  // unused for standard output
    bool Write(const std::string& text);
    bool Close();  // false when anything written was lost
  };

  bool OpenOutput(const std::string& name, Output& output);
  bool OpenSpool(RowSpool& spool);
  bool CopySpool(RowSpool& spool, const QValues& q_values, Output& output);
  std::string SegmentHeader() const;
  void AddSegments(const std::string& input, const ProteinEntry& entry, const std::string& id,
                   const talvo::Result& result);
  void NoteSkip(const std::string& input, const ProteinEntry& entry, const std::string& id,
                talvo::Skip skip);
  bool Fail(const std::string& message);
  bool FailWrite(const Output& output);
  void ShowProgress(bool last);

  const ProteomeOptions& options_;
  const talvo::Settings& settings_;
  SegmentFormatter segments_;
  Output output_, summary_, masked_;
  RowSpool segment_spool_, summary_spool_;
  QValues segment_q_, summary_q_;
  RegionLengths regions_;  // GFF3 only
  bool regions_ok_ = true;
  long region_length_ = 0;                                 // of the region line being copied
  std::string segment_text_, summary_text_, masked_text_;  // of the current batch

  long rows_ = 0;  // segment rows reported
  std::vector<std::string> input_fingerprints_;
  long analysed_ = 0;
  std::array<long, 5> skipped_{};  // by talvo::Skip
  long long residues_ = 0;
  std::string error_;
  bool broken_pipe_ = false;

  std::chrono::steady_clock::time_point started_ = std::chrono::steady_clock::now();
  std::chrono::steady_clock::time_point last_progress_;
  bool progress_shown_ = false;
};
