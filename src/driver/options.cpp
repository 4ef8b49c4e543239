// TALVO's command line: the help text and its options, read in TALVO's own
// syntax by the one option reader.
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "driver/driver.h"

namespace talvo::internal {

const char Help[] =
    "\n"
    "Find compositionally biased segments in protein sequence.\n"
    "\n"
    "TALVO <FASTA sequence> <output file> [optional arguments]\n"
    "\n"
    "Optional arguments:\n"
    "\n"
    "-W:# - scanning window size\n"
    "-E:# - fragments closer than this number of positions will be merged (4 by default)\n"
    "-S:# - shuffle the original sequence # times to generate random sequences\n"
    "-G:# - use a.a. frequencies to generate # random sequences\n"
    "-T   - use SPROT frequencies (default)\n"
    "-X   - use PDB frequencies\n"
    "-I   - estimate frequencies from input sequence\n"
    "-F   - output MURL-like masked sequence in FASTA format (segments with p-value < min. "
    "p-value are masked by X's)\n"
    "-L   - mask segments using lower-case letters\n"
    "-N   - do not merge overlapping/adjacent scanning windows\n"
    "-K   - estimate linkage distance from expected number of occurrences\n"
    "-A:string - amino acid sub-alphabet (default: GPSTDNH)\n"
    "-P:# - min. p-value for merging adjacent scanning windows (0.05 by default)\n"
    "-M:# - min. p-value for masking FASTA output (0.05 by default)\n";

Options ReadCommandLine(int argc, char** argv) {
  Options options = ReadOptions({argv + 3, argv + argc}, OptionSyntax::kTalvo);
  // TALVO's results stay what they always were: its own evaluation of the
  // scan statistic, its pool of generated residues, its summed fractions,
  // its seed and its normal approximation.
  Settings& settings = options.settings;
  settings.scan_formula = ScanFormula::kTalvo;
  settings.residue_pool = true;
  settings.summed_fractions = true;
  settings.seed_as_given = true;
  settings.normal_approximation = true;
  return options;
}

long ClockSeed() {
  srand(static_cast<unsigned>(time(nullptr)));
  long seed = 0;
  for (int i = 0; i < 100; ++i) seed = rand();
  return seed;
}

}  // namespace talvo::internal
