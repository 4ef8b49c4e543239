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

namespace {

void Run(const ProteomeOptions& options, const Analysis& analysis, const talvo::Settings& settings,
         const PipelineTuning& tuning) {
  ProteomeWriter writer(options, settings, analysis.mask != nullptr);
  if (analysis.discovery != nullptr) {
    std::vector<talvo::Settings> class_settings;
    for (size_t c = 0; c < options.classes.size(); c++) {
      class_settings.push_back(analysis.discovery->class_settings(c));
    }
    writer.SetClassSettings(std::move(class_settings));
  }
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
    const bool discover = analysis.discovery != nullptr;
    RunOrdered(inputs, analysis, threads, tuning, [&](std::vector<AnalysedEntry>& batch) {
      for (const AnalysedEntry& item : batch) {
        if (discover) {
          writer.Add(item.input, item.entry, item.classes, item.discovery_report.get());
          if (analysis.mask != nullptr) {
            const internal::DiscoveryReport& report = *item.discovery_report;
            writer.AddMask(item.entry, report.mask_results, report.mask_tally);
          }
        } else {
          writer.Add(item.input, item.entry, item.result);
        }
      }
      writer.EndBatch();
      if (tuning.batch_written) tuning.batch_written(settings, batch);
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
