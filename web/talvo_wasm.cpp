// The WebAssembly module's one entry point: talvo-proteome's own command line,
// run on files in the module's file system, so that the page writes exactly
// what the program writes. While it runs, the worker hears from it through
// two functions of the module object (Module.onSettings, Module.onProgress)
// rather than by reading its messages.
#include <emscripten/emscripten.h>

#include <cstdio>
#include <string>
#include <vector>

#include "proteome/command_line.h"

namespace {

// The special residues and, for random sequences, the seed (from the clock
// unless --seed gave it): what the page needs to draw and to repeat the run.
EM_JS(void, ReportSettings, (const char* alphabet, const char* seed), {
  if (Module.onSettings) Module.onSettings(UTF8ToString(alphabet), UTF8ToString(seed));
});

// Entries and residues written so far (doubles: more than 2^31 residues fit).
EM_JS(void, ReportProgress, (double entries, double residues), {
  if (Module.onProgress) Module.onProgress(entries, residues);
});

}  // namespace

extern "C" EMSCRIPTEN_KEEPALIVE int talvo_run(int argc, char** argv) {
  bool settings_reported = false;
  double entries = 0;
  double residues = 0;
  talvo::proteome::PipelineTuning tuning;
  tuning.read_buffer = 1 << 20;  // each read of a mounted File is a call into the browser
  tuning.batch_written = [&](const talvo::Settings& settings,
                             const std::vector<talvo::proteome::AnalysedEntry>& batch) {
    if (!settings_reported) {
      settings_reported = true;
      const bool seeded = settings.random_null != talvo::RandomNull::kNone && !settings.exact_null;
      ReportSettings(settings.alphabet.c_str(),
                     seeded ? std::to_string(settings.seed).c_str() : "");
    }
    for (const talvo::proteome::AnalysedEntry& item : batch) {
      residues += static_cast<double>(item.entry.residues.size());
    }
    entries += static_cast<double>(batch.size());
    ReportProgress(entries, residues);
  };
  const int status = talvo::proteome::ProteomeMain(argc, argv, tuning);
  fflush(stdout);
  fflush(stderr);
  return status;
}
