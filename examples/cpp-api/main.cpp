// Prints the arginine-rich segments of a protein given on the command line.
#include <talvo/talvo.h>

#include <cstdio>

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: biased_segments SEQUENCE\n");
    return 2;
  }
  talvo::Settings settings;
  settings.alphabet = "R";
  try {
    const talvo::Result result = talvo::Analyser(settings).Analyse(argv[1]);
    for (const talvo::Segment& s : result.segments) {
      printf("%d\t%d\t%d\t%.6e\t%s\n", s.start, s.end, s.special, s.p_value, s.residues.c_str());
    }
  } catch (const talvo::Error& e) {
    fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
