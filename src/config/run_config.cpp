#include "config/run_config.h"

namespace talvo::internal {

thread_local int window = 0;
// Per thread: -K derives it from each analysed sequence.
thread_local int max_separation = 4;
thread_local int random_seqs = 0;
thread_local int estimate_ran = 0;
thread_local int estimate_freq = 0;
thread_local double min_p_val = 0.05;
thread_local double masking_p_val = 0.05;
thread_local int use_merge = 1;
thread_local int estimate_linkage = 0;

// Per thread: each concurrent analysis encodes its own sequence.
thread_local char* binary_seq = nullptr;
thread_local char* random_binary_seq = nullptr;

}  // namespace talvo::internal
