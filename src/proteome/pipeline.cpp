#include "proteome/pipeline.h"

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
  try {
    RunOrdered(inputs, analyser, threads, tuning, [&writer](std::vector<AnalysedEntry>& batch) {
      for (const AnalysedEntry& item : batch) writer.Add(item.input, item.entry, item.result);
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
