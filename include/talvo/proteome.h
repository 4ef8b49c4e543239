// Whole proteomes with TALVO's analysis, as talvo-proteome runs them: FASTA
// files (plain or gzip) read entry by entry, every entry analysed on N
// threads and handed on in input order, Benjamini-Hochberg q-values, and
// talvo-proteome's outputs (the TSV table, GFF3, BED, the summary and the
// masked FASTA), byte for byte.
//
//   talvo::Analyser analyser(talvo::Settings{});
//   talvo::ProteomeBatches batches({.paths = {"proteome.fa.gz"}}, analyser, 4);
//   std::vector<talvo::AnalysedEntry> batch;
//   while (batches.Next(batch)) {
//     for (const talvo::AnalysedEntry& e : batch) ...  // e.entry, e.result
//   }
//
// Link talvo::proteome (CMake) or talvo-proteome (pkg-config); it needs
// zlib and threads. Every failure is a talvo::Error; nothing prints.
#pragma once
#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "talvo/memory.h"
#include "talvo/talvo.h"

namespace talvo {

namespace proteome {
class FastaStream;
class OrderedPipeline;
class ProteomeWriter;
struct ProteomeOptions;
}  // namespace proteome

// One FASTA entry.
struct ProteinEntry {
  long number = 0;       // 1 for the first entry of its input
  std::string header;    // the header line after '>', without CR/LF
  std::string residues;  // letters (upper-cased) and '-', as the analysis counts them
};

// The protein ID: the header up to its first white space, or "entry_N" for a
// header that is empty or starts with white space.
std::string ProteinId(const std::string& header, long number);
// The header's text after its ID and the white space that follows it (OS=,
// GN= ...), without trailing white space; empty when there is none.
std::string ProteinDescription(const std::string& header);

// Reads a FASTA file entry by entry: plain, gzip or multi-member gzip; "-"
// is standard input. Binary bytes, broken or trailing gzip data and files
// that cannot be read are errors (thrown), never a silent end.
class FastaReader {
 public:
  explicit FastaReader(const std::string& path);  // throws Error when it cannot be opened
  ~FastaReader();
  FastaReader(const FastaReader&) = delete;
  FastaReader& operator=(const FastaReader&) = delete;
  // The next entry; false at the end of the input. Throws Error on a read error.
  bool Next(ProteinEntry& entry);
  // Warnings that do not stop the read (the input looks like nucleotides, a
  // '>' inside a sequence line), gathered since the last call.
  std::vector<std::string> TakeWarnings();

 private:
  std::unique_ptr<proteome::FastaStream> stream_;
};

// An entry with its analysis, and the index of its input.
struct AnalysedEntry {
  size_t input = 0;
  ProteinEntry entry;
  Result result;
  // talvo-proteome --discover's, in place of `result`: each class's result
  // (only its reported segments) and what the others leave for the q-values.
  std::vector<Result> classes;
  std::shared_ptr<internal::DiscoveryReport> discovery_report;
  // talvo-proteome's own rows of the entry, formatted on the analysis
  // thread; empty here.
  std::vector<std::string> text;
};

struct ProteomeInputs {
  std::vector<std::string> paths;  // "-" reads standard input
  long shard_index = 0;            // only entries whose (number - 1) mod count is index
  long shard_count = 1;
  // Called on the thread that takes the batches, before the entries that
  // follow it, with a warning about an input that does not stop the run: it
  // looks like nucleotides (at most once per input), or a sequence line holds
  // a '>' (a few per input, then their count).
  std::function<void(const std::string&)> warn;
  // Called on the thread that takes the batches for each input read to its
  // end without an error, with zlib's CRC-32 of its (decompressed) bytes and
  // their count.
  std::function<void(size_t input, unsigned long crc32, unsigned long long bytes)> read_whole =
      nullptr;
};

// Every entry of the inputs, analysed on `threads` threads (at least 1),
// handed to `sink` batch by batch in input order on the calling thread; the
// results never depend on the thread count. sink returns false to stop the
// run; its exception stops it too and comes out once the threads have ended.
// Throws Error for an input that cannot be opened or read.
void AnalyseProteome(const ProteomeInputs& inputs, const Analyser& analyser, int threads,
                     const std::function<bool(std::vector<AnalysedEntry>& batch)>& sink);
// The same with every class of a discovery: each entry's `classes`.
void AnalyseProteome(const ProteomeInputs& inputs, const Discovery& discovery, int threads,
                     const std::function<bool(std::vector<AnalysedEntry>& batch)>& sink);

// The same, pulled: the reader and the analysis threads start with the
// object and work ahead of Next by a bounded number of batches, so memory
// stays bounded however slowly the batches are taken.
class ProteomeBatches {
 public:
  // Throws Error when threads is below 1.
  ProteomeBatches(ProteomeInputs inputs, const Analyser& analyser, int threads);
  // Each entry's `classes` from the discovery.
  ProteomeBatches(ProteomeInputs inputs, const Discovery& discovery, int threads);
  ~ProteomeBatches();  // cancels and waits for the threads
  ProteomeBatches(const ProteomeBatches&) = delete;
  ProteomeBatches& operator=(const ProteomeBatches&) = delete;

