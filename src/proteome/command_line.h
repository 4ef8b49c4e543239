// The command line of talvo-proteome: its own GNU-style options, and TALVO's
// analysis options in TALVO's syntax, checked by TALVO's own parser.
#pragma once
#include "proteome/pipeline.h"

extern const char kProteomeHelp[];
extern const char kProteomeVersion[];

// Parses, runs and returns the exit status.
int ProteomeMain(int argc, char** argv, const PipelineTuning& tuning = PipelineTuning{});
