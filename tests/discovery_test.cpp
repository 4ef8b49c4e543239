// Discovery: each class's result against a literal loop of single-alphabet
// analyses, one per class, bit for bit; class files good and bad.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "alphabet/alphabet.h"
#include "talvo/talvo.h"

namespace {

std::string Digest(const talvo::Result& r) {
  char head[160];
  snprintf(head, sizeof head, "%d/%d %a/%d %d%c%a", static_cast<int>(r.skip), r.length,
           r.special_probability, r.linkage, r.overall.special, r.overall.direction,
           r.overall.exact_tail);
  std::string text = head;
  for (const talvo::Segment& s : r.segments) {
    char segment[96];
    snprintf(segment, sizeof segment, " %d-%d/%d:%d:%a:", s.start, s.end, s.length, s.special,
             s.p_value);
    text += segment + s.residues;
  }
  return text;
}

// Proteins rich in a few residues, so that every class has runs to merge.
std::string BiasedProtein(std::mt19937& rng, int length) {
  static const char kResidues[] = "ACDEFGHIKLMNPQRSTVWYacdeqnkrBXZ-*9 ";
  const std::string rich = std::string(1, "QNKRDESTPG"[rng() % 10]) + "QNKRDESTPGW"[rng() % 11];
  std::string s;
  for (int i = 0; i < length; i++) {
    s += rng() % 3 == 0 ? rich[rng() % 2] : kResidues[rng() % (sizeof kResidues - 1)];
  }
  return s;
}

// The per-class linkage written straight from its rule: min(round(2/(3P)), 5),
// at least 1, P from the built-in table.
int LiteralLinkage(const std::string& letters, bool pdb) {
  double p = 0.0;
  for (char c : letters) {
    const int index = talvo::internal::ConvToInt(c);
    p += pdb ? talvo::internal::pdb_aa_freq[index] : talvo::internal::sp_aa_freq[index];
  }
  return std::min(std::max(static_cast<int>(std::nearbyint(2.0 / (3.0 * p))), 1), 5);
}

TEST(Discovery, EveryClassAsItsOwnAnalyser) {
  std::mt19937 rng(25);
  std::vector<std::string> proteins = {"", "*9", "W", "XBZ-", "QQQQ", "kkkrrrqqqnnnDEDEDE"};
  for (int i = 0; i < 14; i++) proteins.push_back(BiasedProtein(rng, 5 + rng() % 400));
  const std::vector<talvo::ResidueClass> custom = {
      {"kr", "rkK"}, {"odd.order+", "NTSQ"}, {"all", "ACDEFGHIKLMNPQRSTVWY"}, {"W", "w"}};
  struct Case {
    std::vector<std::string> options;
    bool exact_null, fractional, own_linkage;
  };
  const Case cases[] = {
      {{}, false, false, false},
      {{"-X"}, false, true, false},
      {{"-I"}, false, false, false},
      {{"-E:2"}, false, false, true},
      {{"-E:8", "-I"}, false, false, true},
      {{"-K", "-I"}, false, false, true},
      {{"-W:8"}, false, false, false},
      {{"-W:5", "-P:0.3", "-X"}, false, true, true},
      {{"-S:7"}, false, false, false},
      {{"-G:6", "-I"}, false, false, true},
      {{"-S:1"}, true, false, false},
      {{"-G:1"}, true, false, false},
      {{"-G:1", "-I", "-E:0"}, true, false, true},
  };
  for (const Case& c : cases) {
    talvo::Settings settings = talvo::SettingsFromOptions(c.options);
    settings.exact_null = c.exact_null;
    settings.fractional_windows = c.fractional;
    settings.seed = rng();
    for (const auto& classes : {talvo::BuiltInClasses(), custom}) {
      const talvo::Discovery discovery(
          settings, classes,
          c.own_linkage ? talvo::ClassLinkage::kFromSettings : talvo::ClassLinkage::kPerClass);
      std::vector<talvo::Analyser> loop;
      for (const talvo::ResidueClass& added : discovery.classes()) {
        talvo::Settings single = settings;
        single.alphabet = added.letters;
        if (!c.own_linkage) {
          single.linkage =
              LiteralLinkage(added.letters, single.background == talvo::Background::kPdb);
          single.estimate_linkage = false;
        }
        loop.emplace_back(single);
      }
      talvo::Workspace workspace;
      std::vector<talvo::Result> results;
      for (size_t p = 0; p < proteins.size(); p++) {
        discovery.Analyse(proteins[p], static_cast<long>(p), workspace, results);
        ASSERT_EQ(results.size(), loop.size());
        for (size_t k = 0; k < loop.size(); k++) {
          EXPECT_EQ(Digest(results[k]), Digest(loop[k].Analyse(proteins[p], static_cast<long>(p))))
              << "options " << c.options.size() << " protein " << p << " class "
              << discovery.classes()[k].name;
        }
      }
    }
  }
}

TEST(Discovery, ClassFilesAndTheirFaults) {
  const std::vector<talvo::ResidueClass> read =
      talvo::ReadClasses("# comment\n\nbasic\tkrK  # trailing\r\nQ_N.1+\tQN\n  \n", "c.tsv");
  ASSERT_EQ(read.size(), 2u);
  EXPECT_EQ(read[0].name + read[0].letters + read[1].name + read[1].letters, "basicKRQ_N.1+QN");
  const std::pair<std::string, std::string> bad[] = {
      {"A\tA\nB\tKRB\n",
       "c.tsv:2: unknown letter 'B' in 'KRB' (the 20 residue letters "
       "ACDEFGHIKLMNPQRSTVWY)"},
      {"A\tA\n#\nA\tK\n", "c.tsv:3: class 'A' given twice"},
      {"acidic\t\n", "c.tsv:1: no letters"},
      {"acid ic\tDE\n",
       "c.tsv:1: bad class name 'acid ic' (letters, digits, '_', '-', '.' "
       "and '+' only)"},
      {"\tDE\n", "c.tsv:1: empty class name"},
      {"acidic DE\n", "c.tsv:1: expected NAME<TAB>LETTERS, got 'acidic DE'"},
      {"a\tD\tE\n", "c.tsv:1: expected NAME<TAB>LETTERS, got 'a\tD\tE'"},
      {"# nothing\n\n", "c.tsv: no classes (one per line: NAME<TAB>LETTERS)"},
  };
  for (const auto& [text, message] : bad) {
    try {
      talvo::ReadClasses(text, "c.tsv");
      ADD_FAILURE() << "accepted " << text;
    } catch (const talvo::Error& e) {
      EXPECT_EQ(e.what(), message);
    }
  }
  EXPECT_THROW(talvo::Discovery(talvo::Settings{}, {{"x", "Q"}, {"x", "N"}}), talvo::Error);
  EXPECT_THROW(talvo::Discovery(talvo::Settings{}, {}), talvo::Error);
  const auto& built_in = talvo::BuiltInClasses();
  ASSERT_EQ(built_in.size(), 30u);
  const talvo::Discovery discovery(talvo::Settings{}, built_in);
  // GPSTDNH: P 0.365, linkage 2; every residue and narrow class 5.
  EXPECT_EQ(discovery.class_settings(29).linkage, 2);
  EXPECT_EQ(discovery.class_settings(0).linkage, 5);
}

}  // namespace
