#include "proteome/pipeline.h"

#include <algorithm>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "proteome/errors.h"
#include "proteome/proteome_writer.h"
#include "proteome/shard_table.h"

namespace talvo::proteome {

void RunPipeline(const ProteomeOptions& options, const talvo::Analyser& analyser,
                 const PipelineTuning& tuning) {
  ProteomeWriter writer(options, analyser.settings());
  std::vector<std::string> fingerprints(options.inputs.size());
  OrderedInputs inputs{
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
  // The rows are formatted on the analysis threads; the writer takes them in
  // order.
  writer.SetWorkers(static_cast<size_t>(std::max(threads, 1)));
  inputs.prepare = [&writer](AnalysedEntry& item, size_t worker) { writer.Prepare(item, worker); };
  try {
    RunOrdered(inputs, analyser, threads, tuning, [&writer](std::vector<AnalysedEntry>& batch) {
      for (const AnalysedEntry& item : batch) writer.Add(item);
      writer.EndBatch();
      return true;
    });
    writer.SetInputFingerprints(std::move(fingerprints));  // the reader has ended
    writer.Finish();
  } catch (const BrokenPipe&) {
    throw;
  } catch (...) {
    writer.EndProgressLine();
    throw;
  }
  writer.PrintCounts();
}

}  // namespace talvo::proteome
