// The TSV row of one segment read back (merging shards), the escaping of its
// text fields, and the field reading that the shard tables' other lines
// share. Rows are written by the TSV formatter (formats.h).
#pragma once
#include <optional>
#include <string>
#include <string_view>

namespace talvo::proteome {

struct SegmentRow {
  std::string input;  // the input as given on the command line ("-": stdin)
  long entry = 0;     // 1 for the first entry of the input
  std::string id;
  std::string class_name;  // --discover tables only
  long length = 0;
  long segment = 0;
  long start = 0;  // 1-based, inclusive
  long end = 0;
  long seg_length = 0;
  long special = 0;
  double p_value = 0.0;
  std::optional<double> q_value;  // empty in a row that has none
  std::string residues;
};

extern const char kSegmentRowHeader[];  // the header line, with its newline
// The header line of a table with a class column after the ID (--discover)
// or without.
std::string SegmentRowHeader(bool discover);

// Backslash-escapes tab, newline, CR, backslash and other control bytes
// (\t \n \r \\ \xHH), so that a field never splits a row.
std::string EscapeField(const std::string& text);
// The text of an escaped field; false when it is not one.
bool UnescapeField(std::string_view text, std::string& plain);

// Reading fields: false when the text is not, as a whole, what is asked for
// (numbers in std::from_chars' form).
bool ReadField(std::string_view text, int& value);
bool ReadField(std::string_view text, long& value);
bool ReadField(std::string_view text, double& value);
// The tab-separated fields of line into fields[0..count); false unless there
// are exactly count of them.
bool SplitFields(std::string_view line, std::string_view* fields, size_t count);

// A line without its newline into row, whose strings keep their storage;
// throws talvo::Error when it is not a well-formed row (with a class column
// after the ID when `discover`).
void ReadSegmentRow(std::string_view line, SegmentRow& row, bool discover = false);
// Throws talvo::Error ("impossible values: ...") for the first value that no
// segment can have in a well-formed row: p or q outside [0, 1] or NaN,
// positions outside 1..length or out of order, counts that do not add up.
void CheckSegmentRow(const SegmentRow& row);

}  // namespace talvo::proteome
