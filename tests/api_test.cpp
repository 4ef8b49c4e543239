// The public API: settings checked with the tools' messages, the same results
// from many threads with different settings at once as from one, and masking.
#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <thread>
#include <tuple>

#include "talvo/talvo.h"

namespace {

std::string RandomProtein(std::mt19937& rng, int length) {
  static const char kResidues[] = "ACDEFGHIKLMNPQRSTVWYGPSTDNHRRR";
  std::string s;
  for (int i = 0; i < length; i++) s += kResidues[rng() % (sizeof kResidues - 1)];
  return s;
}

std::string Digest(const talvo::Result& r) {
  char head[96];
  snprintf(head, sizeof head, "%d%c%a/%d", r.length, r.overall.direction, r.overall.exact_tail,
           r.linkage);
  std::string text = head;
  for (const talvo::Segment& s : r.segments) {
    char segment[96];
    snprintf(segment, sizeof segment, " %d-%d:%d:%a:", s.start, s.end, s.special, s.p_value);
    text += segment;
    text += s.residues;
  }
  return text;
}

TEST(Api, SettingsAreCheckedWithTheToolsMessages) {
  auto message = [](std::vector<std::string> options) {
    try {
      talvo::SettingsFromOptions(options);
    } catch (const talvo::Error& e) {
      return std::string(e.what());
    }
    return std::string("accepted");
  };
  // Strict where TALVO's own parser is lenient: the option as typed is quoted.
  const std::string window = "the window is 0 (runs mode) or a whole number of at least 2";
  const std::string count = "the number of random sequences is a whole number of at least 1";
  const std::string threshold = "a p-value threshold is a number from 0 to 1";
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"-W:-5"}, "invalid option '-W:-5': " + window},
      {{"-W:2x"}, "invalid option '-W:2x': " + window},
      {{"-W:1"}, "invalid option '-W:1': " + window},
      {{"-w:99999999999"}, "invalid option '-w:99999999999': " + window},
      {{"-W20"}, "invalid option '-W20': write the value after a colon, as in '-W:20'"},
      {{"-W=20"}, "invalid option '-W=20': write the value after a colon, as in '-W:20'"},
      {{"-W"}, "invalid option '-W': needs a value, as in '-W:20'"},
      {{"-E:-3"}, "invalid option '-E:-3': the linkage distance is a whole number of at least 0"},
      {{"-S:-10"}, "invalid option '-S:-10': " + count},
      {{"-G:0"}, "invalid option '-G:0': " + count},
      {{"-P:nan"}, "invalid option '-P:nan': " + threshold},
      {{"-M:1.5"}, "invalid option '-M:1.5': " + threshold},
      {{"-M: 0.5"}, "invalid option '-M: 0.5': " + threshold},
      {{"-Tx"}, "invalid option '-Tx': -T takes no value"},
      {{"-A:XYZ"},
       "invalid option '-A:XYZ': the sub-alphabet is one or more of the 20 residue "
       "letters ACDEFGHIKLMNPQRSTVWY"},
      {{"-A:"},
       "invalid option '-A:': the sub-alphabet is one or more of the 20 residue "
       "letters ACDEFGHIKLMNPQRSTVWY"},
      {{"-o"}, "unknown option '-o'"},
      {{"--all"}, "unknown option '--all'"},
      {{"-all"}, "unknown option '-all'; did you mean '--all'?"},
      {{"-masked"}, "unknown option '-masked'; did you mean '--masked'?"},
      {{"-W:20", "-S:10"}, "Incompatible switches: scanning window+random sequences"},
      {{"-N"}, "Incompatible switches: no merge+use linkage"},
      {{"-W:20", "-N", "-L"}, "Incompatible switches: no merge+fasta output"},
      {{"-A:R", "-W:20", "-I", "-K"}, "accepted"},
      {{"-w:0", "-e:0", "-p:0", "-m:1", "-a:rkr", "-s:3", "-t", "-x", "-f", "-l"}, "accepted"},
      {{"-M:1e-3", "-P:.5", "-W:2", "-N"}, "accepted"},
  };
  for (const auto& [options, expected] : cases) EXPECT_EQ(message(options), expected);
  const talvo::Settings read =
      talvo::SettingsFromOptions({"-a:rkr", "-e:0", "-g:5", "-X", "-L", "-m:1e-3"});
  EXPECT_EQ(read.alphabet, "RK");
  EXPECT_EQ(read.linkage, 0);
  EXPECT_EQ(read.random_null, talvo::RandomNull::kGenerated);
  EXPECT_EQ(read.random_count, 5);
  EXPECT_EQ(read.background, talvo::Background::kPdb);
  EXPECT_TRUE(read.lower_case_mask);
  EXPECT_EQ(read.mask_p, 1e-3);
  talvo::Settings settings;
  settings.alphabet = "RB";
  EXPECT_THROW(talvo::Analyser{settings}, talvo::Error);
  settings.alphabet = "r";
  settings.exact_null = true;
  EXPECT_THROW(talvo::Analyser{settings}, talvo::Error);
  EXPECT_THROW(talvo::ScanPValue(3, 0, 10, 0.5), talvo::Error);
  EXPECT_THROW(talvo::BinomialUpperTail(3, 10, 1.5), talvo::Error);
  EXPECT_EQ(talvo::ScanPValue(3, 5, 10, 0.5), 0.818359375);
}

