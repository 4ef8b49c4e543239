// GFF3: "##gff-version 3", then for each protein with reported segments its
// "##sequence-region" line and one feature per segment. A seqid's region is
// declared once, before its first feature, as long as the longest protein
// with that ID and features (IDs repeat when an input is given twice, say):
// known only at the end of the run, so the region line is left open and
// settled by RegionLengths' sort when the rows are copied out.
#pragma once
#include <string>

#include "proteome/formats.h"
#include "proteome/region_lengths.h"

namespace talvo::proteome {

class Gff3Rows : public SegmentRows {
 public:
  explicit Gff3Rows(const Reporting& reporting);
  std::string Header() const override { return "##gff-version 3\n"; }
  void AppendProtein(std::string& out, const AnalysedProtein& protein) const override;
  void Admit(const AnalysedProtein& protein) override;
  bool AdmitReadsId() const override { return true; }
  void Finish() override { regions_.Finish(); }
  bool Resolve(char kind, uint64_t payload, std::string& out) override;

 private:
  Reporting reporting_;
  RegionLengths regions_;
  long features_ = 0;       // numbered as the rows are copied out, in run order
  long region_length_ = 0;  // of the region line being copied out; -1: declared before
};

}  // namespace talvo::proteome
