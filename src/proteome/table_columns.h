// talvo-proteome's segment table and summary held in memory column by
// column, with the values the TSV writer formats (formats.h): text fields
// escaped as in the table, numbers as numbers, q-values over every segment
// (every protein for the summary) of the run. The Python package turns the
// columns into DataFrames without formatting or parsing a row.
//
// A row refers to its protein by index, so that the protein's fields are
// kept once however many rows it has; a column of the row's own (a residue
// class, say) is one more vector beside the others.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "proteome/formats.h"
#include "talvo/proteome.h"

namespace talvo::proteome {

// Texts, one after another in one buffer.
struct TextColumn {
  std::string bytes;
  std::vector<size_t> ends;
  void Add(std::string_view text) {
    bytes += text;
    ends.push_back(bytes.size());
  }
  std::string_view operator[](size_t i) const {
    const size_t start = i == 0 ? 0 : ends[i - 1];
    return std::string_view(bytes).substr(start, ends[i] - start);
  }
  size_t size() const { return ends.size(); }
};

// The proteins of a table: the columns each of their rows repeats.
struct ProteinColumns {
  std::vector<uint32_t> input;  // index of the input
  std::vector<int64_t> entry;
  std::vector<int64_t> length;
  TextColumn id;           // escaped
  TextColumn description;  // escaped; only when asked for
  void Add(const AnalysedEntry& item, bool description);
  size_t size() const { return input.size(); }
};

// The segment table: a row for every reported segment. A discovery's
// entries (those with a report) have rows class after class.
class SegmentColumns {
 public:
  SegmentColumns(const Reporting& reporting, bool description)
      : reporting_(reporting), description_(description) {}
  void Add(const AnalysedEntry& item);
  // After the last entry: the q-values.
  void Finish();
  bool description() const { return description_; }

  ProteinColumns proteins;  // those with rows
  std::vector<uint32_t> protein;
  std::vector<uint32_t> class_index;  // a discovery's rows: the class of each
  std::vector<int64_t> segment, start, end, seg_length, special;
  std::vector<double> p_value, q_value;
  TextColumn residues;

 private:
  Reporting reporting_;
  bool description_;
  QValues q_;
};

// The summary: a row for every protein (and class, for a discovery); a
// skipped one has its reason and no overall test.
class SummaryColumns {
 public:
  explicit SummaryColumns(bool description) : description_(description) {}
  void Add(const AnalysedEntry& item);
  void Finish();
  bool description() const { return description_; }

  ProteinColumns proteins;  // those of the rows
  std::vector<uint32_t> protein;
  std::vector<uint32_t> class_index;  // a discovery's rows: one per protein and class
  std::vector<talvo::Skip> skip;
  std::vector<int64_t> special;
  std::vector<double> expected, exact_tail, q_value;
  std::vector<char> direction;

 private:
  bool description_;
  QValues q_;
};

}  // namespace talvo::proteome