TEST(Api, ThreadsWithDifferentSettingsGetTheirOwnResults) {
  std::mt19937 rng(11);
  std::vector<std::string> proteins;
  for (int i = 0; i < 12; i++)
    proteins.push_back(RandomProtein(rng, 20 + static_cast<int>(rng() % 200)));
  const std::vector<std::vector<std::string>> option_sets = {
      {}, {"-A:R", "-L"}, {"-W:12", "-X"}, {"-I", "-K"}, {"-S:40"}, {"-G:20", "-E:2"}};
  std::vector<talvo::Analyser> analysers;
  for (const auto& options : option_sets) {
    talvo::Settings settings = talvo::SettingsFromOptions(options);
    settings.seed = 7;
    analysers.emplace_back(settings);
  }
  std::vector<std::string> expected;
  for (const talvo::Analyser& analyser : analysers) {
    for (size_t i = 0; i < proteins.size(); i++) {
      expected.push_back(Digest(analyser.Analyse(proteins[i], static_cast<long>(i + 1))));
    }
  }
  std::vector<std::string> got(expected.size());
  std::vector<std::thread> threads;
  for (size_t a = 0; a < analysers.size(); a++) {
    threads.emplace_back([&, a] {
      // Backwards, so that every thread's protein order differs from the first pass.
      for (size_t i = proteins.size(); i-- > 0;) {
        got[a * proteins.size() + i] =
            Digest(analysers[a].Analyse(proteins[i], static_cast<long>(i + 1)));
      }
    });
  }
  for (std::thread& t : threads) t.join();
  EXPECT_EQ(got, expected);
}

// A result analysed into again, after another protein's (more segments,
// fewer, a skip), equals a fresh one; leaving out the overall test and the
// residues changes no segment.
TEST(Api, ReusedResultsAndLeanSettings) {
  talvo::Settings settings;
  settings.alphabet = "R";
  talvo::Settings lean = settings;
  lean.overall_test = false;
  lean.segment_residues = false;
  const talvo::Analyser full(settings), light(lean);
  talvo::Workspace workspace;
  talvo::Result reused;
  std::mt19937 rng(11);
  for (long i = 1; i <= 200; i++) {
    std::string protein(i % 10 == 0 ? 0 : rng() % 300, 'A');  // every tenth skipped
    for (char& c : protein) c = "RRRAGS"[rng() % 6];
    const talvo::Result fresh = full.Analyse(protein, i);
    full.Analyse(protein, i, workspace, reused);
    EXPECT_EQ(Digest(reused), Digest(fresh)) << i;
    const talvo::Result light_result = light.Analyse(protein, i);
    ASSERT_EQ(light_result.segments.size(), fresh.segments.size());
    for (size_t s = 0; s < fresh.segments.size(); s++) {
      const talvo::Segment &a = light_result.segments[s], &b = fresh.segments[s];
      EXPECT_EQ(std::tie(a.start, a.end, a.special, a.p_value),
                std::tie(b.start, b.end, b.special, b.p_value));
      EXPECT_EQ(a.residues, "");
    }
    EXPECT_EQ(light_result.overall.special, fresh.overall.special);
    EXPECT_EQ(light_result.overall.exact_tail, 0.0);
  }
}

