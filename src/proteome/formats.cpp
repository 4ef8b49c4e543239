#include "proteome/formats.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "proteome/gff3_rows.h"
#include "proteome/row_spool.h"
#include "proteome/segment_row.h"
#include "proteome/shard_table.h"
#include "proteome/shortest_double.h"

namespace talvo::proteome {
namespace {

// A segment's residues: its own, or the entry's at its place when the
// analysis left them out.
std::string_view SegmentResidues(const ProteinEntry& entry, const talvo::Segment& segment) {
  if (!segment.residues.empty()) return segment.residues;
  return std::string_view(entry.residues)
      .substr(static_cast<size_t>(segment.start - 1), static_cast<size_t>(segment.length));
}

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

// input, entry, id, (class,) length, segment, start, end, seg_length,
// special, p_value, q_value, residues (and the description); a shard table's
// protein line before each protein's rows.
class TsvRows : public SegmentRows {
 public:
  TsvRows(const Reporting& reporting, bool shard_table, bool description, bool discover)
      : reporting_(reporting),
        shard_table_(shard_table),
        description_(description),
        discover_(discover) {}
  std::string Header() const override {
    const std::string header = SegmentRowHeader(discover_);
    return description_ ? WithDescription(header) : header;
  }

  void AppendProtein(std::string& out, const AnalysedProtein& protein) const override {
    if (shard_table_) AppendProteinLine(out, protein.input, protein.entry, protein.results);
    // The protein's columns before the class, its length, and its
    // description with the newline.
    std::string row_id, row_length, row_end;
    protein.ForEachReported(reporting_, [&](size_t c, long number, const talvo::Segment& segment) {
      if (row_id.empty()) Begin(protein, row_id, row_length, row_end);
      out += row_id;
      if (protein.classes) out += protein.ClassField(c);
      out += row_length;
      for (long value : {number, static_cast<long>(segment.start), static_cast<long>(segment.end),
                         static_cast<long>(segment.length), static_cast<long>(segment.special)}) {
        AppendNumber(out, value);
        out += '\t';
      }
      AppendShortest(out, segment.p_value);
      out += '\t';
      RowSpool::AppendMarker(out, kQMarker, segment.p_value);
      out += '\t';
      out += SegmentResidues(protein.entry, segment);
      out += row_end;
    });
  }

 private:
  void Begin(const AnalysedProtein& protein, std::string& row_id, std::string& row_length,
             std::string& row_end) const {
    row_id = EscapeField(protein.input) + '\t';
    AppendNumber(row_id, protein.entry.number);
    row_id += '\t' + EscapeField(protein.id) + '\t';
    AppendNumber(row_length, protein.first().length);
    row_length += '\t';
    row_end =
        description_ ? '\t' + EscapeField(ProteinDescription(protein.entry.header)) + '\n' : "\n";
  }

  Reporting reporting_;
  bool shard_table_;
  bool description_;
  bool discover_;
};

// BED6: chrom (the ID), 0-based start, end, name, score, strand. BED has no
// escaping of its own: the TSV escapes keep a row on one line. The name is
// ID_segmentN, or ID_CLASS_segmentN with --discover.
class BedRows : public SegmentRows {
 public:
  explicit BedRows(const Reporting& reporting) : reporting_(reporting) {}
  std::string Header() const override { return ""; }
  bool Spooled() const override { return false; }

  void AppendProtein(std::string& out, const AnalysedProtein& protein) const override {
    std::string chrom;
    protein.ForEachReported(reporting_, [&](size_t c, long number, const talvo::Segment& segment) {
      if (chrom.empty()) chrom = EscapeField(protein.id);
      out += chrom;
      out += '\t';
      AppendNumber(out, segment.start - 1);
      out += '\t';
      AppendNumber(out, segment.end);
      out += '\t';
      out += chrom;
      if (protein.classes) out += '_' + (*protein.classes)[c].name;
      out += "_segment";
      AppendNumber(out, number);
      out += '\t';
      AppendNumber(out, BedScore(segment.p_value));
      out += "\t.\n";
    });
  }

