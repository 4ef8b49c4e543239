// Minimal standard multiplicative generator (Schrage's method) behind a
// 32-entry shuffle table. Every deviate of a run follows from its seed, so the
// arithmetic below must never change.
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
constexpr int kWarmUpCalls = 100;

int64_t Step(int64_t v) {
  const int64_t k = v / kSchrageQ;
  v = kMultiplier * (v - k * kSchrageQ) - kSchrageR * k;
  if (v < 0) v += kModulus;
  return v;
}

void BuildTable(Generator& g) {
  int64_t v = -g.idum;
  if (v < 1) v = 1;
  for (int j = kTableSize + kWarmUpSteps - 1; j >= 0; --j) {
    v = Step(v);
    if (j < kTableSize) g.iv[j] = v;
  }
  g.iy = g.iv[0];
  g.idum = v;
}

}  // namespace

double ran1(Generator& g, double x) {
  if (g.not_initialized != 0) throw Error("RAN1() was not initialized");
  if (g.idum <= 0 || g.iy == 0) BuildTable(g);
  g.idum = Step(g.idum);
  const int64_t j = g.iy / kTableDivisor;
  const int64_t y = g.iv[j];
  g.iv[j] = g.idum;
  g.iy = y;
  double t = static_cast<double>(y) * kScale;
  if (t > kLargestDeviate) t = kLargestDeviate;
  return t * x;
}

void init_ran1(Generator& g, long seed) {
  g.idum = seed;
  // Schrage's step is exact only below the modulus: a wider seed is folded
  // into it, so the table never holds a value that indexes outside it.
  if (g.idum > kModulus || g.idum < -kModulus) g.idum %= kModulus;
  if (g.idum > 0) g.idum = -g.idum;
  if (g.idum == 0) g.idum = kZeroSeedReplacement;
  g.not_initialized = 0;
  for (int i = 0; i < kWarmUpCalls; ++i) ran1(g, 1000.0);
}

}  // namespace talvo::internal
