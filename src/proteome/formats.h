// The output formats: segment rows as TSV, GFF3 or BED6, the per-protein
// summary and the masked FASTA records. Each row is formatted once, as the
// proteins come in input order; what is known only when the run has ended
// is left open as a RowSpool marker and filled in when the rows are copied
// out.
#pragma once
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "proteome/fasta_stream.h"
#include "proteome/options.h"
#include "talvo/talvo.h"

namespace talvo::proteome {

struct Reporting;

// One entry of the run with its analysis: one result, or with --discover
// one per class, in the order of the class set.
struct AnalysedProtein {
  const std::string& input;  // as given ("-": standard input)
  const ProteinEntry& entry;
  const std::string& id;  // ProteinId
  std::span<const talvo::Result> results;
  const std::vector<talvo::ResidueClass>* classes = nullptr;  // --discover: results' classes
  // When the results hold only the reported segments (--discover): each
  // one's number among its class's segments, class after class.
  std::span<const int> numbers = {};
  // Every result has the protein's length and skip.
  const talvo::Result& first() const { return results.front(); }
  // The class column's text of results[i], with its tab; "" without classes.
  std::string ClassField(size_t i) const { return classes ? (*classes)[i].name + '\t' : ""; }
  // Calls row(class index, segment number, segment) for every reported
  // segment, class after class.
  template <class Row>
  void ForEachReported(const Reporting& reporting, const Row& row) const;
};

// Which segments a run reports: all of them, or those with p below -M.
struct Reporting {
  bool all_segments = false;
  double mask_p = 0.05;
  bool operator()(const talvo::Segment& segment) const {
    return all_segments || segment.p_value < mask_p;
  }
};

template <class Row>
void AnalysedProtein::ForEachReported(const Reporting& reporting, const Row& row) const {
  size_t kept = 0;
  for (size_t c = 0; c < results.size(); c++) {
    long number = 0;
    for (const talvo::Segment& segment : results[c].segments) {
      number = numbers.empty() ? number + 1 : numbers[kept++];
      if (reporting(segment)) row(c, number, segment);
    }
  }
}

// The q-value of a row, left open: its payload is the p-value.
constexpr char kQMarker = 'q';

// The segments of a run in one format.
class SegmentRows {
 public:
  virtual ~SegmentRows() = default;
  // The lines above the rows.
  virtual std::string Header() const = 0;
  // Appends the rows of the protein's reported segments. Safe on any thread:
  // what depends on the proteins before it is left open as a marker.
  virtual void AppendProtein(std::string& out, const AnalysedProtein& protein) const = 0;
  // Takes note of each protein in run order, whoever formatted its rows.
  virtual void Admit(const AnalysedProtein& /*protein*/) {}
  // Whether Admit reads the protein's id (which is otherwise left empty).
  virtual bool AdmitReadsId() const { return false; }
  // False when the rows go straight to the output: they leave nothing open.
  virtual bool Spooled() const { return true; }
  // After the last protein, before the rows are copied out.
  virtual void Finish() {}
  // Fills in a marker of the format's own (not kQMarker); says whether the
  // text up to the next marker is kept.
  virtual bool Resolve(char /*kind*/, uint64_t /*payload*/, std::string& /*out*/) { return true; }
};

// The rows of `format`; a TSV shard table (shard_table) also has a line for
// every protein (shard_table.h); TSV rows with `description` end in the
// protein's description (--description). With `discover` each row names its
// class: a TSV column after the ID, a GFF3 attribute, part of the BED name.
std::unique_ptr<SegmentRows> MakeSegmentRows(OutputFormat format, const Reporting& reporting,
                                             bool shard_table, bool description, bool discover);

// GFF3 percent-encoding: tab, newline, CR, '%' and control bytes always; in a
// seqid every byte outside GFF3's unescaped set; in an attribute value also
// ';', '=', '&' and ','.
std::string GffEscapeSeqid(const std::string& text);
std::string GffEscapeAttribute(const std::string& text);
// BED score from a p-value: -10 log10(p) rounded, within 0..1000 (p = 0 and
// p below 1e-100 give 1000).
int BedScore(double p);
void AppendNumber(std::string& out, long value);

// The summary: one row per protein (and class, with a class column after the
// ID, with --discover); an analysed one's q-value is left open as a kQMarker
// carrying its exact tail, a skipped one has only its length and the reason.
// With `description`, a last column holds it.
std::string SummaryHeader(bool description, bool discover);
void AppendSummaryRows(std::string& out, const AnalysedProtein& protein, bool description);
// The overall test's fields, "special\texpected\tdirection\texact_tail".
void AppendOverall(std::string& out, const talvo::Overall& overall);
// ">header", then the residues 80 to a line.
std::string FormatMaskedRecord(const std::string& header, const std::string& residues);
// --discover's masked record, which waits for the q-values: every stretch
// that a segment with p below mask_p covers is written masked after a
// kMaskedMarker and plain after a kPlainMarker, both carrying the smallest
// p-value of the segments that cover it; the rest follows a kKeptMarker.
// The copy keeps the masked text where that p-value's q-value is below
// mask_p, the plain text otherwise.
constexpr char kKeptMarker = 'k';
constexpr char kMaskedMarker = 'm';
constexpr char kPlainMarker = 'u';
void AppendMaskCandidates(std::string& out, const ProteinEntry& entry,
                          std::span<const talvo::Result> results, double mask_p, bool lower_case);
// The protein ID ("entry_N" for a header without one, so that GFF3 and BED
// always get a name) and the header's description: talvo/proteome.h.
using talvo::ProteinDescription;
using talvo::ProteinId;

}  // namespace talvo::proteome
