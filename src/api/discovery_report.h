// Discovery for a front end that writes few of the many segments it finds
// (talvo-proteome): the others are counted, not kept.
#pragma once
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

#include "talvo/talvo.h"

namespace talvo::internal {

// What the analysis of one protein hands such a front end beside the results.
struct DiscoveryReport {
  double below = 2.0;  // only segments with p below it are kept in the results (2: every one)
  bool segments_only = false;  // no overall tests: the results' overall is left empty
  // The 1-based number of each kept segment among its class's segments,
  // class after class.
  std::vector<int> numbers;
  // Every segment's p-value, as (value, how many segments have it).
  std::vector<std::pair<double, uint32_t>> tally;
  // talvo-proteome --discover --masked with a mask of its own: the mask's
  // analysis of the same protein, its results and tally as above.
  std::vector<Result> mask_results;
  std::vector<std::pair<double, uint32_t>> mask_tally;
};

struct DiscoveryAccess {
  static constexpr size_t kTallyRoom = 512;
  // Discovery::Analyse, keeping in results only the segments below
  // report.below; report's vectors are filled anew.
  static void Analyse(const Discovery& discovery, std::string_view sequence, long entry_number,
                      Workspace& workspace, std::vector<Result>& results, DiscoveryReport& report) {
    report.numbers.clear();
    report.tally.clear();
    // Room for most proteins' values at once, not grown a step at a time.
    report.tally.reserve(kTallyRoom);
    discovery.AnalyseClasses(sequence, entry_number, workspace, results, &report);
  }
};

}  // namespace talvo::internal
