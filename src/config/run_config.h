// The run configuration and the set-up products: filled by the driver, read
// by detection, the random stage and the report, which need nothing else of
// the driver.
#pragma once

namespace talvo::internal {

// Run configuration, filled by InitAll from the command line; per thread, so
// that analyses with different settings can run side by side.
extern thread_local int window;  // -W: below 2 runs mode, else window mode
// -E, -K: linkage distance; per thread, since -K derives it from each sequence.
extern thread_local int max_separation;
extern thread_local int random_seqs;       // -S, -G: number of random sequences
extern thread_local int estimate_ran;      // 0 none, 1 generated, 2 shuffled
extern thread_local int estimate_freq;     // -I: composition from the input
extern thread_local double min_p_val;      // -P: threshold for recording windows
extern thread_local double masking_p_val;  // -M: threshold for masking
extern thread_local int use_merge;         // -N clears it
extern thread_local int estimate_linkage;  // -K

// Set-up products read by detection and the report; per thread, so that
// analyses of several sequences can run side by side.
extern thread_local char* binary_seq;         // 0/1 string of entry 0, N+1 characters
extern thread_local char* random_binary_seq;  // working copy for random sequences

}  // namespace talvo::internal
