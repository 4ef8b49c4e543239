#include "proteome/pipeline.h"

#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "proteome/proteome_writer.h"
#include "proteome/shard_table.h"

int RunPipeline(const ProteomeOptions& options, const talvo::Analyser& analyser,
                const PipelineTuning& tuning) {
  ProteomeWriter writer(options, analyser.settings());
  std::string error;
  if (writer.Open()) {
    std::vector<std::string> fingerprints(options.inputs.size());
    const OrderedInputs inputs{
        options.inputs, options.shard_index, options.shard_count,
        [](const std::string& warning) {
          fprintf(stderr, "talvo-proteome: warning: %s\n", warning.c_str());
        },
        [&fingerprints](size_t input, unsigned long crc32, unsigned long long bytes) {
          fingerprints[input] = Crc32FingerprintValue(crc32, bytes);
        }};
#ifdef TALVO_NO_THREADS
    const int threads = 0;  // builds without threads (WebAssembly) analyse on this thread
#else
    const int threads = options.threads;
#endif
    error = RunOrdered(inputs, analyser, threads, tuning, [&](std::vector<AnalysedEntry>& batch) {
      for (const AnalysedEntry& item : batch) {
        if (!writer.Add(item.input, item.entry, item.result)) return false;
      }
      if (!writer.EndBatch()) return false;
      if (tuning.batch_written) tuning.batch_written(analyser.settings(), batch);
      return true;
    });
    // The writer's own failure comes first: it is why the run stopped.
    writer.SetInputFingerprints(std::move(fingerprints));  // the reader has ended
    if (writer.error().empty() && error.empty()) writer.Finish();
  }
  if (writer.broken_pipe()) return kPipeStatus;
  if (error.empty()) error = writer.error();
  writer.EndProgressLine();
  if (!error.empty()) {
    fprintf(stderr, "talvo-proteome: %s\n", error.c_str());
    return 1;
  }
  writer.PrintCounts();
  return 0;
}
