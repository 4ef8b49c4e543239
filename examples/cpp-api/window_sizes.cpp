// Finds the arginine-rich segments of a protein given on the command line, in
// runs mode and with windows of several sizes, one workspace serving every
// analysis. The program's globals share names with variables of the library's
// own code: they never meet, since all of the library lives in namespace talvo.
#include <talvo/talvo.h>

#include <cstdio>

int window = 0;          // the window of the current analysis
int special = 0;         // special residues in its segments
double P_special = 0.0;  // the probability of a special residue it used

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: window_sizes SEQUENCE\n");
    return 2;
  }
  talvo::Workspace workspace;  // one per thread, reused by every call
  for (int size : {0, 10, 20, 40}) {
    window = size;
    talvo::Settings settings;
    settings.alphabet = "R";
    settings.window = window;
    const talvo::Result result = talvo::Analyser(settings).Analyse(argv[1], 1, workspace);
    if (result.skip != talvo::Skip::kNone) {
      printf("W=%d\tskipped: %s\n", window, talvo::SkipText(result.skip));
      continue;
    }
    special = 0;
    for (const talvo::Segment& s : result.segments) special += s.special;
    P_special = result.special_probability;
    printf("W=%d\t%zu segments\t%d special\tP=%.5f\n", window, result.segments.size(), special,
           P_special);
  }
  return 0;
}
