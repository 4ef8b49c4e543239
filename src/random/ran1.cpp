// Minimal standard multiplicative generator (Schrage's method) behind a
// 32-entry shuffle table. Every deviate of a run follows from its seed, so the
// arithmetic below must never change.
#include <cstdio>
#include <cstdlib>

#include "random/random.h"

namespace talvo::internal {

namespace {

constexpr int64_t kMultiplier = 16807;
constexpr int64_t kModulus = 2147483647;
constexpr int64_t kSchrageQ = 127773;
constexpr int64_t kSchrageR = 2836;
constexpr int kTableSize = 32;
constexpr int kWarmUpSteps = 8;
constexpr int64_t kTableDivisor = 67108864;
constexpr double kScale = 4.656612875245797e-10;
constexpr double kLargestDeviate = 0.9999999999999998;
constexpr int64_t kZeroSeedReplacement = -123456789;
constexpr int kSeedingCalls = 100;

int64_t Step(int64_t v) {
  const int64_t k = v / kSchrageQ;
  v = kMultiplier * (v - k * kSchrageQ) - kSchrageR * k;
  if (v < 0) v += kModulus;
  return v;
}

void BuildTable() {
  int64_t v = -_idum_;
  if (v < 1) v = 1;
  for (int j = kTableSize + kWarmUpSteps - 1; j >= 0; --j) {
    v = Step(v);
    if (j < kTableSize) iv[j] = v;
  }
  iy = iv[0];
  _idum_ = v;
}

}  // namespace

double ran1(double x) {
  if (_ran1_not_initialized_ != 0) {
    printf("\nERROR: RAN1() was not initialized");
    exit(1);
  }
  if (_idum_ <= 0 || iy == 0) BuildTable();
  _idum_ = Step(_idum_);
  const int64_t j = iy / kTableDivisor;
  const int64_t y = iv[j];
  iv[j] = _idum_;
  iy = y;
  double t = static_cast<double>(y) * kScale;
  if (t > kLargestDeviate) t = kLargestDeviate;
  return t * x;
}

void init_ran1(long seed) {
  _idum_ = seed;
  // Schrage's step is exact only below the modulus: a wider seed is folded
  // into it, so the table never holds a value that indexes outside it.
  if (_idum_ > kModulus || _idum_ < -kModulus) _idum_ %= kModulus;
  if (_idum_ > 0) _idum_ = -_idum_;
  if (_idum_ == 0) _idum_ = kZeroSeedReplacement;
  _ran1_not_initialized_ = 0;
  for (int i = 0; i < kSeedingCalls; ++i) ran1(1000.0);
}

}  // namespace talvo::internal
