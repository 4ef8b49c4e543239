// The command line of talvo-proteome: its own GNU-style options, and TALVO's
// analysis options in TALVO's syntax, read strictly by talvo::SettingsFromOptions.
#pragma once
#include "proteome/pipeline.h"

extern const char kProteomeHelp[];
extern const char kProteomeVersion[];

// Parses, runs and returns the exit status.
int ProteomeMain(int argc, char** argv, const PipelineTuning& tuning = PipelineTuning{});
