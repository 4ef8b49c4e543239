#include <csignal>

#include "proteome/command_line.h"
#include "proteome/output_files.h"

int main(int argc, char** argv) {
  ReserveStandardDescriptors();
  // A closed output pipe shows as EPIPE, which the run turns into a quiet end.
  signal(SIGPIPE, SIG_IGN);
  RemoveTemporariesOnSignals();
  return ProteomeMain(argc, argv);
}
