// The TSV row of one segment: its columns, the escaping of text fields and
// the parsing back, in one place so that written rows can be read again
// (merging shards).
#pragma once
#include <optional>
#include <string>
#include <string_view>

struct SegmentRow {
  std::string input;  // the input as given on the command line ("-": stdin)
  long entry = 0;     // 1 for the first entry of the input
  std::string id;
  long length = 0;
  long segment = 0;
  long start = 0;  // 1-based, inclusive
  long end = 0;
  long seg_length = 0;
  long special = 0;
  double p_value = 0.0;
  std::optional<double> q_value;  // empty until every p-value is known
  std::string residues;
};

extern const char kSegmentRowHeader[];  // the header line, with its newline

// Backslash-escapes tab, newline, CR, backslash and other control bytes
// (\t \n \r \\ \xHH), so that a field never splits a row.
std::string EscapeField(const std::string& text);
std::optional<std::string> UnescapeField(const std::string& text);
// The shortest text that reads back as the same double.
std::string ShortestDouble(double value);

// One line, with its newline; an empty q_value gives an empty field.
std::string FormatSegmentRow(const SegmentRow& row);
// A line without its newline; nothing when it is not a well-formed row.
std::optional<SegmentRow> ParseSegmentRow(const std::string& line);
// The same into a row whose strings keep their storage; false when the line
// is not a well-formed row.
bool ParseSegmentRow(std::string_view line, SegmentRow& row);
// What no segment can be, in a well-formed row: p or q outside [0, 1] or
// NaN, positions outside 1..length or out of order, counts that do not add
// up. The first such fault, or empty.
std::string ImpossibleValue(const SegmentRow& row);
