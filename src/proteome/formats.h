// The output formats: segment rows as TSV, GFF3 or BED6, the per-protein
// summary and the masked FASTA records.
#pragma once
#include <string>
#include <unordered_map>

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

// Writes segment rows in one format; keeps what GFF3 needs across rows.
class SegmentFormatter {
 public:
  explicit SegmentFormatter(OutputFormat format) : format_(format) {}
  std::string Header() const;
  // GFF3 declares each seqid's region once: proteins that share an ID (in
  // different inputs, say) get one region as long as the longest of them.
  void NoteProtein(const std::string& id, long length);
  std::string Format(const SegmentRow& row);

 private:
  OutputFormat format_;
  long features_ = 0;
  std::unordered_map<std::string, long> region_length_;  // by ID; -1 once declared
};

extern const char kSummaryHeader[];
std::string FormatSummaryRow(const std::string& input, long entry, const std::string& id,
                             const talvo::Result& result);
// ">header", then the residues 80 to a line.
std::string FormatMaskedRecord(const std::string& header, const std::string& residues);
// The protein ID: the header up to its first white space; for a header that
// is empty or starts with white space, "entry_N" from the entry's number in
// its input, so that GFF3 and BED always get a name.
std::string ProteinId(const std::string& header, long entry);
