// talvo-proteome --fractional-windows: segment p-values, the window threshold
// and the masked output follow the fractional p-values; without the option
// they are TALVO's whole windows. Both evaluated without cancellation.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "alphabet/alphabet.h"
#include "proteome/command_line.h"
#include "proteome/shortest_double.h"
#include "stats/stats.h"
#include "support/support.h"

using namespace talvo::internal;

namespace {

using namespace talvo::proteome;

// The p-value column of every segment row of a TSV run.
std::vector<std::string> PValues(std::vector<std::string> args, const std::string& tsv) {
  args.insert(args.begin(), {"talvo-proteome", "--no-progress", "--output", tsv});
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  EXPECT_EQ(ProteomeMain(static_cast<int>(argv.size()), argv.data()), 0);
  std::vector<std::string> p_values;
  std::stringstream rows(ReadFile(tsv));
  for (std::string row; std::getline(rows, row);) {
    if (row.rfind("input\t", 0) == 0) continue;
    std::stringstream fields(row);
    std::string field;
    for (int i = 0; i <= 9; i++) std::getline(fields, field, '\t');
    p_values.push_back(field);
  }
  return p_values;
}

// A run of 14 special residues in 17 (7.5e-6 rounded up, 2.2e-6 fractional)
// masked below 5e-6; 7 special residues in the window 5..12 of 19 (0.041
// rounded up, 0.030 fractional) recorded below 0.035.
TEST(ProteomeFractional, OptionChangesPValuesThresholdAndMask) {
  TempDir dir;
  WriteFile(dir / "run.fa", ">run\nGPSTDNHGPSTDNHLLA\n");
  WriteFile(dir / "window.fa", ">window\nLLLLGGGGLGGGLLLLLLL\n");
  for (bool fractional : {false, true}) {
    const ScanPValueFunction scan_p =
        fractional ? P_scan_ge_K_in_W_N_fractional_accurate : P_scan_ge_K_in_W_N_accurate;
    std::vector<std::string> args = {"--all", "--masked", dir / "m.fa", "-M:5e-6", dir / "run.fa"};
    if (fractional) args.push_back("--fractional-windows");
    const std::vector<std::string> run = PValues(args, dir / "run.tsv");
    const double p = ComputeResidueP("GPSTDNH", sp_aa_freq);
    EXPECT_EQ(run, std::vector<std::string>{ShortestDouble(scan_p(14, 14, 17, p))});
    EXPECT_EQ(ReadFile(dir / "m.fa"),
              fractional ? ">run\nXXXXXXXXXXXXXXLLA\n" : ">run\nGPSTDNHGPSTDNHLLA\n");
    args = {"-W:8", "-P:0.035", dir / "window.fa"};
    if (fractional) args.push_back("--fractional-windows");
    const std::vector<std::string> window = PValues(args, dir / "window.tsv");
    EXPECT_EQ(window, fractional ? std::vector<std::string>{ShortestDouble(scan_p(7, 8, 19, p))}
                                 : std::vector<std::string>{});
  }
}

}  // namespace
