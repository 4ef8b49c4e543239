// Significance statistics beside their literal references: the scan p-value
// (rounded and without cancellation) for windows of 20, 200 and 2000, both exact tails of 35,000
// trials, and the normal approximation. Compare each Fast line with its Literal line.
#include <benchmark/benchmark.h>

#include "reference/literal.h"
#include "stats/stats.h"

using namespace talvo::internal;

namespace {

const double kDefaultP = 0.36532;  // the default special-residue probability
const int kSequenceLength = 35000;

// Arguments: window w and count k.
void BM_ScanFast(benchmark::State& state) {
  int w = (int)state.range(0), k = (int)state.range(1);
  for (auto _ : state) {
    benchmark::DoNotOptimize(P_scan_ge_K_in_W_N(k, w, kSequenceLength, kDefaultP));
  }
}

// The same formula without cancellation.
void BM_ScanAccurate(benchmark::State& state) {
  int w = (int)state.range(0), k = (int)state.range(1);
  for (auto _ : state) {
    benchmark::DoNotOptimize(P_scan_ge_K_in_W_N_accurate(k, w, kSequenceLength, kDefaultP));
  }
}

void BM_ScanLiteral(benchmark::State& state) {
  int w = (int)state.range(0), k = (int)state.range(1);
  for (auto _ : state) {
    benchmark::DoNotOptimize(literal::P_scan_ge_K_in_W_N(k, w, kSequenceLength, kDefaultP));
  }
}

// Counts of half the window, a typical biased segment. The literal cost grows
// as k^3, so for w = 2000 it runs at k = 200 as well, beside the fast one.
// Significant counts too: 15 of 20, 120 of 200 and 900 of 2000.
BENCHMARK(BM_ScanFast)
    ->Args({20, 10})
    ->Args({200, 100})
    ->Args({2000, 1000})
    ->Args({2000, 200})
    ->Args({20, 15})
    ->Args({200, 120})
    ->Args({2000, 900});
BENCHMARK(BM_ScanAccurate)
    ->Args({20, 10})
    ->Args({200, 100})
    ->Args({2000, 1000})
    ->Args({2000, 200})
    ->Args({20, 15})
    ->Args({200, 120})
    ->Args({2000, 900});
BENCHMARK(BM_ScanLiteral)
    ->Args({20, 10})
    ->Args({200, 100})
    ->Args({2000, 200})
    ->Unit(benchmark::kMillisecond);

// Arguments: p in thousandths. At p = 0.01 (1 - p)^35000 is a normal double
// and the literal sum is the same computation; at p = 0.35 it is 0 and the
// fast tails use log-space terms.
double TailP(const benchmark::State& state) {
  return (double)state.range(0) / 1000;
}
int MeanCount(double p) {
  return (int)(kSequenceLength * p);
}

void BM_UpperTailFast(benchmark::State& state) {
  double p = TailP(state);
  for (auto _ : state) {
    benchmark::DoNotOptimize(Binomial_P_GreaterThan_K(MeanCount(p), kSequenceLength, p));
  }
}

void BM_UpperTailLiteral(benchmark::State& state) {
  double p = TailP(state);
  for (auto _ : state) {
    benchmark::DoNotOptimize(literal::Binomial_P_GreaterThan_K(MeanCount(p), kSequenceLength, p));
  }
}

void BM_LowerTailFast(benchmark::State& state) {
  double p = TailP(state);
  for (auto _ : state) {
    benchmark::DoNotOptimize(Binomial_P_LessThan_K(MeanCount(p), kSequenceLength, p));
  }
}

void BM_LowerTailLiteral(benchmark::State& state) {
  double p = TailP(state);
  for (auto _ : state) {
    benchmark::DoNotOptimize(literal::Binomial_P_LessThan_K(MeanCount(p), kSequenceLength, p));
  }
}

BENCHMARK(BM_UpperTailFast)->Arg(10)->Arg(350)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_UpperTailLiteral)->Arg(10)->Arg(350)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LowerTailFast)->Arg(10)->Arg(350)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_LowerTailLiteral)->Arg(10)->Arg(350)->Unit(benchmark::kMillisecond);

// The upper tail of the documented n = 300, p = 0.35, k = 120.
void BM_NormalApproximationFast(benchmark::State& state) {
  int valid = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(ApproxBinomial_P_GreaterThan_K(120, 300, 0.35, valid));
  }
}

BENCHMARK(BM_NormalApproximationFast)->Unit(benchmark::kMillisecond);

}  // namespace
