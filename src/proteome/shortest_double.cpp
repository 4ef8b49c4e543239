#include "proteome/shortest_double.h"

#ifdef __EMSCRIPTEN__
#include <emscripten/emscripten.h>
#endif

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace talvo::proteome {

#ifdef __cpp_lib_to_chars
void AppendShortest(std::string& out, double value) {
  char text[64];
  const auto result = std::to_chars(text, text + sizeof text, value);
  out.append(text, result.ptr);
}

std::string ShortestDouble(double value) {
  std::string text;
  AppendShortest(text, value);
  return text;
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

void AppendShortest(std::string& out, double value) {
  out += ShortestDouble(value);
}
#endif

}  // namespace talvo::proteome
