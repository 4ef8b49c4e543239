#include "proteome/segment_row.h"

#ifdef __EMSCRIPTEN__
#include <emscripten/emscripten.h>
#endif

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

const char kSegmentRowHeader[] =
    "input\tentry\tid\tlength\tsegment\tstart\tend\tseg_length\tspecial\tp_value\tq_value\t"
    "residues\n";

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

// Exactly kColumns fields, or false.
bool SplitTabs(std::string_view line, std::array<std::string_view, kColumns>& fields) {
  size_t count = 0;
  for (size_t from = 0;; count++) {
    const size_t tab = line.find('\t', from);
    if (count == kColumns) return false;
    fields[count] = line.substr(from, tab == std::string_view::npos ? tab : tab - from);
    if (tab == std::string_view::npos) break;
    from = tab + 1;
  }
  return count + 1 == kColumns;
}

bool UnescapeInto(std::string_view text, std::string& plain) {
  if (text.find('\\') == std::string_view::npos) {
    plain.assign(text);
    return true;
  }
  std::optional<std::string> unescaped = UnescapeField(std::string(text));
  if (unescaped) plain = std::move(*unescaped);
  return unescaped.has_value();
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

std::optional<std::string> UnescapeField(const std::string& text) {
  std::string plain;
  for (size_t i = 0; i < text.size(); i++) {
    if (text[i] != '\\') {
      plain += text[i];
      continue;
    }
    if (++i == text.size()) return std::nullopt;
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
        if (i + 2 >= text.size()) return std::nullopt;
        const int high = HexDigit(text[i + 1]);
        const int low = HexDigit(text[i + 2]);
        if (high < 0 || low < 0) return std::nullopt;
        plain += static_cast<char>(high * 16 + low);
        i += 2;
        break;
      }
      default:
        return std::nullopt;
    }
  }
  return plain;
}

#ifdef __cpp_lib_to_chars
std::string ShortestDouble(double value) {
  char text[64];
  const auto result = std::to_chars(text, text + sizeof text, value);
  return std::string(text, result.ptr);
}
#else
#ifdef __EMSCRIPTEN__
// JavaScript's shortest digits that read back as the same double, as
// "6.821572062776227e-8": searching with printf instead costs ten times the
// whole analysis, as printf's long double is done in software in WebAssembly.
EM_JS(void, ShortestExponentForm, (double value, char* text, int size),
      { stringToUTF8(value.toExponential(), text, size); });
#endif

// Standard libraries without floating-point to_chars (the WebAssembly
// build's): the fewest significant digits that read back as the same double,
// laid out as to_chars lays them out, in fixed or exponent form, whichever is
// shorter (fixed on a tie).
std::string ShortestDouble(double value) {
  char text[64];
#ifdef __EMSCRIPTEN__
  if (std::isfinite(value) && value != 0) {
    ShortestExponentForm(value, text, sizeof text);
  } else
#endif
  {
    int low = 1;
    int high = 17;  // 17 significant digits always read back
    while (low < high) {
      const int middle = (low + high) / 2;
      snprintf(text, sizeof text, "%.*e", middle - 1, value);
      if (strtod(text, nullptr) == value) {
        high = middle;
      } else {
        low = middle + 1;
      }
    }
    snprintf(text, sizeof text, "%.*e", low - 1, value);
  }
  const char* e = strchr(text, 'e');
  if (e == nullptr) return text;  // inf, nan
  const std::string sign = text[0] == '-' ? "-" : "";
  std::string digits;
  for (const char* c = text + sign.size(); c < e; c++) {
    if (*c != '.') digits += *c;
  }
  const int exponent = atoi(e + 1);
  const int magnitude = exponent < 0 ? -exponent : exponent;
  std::string scientific = sign + digits[0];
  if (digits.size() > 1) scientific += "." + digits.substr(1);
  scientific += std::string(exponent < 0 ? "e-" : "e+") + (magnitude < 10 ? "0" : "") +
                std::to_string(magnitude);
  std::string fixed = sign;
  if (exponent < 0) {
    fixed += "0." + std::string(static_cast<size_t>(-exponent - 1), '0') + digits;
  } else if (digits.size() <= static_cast<size_t>(exponent) + 1) {
    snprintf(text, sizeof text, "%.0f", value);  // whole numbers in full, as to_chars
    fixed = text;
  } else {
    fixed += digits.substr(0, exponent + 1) + "." + digits.substr(exponent + 1);
  }
  return fixed.size() <= scientific.size() ? fixed : scientific;
}
#endif

