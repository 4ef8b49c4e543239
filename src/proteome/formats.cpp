#include "proteome/formats.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "proteome/gff3_rows.h"
#include "proteome/row_spool.h"
#include "proteome/segment_row.h"
#include "proteome/shard_table.h"
#include "proteome/shortest_double.h"

namespace talvo::proteome {
namespace {

constexpr size_t kFastaWidth = 80;

std::string PercentEncode(const std::string& text, bool (*keep)(unsigned char)) {
  std::string encoded;
  for (char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (keep(byte)) {
      encoded += c;
    } else {
      char hex[4];
      snprintf(hex, sizeof hex, "%%%02X", byte);
      encoded += hex;
    }
  }
  return encoded;
}

bool IsControl(unsigned char byte) {
  return byte < 0x20 || byte == 0x7f;
}

bool KeepInSeqid(unsigned char byte) {
  return (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
         (byte >= '0' && byte <= '9') || (byte != 0 && strchr(".:^*$@!+_?-|", byte) != nullptr);
}

bool KeepInAttribute(unsigned char byte) {
  return !IsControl(byte) && byte != '%' && byte != ';' && byte != '=' && byte != '&' &&
         byte != ',';
}

// A header line with a description column before its newline.
std::string WithDescription(std::string header) {
  return header.insert(header.size() - 1, "\tdescription");
}

// input, entry, id, length, segment, start, end, seg_length, special,
// p_value, q_value, residues (and the description); a shard table's protein
// line before each protein's rows.
class TsvRows : public SegmentRows {
 public:
  TsvRows(const Reporting& reporting, bool shard_table, bool description)
      : reporting_(reporting), shard_table_(shard_table), description_(description) {}
  std::string Header() const override {
    return description_ ? WithDescription(kSegmentRowHeader) : kSegmentRowHeader;
  }

  void AppendProtein(std::string& out, const AnalysedProtein& protein) override {
    if (shard_table_) AppendProteinLine(out, protein.input, protein.entry, protein.result);
    bool begun = false;
    long index = 0;
    for (const talvo::Segment& segment : protein.result.segments) {
      index++;
      if (!reporting_(segment)) continue;
      if (!begun) Begin(protein);
      begun = true;
      out += row_start_;
      for (long number : {index, static_cast<long>(segment.start), static_cast<long>(segment.end),
                          static_cast<long>(segment.length), static_cast<long>(segment.special)}) {
        AppendNumber(out, number);
        out += '\t';
      }
      AppendShortest(out, segment.p_value);
      out += '\t';
      RowSpool::AppendMarker(out, kQMarker, segment.p_value);
      out += '\t';
      out += segment.residues;
      out += row_end_;
    }
  }

 private:
  void Begin(const AnalysedProtein& protein) {
    row_start_ = EscapeField(protein.input) + '\t';
    AppendNumber(row_start_, protein.entry.number);
    row_start_ += '\t' + EscapeField(protein.id) + '\t';
    AppendNumber(row_start_, protein.result.length);
    row_start_ += '\t';
    row_end_ =
        description_ ? '\t' + EscapeField(ProteinDescription(protein.entry.header)) + '\n' : "\n";
  }

  Reporting reporting_;
  bool shard_table_;
  bool description_;
  std::string row_start_;  // the protein's columns
  std::string row_end_;    // its description, if any, and the newline
};

// BED6: chrom (the ID), 0-based start, end, name, score, strand. BED has no
// escaping of its own: the TSV escapes keep a row on one line.
class BedRows : public SegmentRows {
 public:
  explicit BedRows(const Reporting& reporting) : reporting_(reporting) {}
  std::string Header() const override { return ""; }
  bool Spooled() const override { return false; }

  void AppendProtein(std::string& out, const AnalysedProtein& protein) override {
    bool begun = false;
    long index = 0;
    for (const talvo::Segment& segment : protein.result.segments) {
      index++;
      if (!reporting_(segment)) continue;
      if (!begun) chrom_ = EscapeField(protein.id);
      begun = true;
      out += chrom_;
      out += '\t';
      AppendNumber(out, segment.start - 1);
      out += '\t';
      AppendNumber(out, segment.end);
      out += '\t';
      out += chrom_;
      out += "_segment";
      AppendNumber(out, index);
      out += '\t';
      AppendNumber(out, BedScore(segment.p_value));
      out += "\t.\n";
    }
  }

 private:
  Reporting reporting_;
  std::string chrom_;
};

}  // namespace

std::unique_ptr<SegmentRows> MakeSegmentRows(OutputFormat format, const Reporting& reporting,
                                             bool shard_table, bool description) {
  switch (format) {
    case OutputFormat::kGff3:
      return std::make_unique<Gff3Rows>(reporting);
    case OutputFormat::kBed:
      return std::make_unique<BedRows>(reporting);
    case OutputFormat::kTsv:
      break;
  }
  return std::make_unique<TsvRows>(reporting, shard_table, description);
}

std::string GffEscapeSeqid(const std::string& text) {
  return PercentEncode(text, KeepInSeqid);
}

std::string GffEscapeAttribute(const std::string& text) {
  return PercentEncode(text, KeepInAttribute);
}

int BedScore(double p) {
  if (!(p > 1e-100)) return 1000;
  const double score = std::round(-10.0 * std::log10(p));
  if (score < 0) return 0;
  return score > 1000 ? 1000 : static_cast<int>(score);
}

void AppendNumber(std::string& out, long value) {
  char text[24];
  const auto result = std::to_chars(text, text + sizeof text, value);
  out.append(text, result.ptr);
}

std::string SummaryHeader(bool description) {
  const std::string header =
      "input\tentry\tid\tlength\tspecial\texpected\tdirection\texact_tail\tq_value\tskipped\n";
  return description ? WithDescription(header) : header;
}

void AppendOverall(std::string& out, const talvo::Overall& overall) {
  AppendNumber(out, overall.special);
  char expected[32];
  snprintf(expected, sizeof expected, "\t%.0f\t", overall.expected);
  out += expected;
  out += overall.direction;
  out += '\t';
  AppendShortest(out, overall.exact_tail);
}

void AppendSummaryRow(std::string& out, const AnalysedProtein& protein, bool description) {
  const talvo::Result& result = protein.result;
  const std::string row_end =
      description ? '\t' + EscapeField(ProteinDescription(protein.entry.header)) + '\n' : "\n";
  out += EscapeField(protein.input);
  out += '\t';
  AppendNumber(out, protein.entry.number);
  out += '\t' + EscapeField(protein.id) + '\t';
  AppendNumber(out, result.length);
  if (result.skip != talvo::Skip::kNone) {
    out += "\t\t\t\t\t\t";
    out += talvo::SkipText(result.skip);
    out += row_end;
    return;
  }
  out += '\t';
  AppendOverall(out, result.overall);
  out += '\t';
  RowSpool::AppendMarker(out, kQMarker, result.overall.exact_tail);
  out += '\t';
  out += row_end;
}

std::string FormatMaskedRecord(const std::string& header, const std::string& residues) {
  std::string text = '>' + header + '\n';
  for (size_t from = 0; from < residues.size(); from += kFastaWidth) {
    text.append(residues, from, kFastaWidth);
    text += '\n';
  }
  return text;
}

std::string ProteinId(const std::string& header, long entry) {
  size_t end = 0;
  for (; end < header.size(); end++) {
    const char c = header[end];
    if (c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r') break;
  }
  if (end == 0) return "entry_" + std::to_string(entry);
  return header.substr(0, end);
}

std::string ProteinDescription(const std::string& header) {
  constexpr const char* kBlank = " \t\v\f\r";
  const size_t id_end = header.find_first_of(kBlank);
  const size_t start = header.find_first_not_of(kBlank, id_end);
  if (id_end == std::string::npos || start == std::string::npos) return "";
  return header.substr(start, header.find_last_not_of(kBlank) + 1 - start);
}

}  // namespace talvo::proteome
