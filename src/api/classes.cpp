// Class sets of discovery: the built-in set, class files and their checks.
#include <algorithm>
#include <set>
#include <string>

#include "alphabet/alphabet.h"
#include "api/internal.h"
#include "talvo/talvo.h"

namespace talvo {
namespace internal {
namespace {

bool IsNameCharacter(char c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_' ||
         c == '-' || c == '.' || c == '+';
}

std::string Trimmed(std::string_view text) {
  const size_t first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return "";
  const size_t last = text.find_last_not_of(" \t\r");
  return std::string(text.substr(first, last - first + 1));
}

}  // namespace

// Names go into TSV columns, GFF3 attributes and BED names unescaped.
std::string ClassNameProblem(const std::string& name) {
  if (name.empty()) return "empty class name";
  if (!std::all_of(name.begin(), name.end(), IsNameCharacter)) {
    return "bad class name '" + name + "' (letters, digits, '_', '-', '.' and '+' only)";
  }
  return "";
}

std::string ClassLettersProblem(const std::string& letters) {
  if (letters.empty()) return "no letters";
  for (char c : letters) {
    const char upper = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    if (ConvToInt(upper) >= 20) {
      return "unknown letter '" + std::string(1, c) + "' in '" + letters +
             "' (the 20 residue letters ACDEFGHIKLMNPQRSTVWY)";
    }
  }
  return "";
}

std::string CanonicalLetters(const std::string& letters) {
  char canonical[21];
  CopyAA(letters.c_str(), canonical);
  return canonical;
}

}  // namespace internal

using namespace internal;

const std::vector<ResidueClass>& BuiltInClasses() {
  static const std::vector<ResidueClass> classes = [] {
    std::vector<ResidueClass> set;
    // The residues in the order of the alphabet's table (rare ones first).
    for (const char* r = aa; *r != 'X'; r++)
      set.push_back({std::string(1, *r), std::string(1, *r)});
    const ResidueClass named[] = {
        {"QN", "QN"},      {"RG", "RG"},           {"SR", "SR"}, {"basic", "KR"},
        {"acidic", "DE"},  {"charged", "KRDE"},    {"ST", "ST"}, {"PEST", "PEST"},
        {"polar", "STNQ"}, {"GPSTDNH", "GPSTDNH"},
    };
    set.insert(set.end(), std::begin(named), std::end(named));
    return set;
  }();
  return classes;
}

std::vector<ResidueClass> ReadClasses(std::string_view text, const std::string& source) {
  std::vector<ResidueClass> classes;
  std::set<std::string> names;
  long number = 0;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
    number++;
    line = line.substr(0, line.find('#'));
    if (Trimmed(line).empty()) continue;
    const auto fail = [&](const std::string& why) {
      throw Error(source + ":" + std::to_string(number) + ": " + why);
    };
    const size_t tab = line.find('\t');
    if (tab == std::string_view::npos || line.find('\t', tab + 1) != std::string_view::npos) {
      fail("expected NAME<TAB>LETTERS, got '" + Trimmed(line) + "'");
    }
    ResidueClass added{Trimmed(line.substr(0, tab)), Trimmed(line.substr(tab + 1))};
    std::string problem = ClassNameProblem(added.name);
    if (problem.empty()) problem = ClassLettersProblem(added.letters);
    if (problem.empty() && !names.insert(added.name).second) {
      problem = "class '" + added.name + "' given twice";
    }
    if (!problem.empty()) fail(problem);
    added.letters = CanonicalLetters(added.letters);
    classes.push_back(std::move(added));
  }
  if (classes.empty()) throw Error(source + ": no classes (one per line: NAME<TAB>LETTERS)");
  return classes;
}

}  // namespace talvo
