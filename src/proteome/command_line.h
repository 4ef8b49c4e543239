// The command line of talvo-proteome: its own GNU-style options, and TALVO's
// analysis options in TALVO's syntax, read strictly by talvo::SettingsFromOptions.
// Every failure below arrives here as an exception and leaves as a message on
// standard error and an exit status.
#pragma once
#include "proteome/ordered_pipeline.h"

namespace talvo::proteome {

extern const char kProteomeHelp[];

// Parses, runs and returns the exit status: 0; 1 after a message; 141 when
// the reader of an output went away.
int ProteomeMain(int argc, char** argv, const PipelineTuning& tuning = PipelineTuning{});

}  // namespace talvo::proteome
