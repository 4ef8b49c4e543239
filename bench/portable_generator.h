// A random stream for the benchmarks that compare native and WebAssembly
// builds: both draw the same arguments from the same seed.
#pragma once

#include <cmath>
#include <cstdint>

namespace bench {

// splitmix64: the same stream on every platform.
struct Generator {
  uint64_t state;
  uint64_t Next() {
    uint64_t z = (state += 0x9E3779B97F4A7C15ULL);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
    return z ^ (z >> 31);
  }
  double Uniform(double a, double b) { return a + (b - a) * ((Next() >> 11) * 0x1p-53); }
  int Integer(int a, int b) {
    return a + static_cast<int>(Next() % static_cast<uint64_t>(b - a + 1));
  }
  // x * 2^e, drawn in this order (the order of a call's arguments is not).
  double Scaled(double a, double b, int low, int high) {
    const double x = Uniform(a, b);
    return std::ldexp(x, Integer(low, high));
  }
};

}  // namespace bench
