#include <csignal>

#include "proteome/command_line.h"
#include "proteome/output_files.h"

int main(int argc, char** argv) {
  talvo::proteome::ReserveStandardDescriptors();
  // A closed output pipe shows as EPIPE, which the run turns into a quiet end.
  signal(SIGPIPE, SIG_IGN);
  talvo::proteome::RemoveTemporariesOnSignals();
  return talvo::proteome::ProteomeMain(argc, argv);
}
