#include "proteome/formats.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstring>

#include "proteome/row_spool.h"

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

}  // namespace

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

std::string SegmentFormatter::Header() const {
  switch (format_) {
    case OutputFormat::kTsv:
      if (description_) {
        std::string header = kSegmentRowHeader;
        return header.insert(header.size() - 1, "\tdescription");
      }
      return kSegmentRowHeader;
    case OutputFormat::kGff3:
      return "##gff-version 3\n";
    case OutputFormat::kBed:
      break;
  }
  return "";
}

namespace {

void AppendNumber(std::string& out, long value) {
  char text[24];
  const auto result = std::to_chars(text, text + sizeof text, value);
  out.append(text, result.ptr);
}

void AppendShortest(std::string& out, double value) {
#ifdef __cpp_lib_to_chars
  char text[64];
  const auto result = std::to_chars(text, text + sizeof text, value);
  out.append(text, result.ptr);
#else
  out += ShortestDouble(value);  // standard libraries without floating-point to_chars
#endif
}

}  // namespace

void SegmentFormatter::BeginProtein(const std::string& input, long entry, const std::string& id,
                                    long length, const std::string& description) {
  switch (format_) {
    case OutputFormat::kTsv:
      row_start_ = EscapeField(input) + '\t';
      AppendNumber(row_start_, entry);
      row_start_ += '\t' + EscapeField(id) + '\t';
      AppendNumber(row_start_, length);
      row_start_ += '\t';
      row_end_ = description_ ? '\t' + EscapeField(description) : "";
      break;
    case OutputFormat::kGff3:
      row_start_ = GffEscapeSeqid(id);
      name_ = GffEscapeAttribute(id);
      region_pending_ = true;
      break;
    case OutputFormat::kBed:
      // BED has no escaping of its own: the TSV escapes keep a row on one line.
      row_start_ = EscapeField(id);
      break;
  }
}

void SegmentFormatter::AppendRegion(std::string& out) {
  region_pending_ = false;
  RowSpool::AppendMarker(out, kRegionMarker, uint64_t{0});
  out += "##sequence-region " + row_start_ + " 1 ";
  RowSpool::AppendMarker(out, kRegionLengthMarker, uint64_t{0});
  out += '\n';
  RowSpool::AppendMarker(out, kRegionEndMarker, uint64_t{0});
}

void SegmentFormatter::AppendSegment(std::string& out, long index, const talvo::Segment& segment) {
  if (format_ == OutputFormat::kTsv) {
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
    out += '\n';
    return;
  }
  if (format_ == OutputFormat::kBed) {
    out += row_start_;
    out += '\t';
    AppendNumber(out, segment.start - 1);
    out += '\t';
    AppendNumber(out, segment.end);
    out += '\t';
    out += row_start_;
    out += "_segment";
    AppendNumber(out, index);
    out += '\t';
    AppendNumber(out, BedScore(segment.p_value));
    out += "\t.\n";
    return;
  }
  if (region_pending_) AppendRegion(out);
  ++features_;
  out += row_start_;
  out += "\ttalvo-proteome\tcompositionally_biased_region_of_peptide\t";
  AppendNumber(out, segment.start);
  out += '\t';
  AppendNumber(out, segment.end);
  out += '\t';
  AppendShortest(out, segment.p_value);
  out += "\t.\t.\tID=segment";
  AppendNumber(out, features_);
  out += ";Name=" + name_ + "_segment";
  AppendNumber(out, index);
  out += ";Ontology_term=SO:0001066;special=";
  AppendNumber(out, segment.special);
  out += ";p_value=";
  AppendShortest(out, segment.p_value);
  out += ";q_value=";
  RowSpool::AppendMarker(out, kQMarker, segment.p_value);
  out += '\n';
}

const char kSummaryHeader[] =
    "input\tentry\tid\tlength\tspecial\texpected\tdirection\texact_tail\tq_value\tskipped\n";

std::string SummaryHeader(bool description) {
  std::string header = kSummaryHeader;
  return description ? header.insert(header.size() - 1, "\tdescription") : header;
}

void AppendSummaryRow(std::string& out, const std::string& input, long entry, const std::string& id,
                      const talvo::Result& result, const std::string* description) {
  const std::string row_end = description ? '\t' + EscapeField(*description) + '\n' : "\n";
  out += EscapeField(input);
  out += '\t';
  AppendNumber(out, entry);
  out += '\t' + EscapeField(id) + '\t';
  AppendNumber(out, result.length);
  if (result.skip != talvo::Skip::kNone) {
    out += "\t\t\t\t\t\t";
    out += talvo::SkipText(result.skip);
    out += row_end;
    return;
  }
  out += '\t';
  AppendNumber(out, result.overall.special);
  char expected[32];
  snprintf(expected, sizeof expected, "\t%.0f\t", result.overall.expected);
  out += expected;
  out += result.overall.direction;
  out += '\t';
  AppendShortest(out, result.overall.exact_tail);
  out += '\t';
  RowSpool::AppendMarker(out, SegmentFormatter::kQMarker, result.overall.exact_tail);
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