TEST(Api, SkipsMaskingAndLowerCaseInput) {
  talvo::Settings settings;
  settings.alphabet = "R";
  const talvo::Analyser analyser(settings);
  const std::string protein = "MKLVAEEFGHLKRRRRRRRRRRLLVAEKLMEEAVKL";
  const talvo::Result upper = analyser.Analyse(protein);
  std::string lower = protein;
  for (char& c : lower) c = static_cast<char>(tolower(c));
  EXPECT_EQ(Digest(analyser.Analyse(lower)), Digest(upper));
  ASSERT_EQ(upper.segments.size(), 1u);
  const talvo::Segment& run = upper.segments[0];
  EXPECT_EQ(run.residues, "RRRRRRRRRR");
  ASSERT_LT(run.p_value, 0.05);
  EXPECT_EQ(talvo::Masked(lower, upper, 0.05, false), "MKLVAEEFGHLKXXXXXXXXXXLLVAEKLMEEAVKL");
  EXPECT_EQ(talvo::Masked(protein, upper, 0.05, true), "MKLVAEEFGHLKrrrrrrrrrrLLVAEKLMEEAVKL");
  // Masked below the threshold only, as TALVO masks.
  EXPECT_EQ(talvo::Masked(protein, upper, run.p_value, false), protein);
  EXPECT_EQ(analyser.Analyse("").skip, talvo::Skip::kNoResidues);
  settings.window = 50;
  EXPECT_EQ(talvo::Analyser(settings).Analyse(protein).skip, talvo::Skip::kShorterThanWindow);
  settings.window = 0;
  settings.background = talvo::Background::kInput;
  EXPECT_EQ(talvo::Analyser(settings).Analyse("XXBZ").skip, talvo::Skip::kNoStandardResidue);
  // One standard residue is composition enough.
  EXPECT_EQ(talvo::Analyser(settings).Analyse("XXBA").skip, talvo::Skip::kNone);
}

// What a FASTA reader keeps of a sequence, written straight from the rule.
std::string LiteralResidues(const std::string& text) {
  std::string kept;
  for (char c : text) {
    if (c >= 'a' && c <= 'z') kept += static_cast<char>(c - 'a' + 'A');
    if ((c >= 'A' && c <= 'Z') || c == '-') kept += c;
  }
  return kept;
}

// A sequence is read as the readers read it; what it would misread is refused.
TEST(Api, ReadsAsTheReaderAndRefusesWhatItWouldMisread) {
  talvo::Settings settings;
  settings.alphabet = "R";
  const talvo::Analyser analyser(settings);
  const talvo::Result digits = analyser.Analyse("MST*RRRR12RRRRRR GSAPKL");
  ASSERT_EQ(digits.segments.size(), 1u);
  EXPECT_EQ(digits.segments[0].residues, "RRRRRRRRRR");
  EXPECT_EQ(talvo::Masked("mst*rrrr12rrrrrr gsapkl", digits, 0.05, false), "MSTXXXXXXXXXXGSAPKL");
  std::mt19937 rng(5);
  for (int i = 0; i < 1000; i++) {
    // Longer than a block of the all-kept test, every third one kept as it is
    // but for one byte.
    std::string raw(i % 3 == 0 ? 71 + rng() % 129 : rng() % 200, '\0');
    for (char& c : raw) c = static_cast<char>(rng() % 2 ? "Rr-GA"[rng() % 5] : rng() % 256);
    if (i % 3 == 0) {
      for (char& c : raw) c = "R-GA"[rng() % 4];
      // Every byte value once, in the block or the tail.
      raw[i % 2 ? 30 : 69] = static_cast<char>(i);
    }
    const std::string kept = LiteralResidues(raw);
    const talvo::Result result = analyser.Analyse(raw);
    EXPECT_EQ(Digest(result), Digest(analyser.Analyse(kept)));
    EXPECT_EQ(talvo::Masked(raw, result, 1.0, true), talvo::Masked(kept, result, 1.0, true));
  }
  auto message = [](const std::function<void()>& call) {
    try {
      call();
    } catch (const talvo::Error& e) {
      return std::string(e.what());
    }
    return std::string("accepted");
  };
  talvo::Settings window = settings;
  const std::string scan = "the scan p-value needs k >= 0, w >= 1 and n >= w";
  const std::pair<std::function<void()>, std::string> cases[] = {
      {[&] { window.window = 1, talvo::Validate(window); },
       "the window is 0 (runs mode) or a whole number of at least 2"},
      {[&] { window.window = 2, talvo::Validate(window); }, "accepted"},
      {[] { talvo::ScanPValue(5, 20, 10, 0.3); }, scan},
      {[] { talvo::ScanPValue(5, 10, 10, 0.3); }, "accepted"},
      {[&] { analyser.Analyse("RRRRR", -1); }, "the entry number must not be negative"},
      {[&] { analyser.Analyse("RRRRR", 0); }, "accepted"},
  };
  for (const auto& [call, expected] : cases) EXPECT_EQ(message(call), expected);
}

}  // namespace
