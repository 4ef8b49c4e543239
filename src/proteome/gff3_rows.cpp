#include "proteome/gff3_rows.h"

#include <algorithm>

#include "proteome/row_spool.h"
#include "proteome/shortest_double.h"

namespace talvo::proteome {
namespace {

// The region line: kRegionStart opens it (kept only for the first protein of
// an ID), kRegionLength stands for its length, kRegionEnd closes it. Features
// are numbered through the run at kFeature.
constexpr char kRegionStart = 'r';
constexpr char kRegionLength = 'l';
constexpr char kRegionEnd = 'e';
constexpr char kFeature = 'f';

void AppendRegion(std::string& out, const std::string& seqid) {
  RowSpool::AppendMarker(out, kRegionStart, uint64_t{0});
  out += "##sequence-region " + seqid + " 1 ";
  RowSpool::AppendMarker(out, kRegionLength, uint64_t{0});
  out += '\n';
  RowSpool::AppendMarker(out, kRegionEnd, uint64_t{0});
}

bool AnyReported(const Reporting& reporting, const AnalysedProtein& protein) {
  return std::any_of(
      protein.results.begin(), protein.results.end(), [&reporting](const talvo::Result& result) {
        return std::any_of(result.segments.begin(), result.segments.end(), reporting);
      });
}

}  // namespace

Gff3Rows::Gff3Rows(const Reporting& reporting) : reporting_(reporting) {
  regions_.Open();
}

void Gff3Rows::Admit(const AnalysedProtein& protein) {
  if (AnyReported(reporting_, protein)) regions_.Add(protein.id, protein.first().length);
}

void Gff3Rows::AppendProtein(std::string& out, const AnalysedProtein& protein) const {
  if (!AnyReported(reporting_, protein)) return;
  const std::string seqid = GffEscapeSeqid(protein.id);
  const std::string name = GffEscapeAttribute(protein.id);  // the Name attribute's ID
  AppendRegion(out, seqid);
  protein.ForEachReported(reporting_, [&](size_t c, long number, const talvo::Segment& segment) {
    const std::string* class_name = protein.classes ? &(*protein.classes)[c].name : nullptr;
    out += seqid;
    out += "\ttalvo-proteome\tcompositionally_biased_region_of_peptide\t";
    AppendNumber(out, segment.start);
    out += '\t';
    AppendNumber(out, segment.end);
    out += '\t';
    AppendShortest(out, segment.p_value);
    out += "\t.\t.\tID=segment";
    RowSpool::AppendMarker(out, kFeature, uint64_t{0});
    out += ";Name=" + name + (class_name ? '_' + *class_name : "") + "_segment";
    AppendNumber(out, number);
    out += ";Ontology_term=SO:0001066;";
    if (class_name) out += "class=" + *class_name + ';';
    out += "special=";
    AppendNumber(out, segment.special);
    out += ";p_value=";
    AppendShortest(out, segment.p_value);
    out += ";q_value=";
    RowSpool::AppendMarker(out, kQMarker, segment.p_value);
    out += '\n';
  });
}

bool Gff3Rows::Resolve(char kind, uint64_t, std::string& out) {
  switch (kind) {
    case kRegionStart:
      region_length_ = regions_.Next();
      return region_length_ >= 0;
    case kRegionLength:
      if (region_length_ >= 0) AppendNumber(out, region_length_);
      return region_length_ >= 0;
    case kFeature:
      AppendNumber(out, ++features_);
      return true;
    default:  // kRegionEnd
      return true;
  }
}

}  // namespace talvo::proteome