std::string FormatSegmentRow(const SegmentRow& row) {
  std::string line = EscapeField(row.input);
  line += '\t' + std::to_string(row.entry);
  line += '\t' + EscapeField(row.id);
  for (long number : {row.length, row.segment, row.start, row.end, row.seg_length, row.special}) {
    line += '\t' + std::to_string(number);
  }
  line += '\t' + ShortestDouble(row.p_value);
  line += '\t' + (row.q_value ? ShortestDouble(*row.q_value) : std::string());
  line += '\t' + row.residues;
  line += '\n';
  return line;
}

bool ParseSegmentRow(std::string_view line, SegmentRow& row) {
  std::array<std::string_view, kColumns> f;
  if (!SplitTabs(line, f) || !UnescapeInto(f[0], row.input) || !UnescapeInto(f[2], row.id)) {
    return false;
  }
  const bool numbers_ok = ParseNumber(f[1], row.entry) && ParseNumber(f[3], row.length) &&
                          ParseNumber(f[4], row.segment) && ParseNumber(f[5], row.start) &&
                          ParseNumber(f[6], row.end) && ParseNumber(f[7], row.seg_length) &&
                          ParseNumber(f[8], row.special) && ParseNumber(f[9], row.p_value);
  if (!numbers_ok) return false;
  row.q_value.reset();
  if (!f[10].empty()) {
    double q = 0.0;
    if (!ParseNumber(f[10], q)) return false;
    row.q_value = q;
  }
  row.residues.assign(f[11]);
  return true;
}

std::optional<SegmentRow> ParseSegmentRow(const std::string& line) {
  SegmentRow row;
  if (!ParseSegmentRow(std::string_view(line), row)) return std::nullopt;
  return row;
}

namespace {

bool IsProbability(double value) {
  return value >= 0.0 && value <= 1.0;  // false for NaN
}

}  // namespace

std::string ImpossibleValue(const SegmentRow& row) {
  const auto both = [](const char* a, long x, const char* relation, const char* b, long y) {
    return std::string(a) + ' ' + std::to_string(x) + relation + b + ' ' + std::to_string(y);
  };
  if (row.entry < 1) return "entry " + std::to_string(row.entry) + " below 1";
  if (row.segment < 1) return "segment " + std::to_string(row.segment) + " below 1";
  if (row.start < 1) return "start " + std::to_string(row.start) + " below 1";
  if (row.start > row.end) return both("start", row.start, " after ", "end", row.end);
  if (row.end > row.length) return both("end", row.end, " past ", "length", row.length);
  if (row.seg_length != row.end - row.start + 1) {
    return both("seg_length", row.seg_length, " where ", "start to end holds",
                row.end - row.start + 1);
  }
  if (row.special < 0 || row.special > row.seg_length) {
    return both("special", row.special, " outside 0 to ", "seg_length", row.seg_length);
  }
  if (row.residues.size() != static_cast<size_t>(row.seg_length)) {
    return std::to_string(row.residues.size()) + " residues for seg_length " +
           std::to_string(row.seg_length);
  }
  if (!IsProbability(row.p_value)) {
    return "p_value " + ShortestDouble(row.p_value) + " outside [0, 1]";
  }
  if (row.q_value && !IsProbability(*row.q_value)) {
    return "q_value " + ShortestDouble(*row.q_value) + " outside [0, 1]";
  }
  return "";
}
