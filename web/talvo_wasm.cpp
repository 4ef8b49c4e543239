// The WebAssembly module's one entry point: talvo-proteome's own command line,
// run on files in the module's in-memory file system, so that the page writes
// exactly what the program writes.
#include <emscripten/emscripten.h>

#include <cstdio>

#include "proteome/command_line.h"

extern "C" EMSCRIPTEN_KEEPALIVE int talvo_run(int argc, char** argv) {
  const int status = talvo::proteome::ProteomeMain(argc, argv);
  fflush(stdout);
  fflush(stderr);
  return status;
}
