#include <cstddef>

#include "random/random.h"

namespace talvo::internal {

// Per thread: concurrent analyses each draw from and fill their own.
thread_local int _ran1_not_initialized_ = 1;
thread_local int64_t _idum_ = 0;
thread_local int64_t iy = 0;
thread_local int64_t iv[32] = {};

thread_local std::vector<double> special_rand_p(kMinDistributionSize, 0.0);
thread_local std::vector<int> special_rand_count;
thread_local bool generate_from_pool = true;
thread_local std::vector<char> long_seq;
thread_local double interval[21] = {};
thread_local Progress* random_progress = nullptr;

char* PoolResidues() {
  if (long_seq.size() < static_cast<std::size_t>(kPoolSize) + 1)
    long_seq.resize(kPoolSize + 1, '\0');
  return long_seq.data();
}

}  // namespace talvo::internal
