#include "random/random.h"

// Per thread: concurrent analyses each draw from and fill their own.
thread_local int _ran1_not_initialized_ = 1;
thread_local int64_t _idum_ = 0;
thread_local int64_t iy = 0;
thread_local int64_t iv[32] = {};

thread_local std::vector<double> special_rand_p(kMinDistributionSize, 0.0);
thread_local char long_seq[kPoolSize + 1] = {};
thread_local double interval[21] = {};
bool random_progress = true;
