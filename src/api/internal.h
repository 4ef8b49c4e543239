// What the front ends share with the analysis beyond the public header.
#pragma once
#include <cstdint>

#include "stats/stats.h"
#include "talvo/talvo.h"

namespace talvo {

// The generator seed of an entry, from the run seed and the entry's number
// within its input: well mixed, in 1..2147483646.
long EntrySeed(uint64_t run_seed, long entry_number);
// The scan p-value function the settings select.
internal::ScanPValueFunction ScanFunction(const Settings& settings);
// Throws Error unless 0 <= p <= 1.
void CheckProbability(double p);

}  // namespace talvo
