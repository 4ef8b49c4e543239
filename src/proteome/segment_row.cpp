#include "proteome/segment_row.h"

#include <array>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <type_traits>
#include <vector>

#include "proteome/shortest_double.h"
#include "talvo/talvo.h"

namespace talvo::proteome {

const char kSegmentRowHeader[] =
    "input\tentry\tid\tlength\tsegment\tstart\tend\tseg_length\tspecial\tp_value\tq_value\t"
    "residues\n";

std::string SegmentRowHeader(bool discover) {
  std::string header = kSegmentRowHeader;
  return discover ? header.insert(header.find("\tlength"), "\tclass") : header;
}

namespace {

constexpr int kColumns = 12;

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

template <class Number>
bool ParseNumber(std::string_view text, Number& value) {
  const char* last = text.data() + text.size();
#ifndef __cpp_lib_to_chars
  // Without floating-point from_chars: strtod, refusing what from_chars
  // refuses (leading space or '+', hexadecimal).
  if constexpr (std::is_floating_point_v<Number>) {
    if (text.empty() || isspace(static_cast<unsigned char>(text[0])) || text[0] == '+' ||
        text.find_first_of("xX") != std::string_view::npos) {
      return false;
    }
    const std::string terminated(text);
    char* end = nullptr;
    value = strtod(terminated.c_str(), &end);
    return end == terminated.c_str() + terminated.size();
  } else
#endif
  {
    const auto [ptr, ec] = std::from_chars(text.data(), last, value);
    return ec == std::errc() && ptr == last && !text.empty();
  }
}

}  // namespace

std::string EscapeField(const std::string& text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (char c : text) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (c == '\t') {
      escaped += "\\t";
    } else if (c == '\n') {
      escaped += "\\n";
    } else if (c == '\r') {
      escaped += "\\r";
    } else if (c == '\\') {
      escaped += "\\\\";
    } else if (byte < 0x20 || byte == 0x7f) {
      char hex[5];
      snprintf(hex, sizeof hex, "\\x%02X", byte);
      escaped += hex;
    } else {
      escaped += c;
    }
  }
  return escaped;
}

bool UnescapeField(std::string_view text, std::string& plain) {
  if (text.find('\\') == std::string_view::npos) {
    plain.assign(text);
    return true;
  }
  plain.clear();
  for (size_t i = 0; i < text.size(); i++) {
    if (text[i] != '\\') {
      plain += text[i];
      continue;
    }
    if (++i == text.size()) return false;
    switch (text[i]) {
      case 't':
        plain += '\t';
        break;
      case 'n':
        plain += '\n';
        break;
      case 'r':
        plain += '\r';
        break;
      case '\\':
        plain += '\\';
        break;
      case 'x': {
        if (i + 2 >= text.size()) return false;
        const int high = HexDigit(text[i + 1]);
        const int low = HexDigit(text[i + 2]);
        if (high < 0 || low < 0) return false;
        plain += static_cast<char>(high * 16 + low);
        i += 2;
        break;
      }
      default:
        return false;
    }
  }
  return true;
}

bool ReadField(std::string_view text, int& value) {
  return ParseNumber(text, value);
}

bool ReadField(std::string_view text, long& value) {
  return ParseNumber(text, value);
}

bool ReadField(std::string_view text, double& value) {
  return ParseNumber(text, value);
}

bool SplitFields(std::string_view line, std::string_view* fields, size_t count) {
  size_t found = 0;
  for (size_t from = 0;; found++) {
    const size_t tab = line.find('\t', from);
    if (found == count) return false;
    fields[found] = line.substr(from, tab == std::string_view::npos ? tab : tab - from);
    if (tab == std::string_view::npos) break;
    from = tab + 1;
  }
  return found + 1 == count;
}

void ReadSegmentRow(std::string_view line, SegmentRow& row, bool discover) {
  std::array<std::string_view, kColumns + 1> fields;
  std::string_view* f = fields.data();
  double q = 0.0;
  if (discover) {
    // The class column, then the others as without it.
    if (!SplitFields(line, f, kColumns + 1))
      throw talvo::Error("not a row of a talvo-proteome table");
    row.class_name.assign(f[3]);
    for (int i = 3; i < kColumns; i++) f[i] = f[i + 1];
  }
  const bool read =
      (discover || SplitFields(line, f, kColumns)) && UnescapeField(f[0], row.input) &&
      UnescapeField(f[2], row.id) && ReadField(f[1], row.entry) && ReadField(f[3], row.length) &&
      ReadField(f[4], row.segment) && ReadField(f[5], row.start) && ReadField(f[6], row.end) &&
      ReadField(f[7], row.seg_length) && ReadField(f[8], row.special) &&
      ReadField(f[9], row.p_value) && (f[10].empty() || ReadField(f[10], q));
  if (!read) throw talvo::Error("not a row of a talvo-proteome table");
  row.q_value.reset();
  if (!f[10].empty()) row.q_value = q;
  row.residues.assign(f[11]);
}

namespace {

bool IsProbability(double value) {
  return value >= 0.0 && value <= 1.0;  // false for NaN
}

[[noreturn]] void Impossible(const std::string& what) {
  throw talvo::Error("impossible values: " + what);
}

void CheckPair(const char* a, long x, bool holds, const char* relation, const char* b, long y) {
  if (!holds)
    Impossible(std::string(a) + ' ' + std::to_string(x) + relation + b + ' ' + std::to_string(y));
}

}  // namespace

void CheckSegmentRow(const SegmentRow& row) {
  if (row.entry < 1) Impossible("entry " + std::to_string(row.entry) + " below 1");
  if (row.segment < 1) Impossible("segment " + std::to_string(row.segment) + " below 1");
  if (row.start < 1) Impossible("start " + std::to_string(row.start) + " below 1");
  CheckPair("start", row.start, row.start <= row.end, " after ", "end", row.end);
  CheckPair("end", row.end, row.end <= row.length, " past ", "length", row.length);
  CheckPair("seg_length", row.seg_length, row.seg_length == row.end - row.start + 1, " where ",
            "start to end holds", row.end - row.start + 1);
  CheckPair("special", row.special, row.special >= 0 && row.special <= row.seg_length,
            " outside 0 to ", "seg_length", row.seg_length);
  if (row.residues.size() != static_cast<size_t>(row.seg_length)) {
    Impossible(std::to_string(row.residues.size()) + " residues for seg_length " +
               std::to_string(row.seg_length));
  }
  if (!IsProbability(row.p_value))
    Impossible("p_value " + ShortestDouble(row.p_value) + " outside [0, 1]");
  if (row.q_value && !IsProbability(*row.q_value)) {
    Impossible("q_value " + ShortestDouble(*row.q_value) + " outside [0, 1]");
  }
}

}  // namespace talvo::proteome
