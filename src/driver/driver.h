// TALVO's program: its command line, input, console text and files around the
// one analysis, talvo::Analyser.
#pragma once
#include "api/internal.h"

namespace talvo::internal {

extern const char Help[];

// The options of a command line of at least two arguments, read in TALVO's
// syntax, with the settings of TALVO's own arithmetic.
Options ReadCommandLine(int argc, char** argv);
// The seed TALVO takes from the clock: the last of 100 rand() calls after
// srand(time).
long ClockSeed();
// The whole run; returns the process exit status.
int RunTalvo(int argc, char** argv);

}  // namespace talvo::internal
