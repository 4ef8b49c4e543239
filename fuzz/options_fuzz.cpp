// Arbitrary argument vectors, split at NUL bytes, through TALVO's reading of
// its command line: it must never crash or exit, every refusal explains
// itself, and accepted settings keep the validation rules and are accepted
// by the engine.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "alphabet/alphabet.h"
#include "driver/driver.h"

using namespace talvo::internal;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  std::vector<char*> argv = {const_cast<char*>("TALVO"), text.data()};
  for (char& c : text) {
    if (c == '\0') argv.push_back(&c + 1);  // one argument after every NUL byte
  }
  if (argv.size() < 3) return 0;  // the help text
  Options options;
  try {
    options = ReadCommandLine(static_cast<int>(argv.size()), argv.data());
  } catch (const UnrecognizedArgument& e) {
    if (e.letter() != '\0' && strchr("WESGTXAPNFLIMK", e.letter())) abort();
    return 0;
  } catch (const talvo::Error& e) {
    if (*e.what() == '\0') abort();
    return 0;
  }
  const talvo::Settings& s = options.settings;
  const bool random = s.random_null != talvo::RandomNull::kNone && s.random_count > 0;
  if (!(s.min_p >= 0 && s.min_p <= 1 && s.mask_p >= 0 && s.mask_p <= 1)) abort();
  if ((s.window >= 2 && random) || (!s.merge_windows && (s.window < 2 || options.masked_output))) {
    abort();
  }
  for (size_t i = 0; i < s.alphabet.size(); i++) {  // distinct residues only
    if (ConvToInt(s.alphabet[i]) == 20 ||
        s.alphabet.find(s.alphabet[i], i + 1) != std::string::npos)
      abort();
  }
  const talvo::Analyser analyser(s);  // throws if the engine refused them
  return 0;
}
