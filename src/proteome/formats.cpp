#include "proteome/formats.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>

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
      return kSegmentRowHeader;
    case OutputFormat::kGff3:
      return "##gff-version 3\n";
    case OutputFormat::kBed:
      break;
  }
  return "";
}

void SegmentFormatter::NoteProtein(const std::string& id, long length) {
  long& region = region_length_[id];
  region = std::max(region, length);
}

std::string SegmentFormatter::Format(const SegmentRow& row) {
  if (format_ == OutputFormat::kTsv) return FormatSegmentRow(row);
  const std::string q = row.q_value ? ShortestDouble(*row.q_value) : ".";
  const std::string p = ShortestDouble(row.p_value);
  if (format_ == OutputFormat::kBed) {
    // BED has no escaping of its own: the TSV escapes keep a row on one line.
    const std::string chrom = EscapeField(row.id);
    return chrom + '\t' + std::to_string(row.start - 1) + '\t' + std::to_string(row.end) + '\t' +
           chrom + "_segment" + std::to_string(row.segment) + '\t' +
           std::to_string(BedScore(row.p_value)) + "\t.\n";
  }
  std::string text;
  const std::string seqid = GffEscapeSeqid(row.id);
  long& region = region_length_[row.id];
  if (region >= 0) {
    text +=
        "##sequence-region " + seqid + " 1 " + std::to_string(std::max(region, row.length)) + '\n';
    region = -1;
  }
  ++features_;
  text += seqid + "\ttalvo-proteome\tcompositionally_biased_region_of_peptide\t" +
          std::to_string(row.start) + '\t' + std::to_string(row.end) + '\t' + p + "\t.\t.\t";
  text += "ID=segment" + std::to_string(features_) + ";Name=" + GffEscapeAttribute(row.id) +
          "_segment" + std::to_string(row.segment) +
          ";Ontology_term=SO:0001066;special=" + std::to_string(row.special) + ";p_value=" + p +
          ";q_value=" + q + '\n';
  return text;
}

const char kSummaryHeader[] =
    "input\tentry\tid\tlength\tspecial\texpected\tdirection\texact_tail\n";

std::string FormatSummaryRow(const std::string& input, long entry, const std::string& id,
                             const talvo::Result& result) {
  char expected[32];
  snprintf(expected, sizeof expected, "%.0f", result.overall.expected);
  return EscapeField(input) + '\t' + std::to_string(entry) + '\t' + EscapeField(id) + '\t' +
         std::to_string(result.length) + '\t' + std::to_string(result.overall.special) + '\t' +
         expected + '\t' + result.overall.direction + '\t' +
         ShortestDouble(result.overall.exact_tail) + '\n';
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
