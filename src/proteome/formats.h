// The output formats: segment rows as TSV, GFF3 or BED6, the per-protein
// summary and the masked FASTA records.
#pragma once
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "proteome/segment_row.h"
#include "talvo/talvo.h"

enum class OutputFormat { kTsv, kGff3, kBed };

// GFF3 percent-encoding: tab, newline, CR, '%' and control bytes always; in a
// seqid every byte outside GFF3's unescaped set; in an attribute value also
// ';', '=', '&' and ','.
std::string GffEscapeSeqid(const std::string& text);
std::string GffEscapeAttribute(const std::string& text);
// BED score from a p-value: -10 log10(p) rounded, within 0..1000 (p = 0 and
// p below 1e-100 give 1000).
int BedScore(double p);

// Writes the rows of the run's segments in one format, each formatted once:
// the q-value is left open as a RowSpool marker of kind kQMarker (carrying
// the p-value). So is GFF3's region line before each protein's first
// feature: kRegionMarker opens it (kept only for the first protein of an ID,
// see RegionLengths), kRegionLengthMarker stands for its length and
// kRegionEndMarker closes it.
class SegmentFormatter {
 public:
  static constexpr char kQMarker = 'q';
  static constexpr char kRegionMarker = 'r';
  static constexpr char kRegionLengthMarker = 'l';
  static constexpr char kRegionEndMarker = 'e';

  // description: TSV rows end in a description column (--description).
  explicit SegmentFormatter(OutputFormat format, bool description = false)
      : format_(format), description_(description) {}
  std::string Header() const;
  // Starts the reported segments of one protein; description is the
  // header's text after the ID (ProteinDescription).
  void BeginProtein(const std::string& input, long entry, const std::string& id, long length,
                    const std::string& description = "");
  void AppendSegment(std::string& out, long index, const talvo::Segment& segment);

 private:
  void AppendRegion(std::string& out);

  OutputFormat format_;
  bool description_;
  std::string row_end_;    // TSV with description: its column
  std::string row_start_;  // TSV: the protein's columns; GFF3: the seqid; BED: the chrom
  std::string name_;       // GFF3: the Name attribute's ID
  bool region_pending_ = false;
  long features_ = 0;
};

// The summary: one row per protein; an analysed one's q-value is left open as
// a RowSpool marker of kind SegmentFormatter::kQMarker carrying its exact
// tail, a skipped one has only its length and the reason.
// With a description (--description), a last column holds it.
extern const char kSummaryHeader[];
std::string SummaryHeader(bool description);
void AppendSummaryRow(std::string& out, const std::string& input, long entry, const std::string& id,
                      const talvo::Result& result, const std::string* description = nullptr);
// ">header", then the residues 80 to a line.
std::string FormatMaskedRecord(const std::string& header, const std::string& residues);
// The protein ID: the header up to its first white space; for a header that
// is empty or starts with white space, "entry_N" from the entry's number in
// its input, so that GFF3 and BED always get a name.
std::string ProteinId(const std::string& header, long entry);
// The header's text after its ID and the white space that follows it (OS=,
// GN= ...), without trailing white space; empty when there is none.
std::string ProteinDescription(const std::string& header);
