#include "proteome/table_columns.h"

#include <span>

#include "api/discovery_report.h"
#include "proteome/ordered_pipeline.h"
#include "proteome/segment_row.h"

namespace talvo::proteome {

namespace {

// An entry's results: a discovery's classes, or the one result.
std::span<const talvo::Result> ResultsOf(const AnalysedEntry& item) {
  if (item.discovery_report) return item.classes;
  return {&item.result, 1};
}

}  // namespace

void ProteinColumns::Add(const AnalysedEntry& item, bool with_description) {
  input.push_back(static_cast<uint32_t>(item.input));
  entry.push_back(item.entry.number);
  length.push_back(ResultsOf(item).front().length);
  id.Add(EscapeField(ProteinId(item.entry.header, item.entry.number)));
  if (with_description) description.Add(EscapeField(ProteinDescription(item.entry.header)));
}

// Every segment counts towards the q-values; only the reported ones are
// rows. A discovery's entry holds only the segments it keeps, with their
// numbers, and counts every p-value in its report's tally.
void SegmentColumns::Add(const AnalysedEntry& item) {
  const std::span<const talvo::Result> results = ResultsOf(item);
  const internal::DiscoveryReport* report = item.discovery_report.get();
  const std::vector<int>* numbers = report != nullptr ? &report->numbers : nullptr;
  if (numbers != nullptr) q_.Count(report->tally);
  bool begun = false;
  size_t kept = 0;
  for (size_t c = 0; c < results.size(); c++) {
    int64_t number = 0;
    for (const talvo::Segment& s : results[c].segments) {
      number = numbers != nullptr ? (*numbers)[kept++] : number + 1;
      if (numbers == nullptr) q_.Count(s.p_value);
      if (!reporting_(s)) continue;
      if (!begun) proteins.Add(item, description_);
      begun = true;
      protein.push_back(static_cast<uint32_t>(proteins.size() - 1));
      if (numbers != nullptr) class_index.push_back(static_cast<uint32_t>(c));
      segment.push_back(number);
      start.push_back(s.start);
      end.push_back(s.end);
      seg_length.push_back(s.length);
      special.push_back(s.special);
      p_value.push_back(s.p_value);
      residues.Add(s.residues);
    }
  }
}

void SegmentColumns::Finish() {
  q_.Finish();
  q_value.reserve(p_value.size());
  for (double p : p_value) q_value.push_back(q_.Of(p));
}

void SummaryColumns::Add(const AnalysedEntry& item) {
  proteins.Add(item, description_);
  const std::span<const talvo::Result> results = ResultsOf(item);
  for (size_t c = 0; c < results.size(); c++) {
    const talvo::Result& result = results[c];
    protein.push_back(static_cast<uint32_t>(proteins.size() - 1));
    if (item.discovery_report) class_index.push_back(static_cast<uint32_t>(c));
    skip.push_back(result.skip);
    special.push_back(result.overall.special);
    expected.push_back(result.overall.expected);
    direction.push_back(result.overall.direction);
    exact_tail.push_back(result.overall.exact_tail);
    if (result.skip == talvo::Skip::kNone) q_.Count(result.overall.exact_tail);
  }
}

void SummaryColumns::Finish() {
  q_.Finish();
  q_value.reserve(exact_tail.size());
  for (size_t i = 0; i < exact_tail.size(); i++) {
    q_value.push_back(skip[i] == talvo::Skip::kNone ? q_.Of(exact_tail[i]) : 0.0);
  }
}

}  // namespace talvo::proteome