  // The next batch in input order; false at the end (or after Cancel).
  // Throws Error for an input that cannot be read.
  bool Next(std::vector<AnalysedEntry>& batch);
  // The same, waiting at most `wait`: kWaiting when no batch came in time.
  enum class Pulled { kBatch, kEnd, kWaiting };
  Pulled Next(std::vector<AnalysedEntry>& batch, std::chrono::milliseconds wait);
  // From any thread: no entry is begun after it, and Next returns false. A
  // consumer that gives up waits for one entry per thread, not a batch.
  void Cancel();

 private:
  std::unique_ptr<proteome::OrderedPipeline> pipeline_;
};

// Benjamini-Hochberg q-values in memory proportional to the distinct
// p-values, not to their number: a first pass counts every p-value, a second
// looks each one up. A NaN ranks last, with q-value 1.
class QValues {
 public:
  QValues();
  // First pass: every p-value of the family, in any order (`times` times).
  void Count(double p, uint64_t times = 1);
  // The same for many (p-value, times) at once, sooner than one by one: the
  // slots of the later ones are fetched while the earlier ones are counted.
  void Count(std::span<const std::pair<double, uint32_t>> counts);
  // First pass: every count of `other` too (counts made on other threads).
  void Add(const QValues& other);
  // Between the passes: the step-up adjustment p * m / rank with the
  // cumulative minimum from the largest p down, capped at 1.
  void Finish();
  // Second pass: the q-value of a counted p-value (1 for one never counted).
  double Of(double p) const;
  // Asks the memory for where Of(p) will look, some lookups before it.
  void Prefetch(double p) const;

  uint64_t total() const { return total_; }
  size_t distinct() const { return distinct_; }

 private:
  // An open-addressing table keyed by the value's bits (-0 as 0); every
  // lookup of a run's many p-values stays in a few cache lines. A slot holds
  // the value's count until Finish, its q-value after.
  struct Slot {
    uint64_t bits;
    union {
      uint64_t count;
      double q;
    };
  };
  size_t Home(uint64_t bits) const;  // where the search for bits starts
  size_t Find(uint64_t bits) const;  // the slot holding bits, or the empty one to take
  void Grow();
  void Tally(uint64_t bits, uint64_t count);

  std::vector<Slot, internal::LargeAllocator<Slot>> slots_;  // a power of two, at most 3/4 full
  size_t distinct_ = 0;
  uint64_t total_ = 0;
  uint64_t not_a_number_ = 0;
};

// The q-values of p_values, in their order.
std::vector<double> QValuesOf(const std::vector<double>& p_values);

// talvo-proteome's outputs; each file name as its option takes it, empty for
// none. "-" is standard output, for the first of tsv, gff3 and bed only.
struct OutputFiles {
  std::string tsv;      // --output (the segment table)
  std::string gff3;     // --gff3
  std::string bed;      // --bed
  std::string summary;  // --summary
  std::string masked;   // --masked (masks by settings.mask_p, lower case with lower_case_mask)
  bool all_segments = false;  // --all: every segment, not only those below mask_p
  bool description = false;   // --description: a last column in the table and the summary
  // --mask-linkage: with a Discovery, --masked masks its classes' segments
  // found at this linkage distance, by their own q-values.
  int mask_linkage = kDiscoveryMaskLinkage;
};

// Writes the outputs from the analysed entries, handed to it in input order,
// exactly as talvo-proteome writes them for the same inputs and settings
// (q-values over every segment and every protein of the run). Each file
// appears under its name only at Finish: until then it is a hidden
// temporary file beside it, removed when the writer goes without Finish.
class ProteomeOutputs {
 public:
  // input_names: the input column's names, by input index (talvo-proteome's
  // are the paths as given). Throws Error when an output cannot be opened
  // or is one of the inputs.
  ProteomeOutputs(const OutputFiles& files, std::vector<std::string> input_names,
                  const Settings& settings);
  // talvo-proteome --discover's outputs (a class column, q-values over every
  // class, the masked union of the classes): Add takes entries with
  // `classes` from this discovery.
  ProteomeOutputs(const OutputFiles& files, std::vector<std::string> input_names,
                  const Discovery& discovery);
  ~ProteomeOutputs();
  ProteomeOutputs(const ProteomeOutputs&) = delete;
  ProteomeOutputs& operator=(const ProteomeOutputs&) = delete;

  void Add(const AnalysedEntry& entry);
  // After the last entry: the q-values and the rows that wait for them;
  // every output closed and given its name. Once only; Add throws after it.
  void Finish();

  long analysed() const { return analysed_; }
  long skipped(Skip reason) const { return skipped_[static_cast<size_t>(reason)]; }

 private:
  void Open(const std::vector<Settings>& class_settings);
  std::unique_ptr<proteome::ProteomeOptions> options_;
  Settings settings_;
  std::unique_ptr<Discovery> mask_;  // the classes at the mask's linkage distance
  std::unique_ptr<proteome::ProteomeWriter> writer_;
  long analysed_ = 0;
  std::array<long, 5> skipped_{};
  bool finished_ = false;
};

// Settings from talvo-proteome's analysis options: TALVO's options in
// TALVO's syntax, read strictly ("-A:R", "-W:20", "-I"), --fractional-windows,
// --exact-null and --seed N (or --seed=N). Throws Error, in talvo-proteome's
// words, for anything else or a value out of range.
Settings ProteomeSettings(const std::vector<std::string>& arguments);

}  // namespace talvo
