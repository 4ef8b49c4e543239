#include <csignal>

#include "proteome/command_line.h"

int main(int argc, char** argv) {
  // A closed output pipe shows as EPIPE, which the run turns into a quiet end.
  signal(SIGPIPE, SIG_IGN);
  return ProteomeMain(argc, argv);
}
