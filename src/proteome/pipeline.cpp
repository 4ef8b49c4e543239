#include "proteome/pipeline.h"

#include <algorithm>
#include <cstdio>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "proteome/errors.h"
#include "proteome/fasta_index.h"
#include "proteome/proteome_writer.h"
#include "proteome/shard_table.h"

namespace talvo::proteome {

namespace {

// The parts of the inputs that an indexed shard reads (none for an input read
// whole), and each input's fingerprints: of an indexed part, its index's now
// and what it read once it is read.
struct ShardParts {
  std::vector<std::optional<IndexedInput>> indexed;
  std::vector<const InputPart*> parts;
  std::vector<Fingerprints> fingerprints;
};

void FindParts(const ProteomeOptions& options, ShardParts& shard) {
  const size_t inputs = options.inputs.size();
  shard.indexed.resize(inputs);
  shard.parts.resize(inputs, nullptr);
  shard.fingerprints.resize(inputs);
  for (size_t input = 0; input < inputs && options.sharded; input++) {
    std::string warning;
    shard.indexed[input] =
        FindIndexedPart(options.inputs[input], options.shard_index, options.shard_count, warning);
    if (!warning.empty()) fprintf(stderr, "talvo-proteome: warning: %s\n", warning.c_str());
    if (!shard.indexed[input]) continue;
    shard.parts[input] = &shard.indexed[input]->part;
    shard.fingerprints[input][kIndexFingerprint] = shard.indexed[input]->index_fingerprint;
  }
}

void Run(const ProteomeOptions& options, const Analysis& analysis, const talvo::Settings& settings,
         const PipelineTuning& tuning) {
  ShardParts shard;
  FindParts(options, shard);
  ProteomeWriter writer(options, settings, analysis.mask != nullptr);
  if (analysis.discovery != nullptr) {
    std::vector<talvo::Settings> class_settings;
    for (size_t c = 0; c < options.classes.size(); c++) {
      class_settings.push_back(analysis.discovery->class_settings(c));
    }
    writer.SetClassSettings(std::move(class_settings));
  }
  OrderedInputs inputs{
      {options.inputs, options.shard_index, options.shard_count,
       [](const std::string& warning) {
         fprintf(stderr, "talvo-proteome: warning: %s\n", warning.c_str());
       },
       [&shard](size_t input, unsigned long crc32, unsigned long long bytes) {
         const InputPart* part = shard.parts[input];
         if (part == nullptr) {
           shard.fingerprints[input][kCrc32Fingerprint] = Crc32FingerprintValue(crc32, bytes);
         } else {
           shard.fingerprints[input][kPartFingerprint] = PartFingerprintValue(crc32, bytes, *part);
         }
       }},
      shard.parts};
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
    RunOrdered(inputs, analysis, threads, tuning, [&](std::vector<AnalysedEntry>& batch) {
      for (const AnalysedEntry& item : batch) writer.Add(item);
      writer.EndBatch();
      if (tuning.batch_written) tuning.batch_written(settings, batch);
      return true;
    });
    writer.SetInputFingerprints(std::move(shard.fingerprints));  // the reader has ended
    writer.Finish();
  } catch (const BrokenPipe&) {
    throw;
  } catch (...) {
    writer.EndProgressLine();
    throw;
  }
  writer.PrintCounts();
}

}  // namespace

std::optional<talvo::Discovery> MaskDiscovery(const ProteomeOptions& options,
                                              const talvo::Settings& settings,
                                              const std::vector<talvo::Settings>& class_settings) {
  const auto at_mask_linkage = [&options](const talvo::Settings& found) {
    return !found.estimate_linkage && found.linkage == options.mask_linkage;
  };
  if (options.masked.empty() ||
      std::all_of(class_settings.begin(), class_settings.end(), at_mask_linkage)) {
    return std::nullopt;
  }
  talvo::Settings mask = settings;
  mask.linkage = options.mask_linkage;
  mask.estimate_linkage = false;
  return talvo::Discovery(mask, options.classes, talvo::ClassLinkage::kFromSettings);
}

void RunPipeline(const ProteomeOptions& options, const talvo::Analyser& analyser,
                 const PipelineTuning& tuning) {
  Run(options, analyser, analyser.settings(), tuning);
}

void RunPipeline(const ProteomeOptions& options, const talvo::Discovery& discovery,
                 const talvo::Discovery* mask, const PipelineTuning& tuning) {
  // Only the segments reported (and masked) are kept; the others are counted.
  const double mask_p = discovery.settings().mask_p;
  const double below = options.all_segments ? 2.0 : mask_p;
  Run(options, Analysis(discovery, below, mask, mask_p), discovery.settings(), tuning);
}

}  // namespace talvo::proteome