 private:
  Reporting reporting_;
};

}  // namespace

std::unique_ptr<SegmentRows> MakeSegmentRows(OutputFormat format, const Reporting& reporting,
                                             bool shard_table, bool description, bool discover) {
  switch (format) {
    case OutputFormat::kGff3:
      return std::make_unique<Gff3Rows>(reporting);
    case OutputFormat::kBed:
      return std::make_unique<BedRows>(reporting);
    case OutputFormat::kTsv:
      break;
  }
  return std::make_unique<TsvRows>(reporting, shard_table, description, discover);
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

std::string SummaryHeader(bool description, bool discover) {
  const std::string header = std::string("input\tentry\tid\t") + (discover ? "class\t" : "") +
                             "length\tspecial\texpected\tdirection\texact_tail\tq_value\tskipped\n";
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

void AppendSummaryRows(std::string& out, const AnalysedProtein& protein, bool description) {
  const std::string row_end =
      description ? '\t' + EscapeField(ProteinDescription(protein.entry.header)) + '\n' : "\n";
  std::string row_id = EscapeField(protein.input) + '\t';
  AppendNumber(row_id, protein.entry.number);
  row_id += '\t' + EscapeField(protein.id) + '\t';
  for (size_t c = 0; c < protein.results.size(); c++) {
    const talvo::Result& result = protein.results[c];
    out += row_id;
    out += protein.ClassField(c);
    AppendNumber(out, result.length);
    if (result.skip != talvo::Skip::kNone) {
      out += "\t\t\t\t\t\t";
      out += talvo::SkipText(result.skip);
      out += row_end;
      continue;
    }
    out += '\t';
    AppendOverall(out, result.overall);
    out += '\t';
    RowSpool::AppendMarker(out, kQMarker, result.overall.exact_tail);
    out += '\t';
    out += row_end;
  }
}

std::string FormatMaskedRecord(const std::string& header, const std::string& residues) {
  std::string text = '>' + header + '\n';
  for (size_t from = 0; from < residues.size(); from += kFastaWidth) {
    text.append(residues, from, kFastaWidth);
    text += '\n';
  }
  return text;
}

void AppendMaskCandidates(std::string& out, const ProteinEntry& entry,
                          std::span<const talvo::Result> results, double mask_p, bool lower_case) {
  const std::string& residues = entry.residues;
  const double kNone = 2.0;  // above every p-value
  std::vector<double> smallest(residues.size(), kNone);
  talvo::Result candidates;
  for (const talvo::Result& result : results) {
    for (const talvo::Segment& segment : result.segments) {
      if (!(segment.p_value < mask_p) || segment.end > static_cast<int>(residues.size())) continue;
      candidates.segments.push_back(segment);
      for (int i = segment.start - 1; i < segment.end; i++) {
        smallest[i] = std::min(smallest[i], segment.p_value);
      }
    }
  }
  const std::string plain = FormatMaskedRecord(entry.header, residues);
  const std::string masked =
      FormatMaskedRecord(entry.header, talvo::Masked(residues, candidates, mask_p, lower_case));
  // Residue i of the record sits after the header line and i / 80 newlines.
  const size_t head =
      plain.size() - residues.size() - (residues.size() + kFastaWidth - 1) / kFastaWidth;
  const auto offset = [&](size_t i) {
    return i < residues.size() ? head + i + i / kFastaWidth : plain.size();
  };
  RowSpool::AppendMarker(out, kKeptMarker, uint64_t{0});
  out.append(plain, 0, head);
  for (size_t from = 0; from < residues.size();) {
    size_t to = from + 1;
    while (to < residues.size() && smallest[to] == smallest[from]) to++;
    const size_t begin = offset(from), length = offset(to) - begin;
    if (smallest[from] == kNone) {
      RowSpool::AppendMarker(out, kKeptMarker, uint64_t{0});
    } else {
      RowSpool::AppendMarker(out, kMaskedMarker, smallest[from]);
      out.append(masked, begin, length);
      RowSpool::AppendMarker(out, kPlainMarker, smallest[from]);
    }
    out.append(plain, begin, length);
    from = to;
  }
}

}  // namespace talvo::proteome

namespace talvo {

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

}  // namespace talvo
