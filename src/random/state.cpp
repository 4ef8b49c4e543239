#include "random/random.h"

int _ran1_not_initialized_ = 1;
int64_t _idum_ = 0;
int64_t iy = 0;
int64_t iv[32] = {};

std::vector<double> special_rand_p(kMinDistributionSize, 0.0);
char long_seq[kPoolSize + 1] = {};
double interval[21] = {};
