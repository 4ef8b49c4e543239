// The run: a reader thread, analysis threads and one writer that keeps input
// order, so that the output is the same for every thread count.
#pragma once
#include <optional>
#include <vector>

#include "proteome/options.h"
#include "proteome/ordered_pipeline.h"
#include "talvo/talvo.h"

namespace talvo::proteome {

// Analyses the inputs and writes every output; throws on any failure
// (errors.h), after ending the progress line. A successful run ends with the
// skip counts on standard error.
void RunPipeline(const ProteomeOptions& options, const talvo::Analyser& analyser,
                 const PipelineTuning& tuning);
// What --discover --masked masks: options.classes at options.mask_linkage,
// found by a discovery of their own, or by none (nullopt) without --masked or
// when every class of the tables (class_settings) is found at that distance.
std::optional<talvo::Discovery> MaskDiscovery(const ProteomeOptions& options,
                                              const talvo::Settings& settings,
                                              const std::vector<talvo::Settings>& class_settings);
// The same with discovery: options.classes are discovery's classes. With a
// mask, --masked masks its segments (the same classes at the mask's linkage
// distance) by their own q-values; without, the reported analysis's.
void RunPipeline(const ProteomeOptions& options, const talvo::Discovery& discovery,
                 const talvo::Discovery* mask, const PipelineTuning& tuning);

}  // namespace talvo::proteome
