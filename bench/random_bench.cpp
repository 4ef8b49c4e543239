// The random-sequence stage on a 35,000-residue protein beside a bare loop of
// as many ran1 draws, and beside the literal stage on fewer sequences.
#include <benchmark/benchmark.h>

#include <string>

#include "alphabet/alphabet.h"
#include "random/random.h"
#include "reference/literal.h"

using namespace talvo::internal;

namespace {

constexpr int kProteinLength = 35000;
constexpr int kShuffledMode = 2;
constexpr int kGeneratedMode = 1;

// A fixed protein drawn from the background composition, as a 0/1 string.
const std::string& ProteinBinary() {
  static const std::string binary = [] {
    Generator g;
    init_ran1(g, 20240601);
    double bounds[21];
    SetIntervals(sp_aa_freq, bounds);
    std::string residues(kProteinLength, 'A');
    GenerateRandomSequence(g, residues.data(), kProteinLength, bounds);
    std::string encoded(kProteinLength, '0');
    for (int i = 0; i < kProteinLength; ++i) {
      encoded[i] = AA2binary(residues[i], "GPSTDNH", 7);
    }
    return encoded;
  }();
  return binary;
}

RandomStage Stage(int mode, int sequences) {
  return RandomStage{sequences, mode == kShuffledMode, 4, sp_aa_freq, "GPSTDNH", true, nullptr};
}

void FastStage(char* s, const RandomStage& stage) {
  static RandomWork work;
  init_ran1(work.generator, 1);
  EstimateRandomPM(s, kProteinLength, stage, work);
  benchmark::DoNotOptimize(work.longest.data());
}

void LiteralStage(char* s, const RandomStage& stage) {
  Generator g;
  init_ran1(g, 1);
  std::vector<double> distribution;
  literal::EstimateRandomPM(s, kProteinLength, stage, g, distribution);
  benchmark::DoNotOptimize(distribution.data());
}

template <void (*Estimate)(char*, const RandomStage&)>
void RunStage(benchmark::State& state, int mode) {
  const RandomStage stage = Stage(mode, static_cast<int>(state.range(0)));
  for (auto _ : state) {
    std::string s = ProteinBinary();
    Estimate(s.data(), stage);
  }
}

void BM_Shuffled(benchmark::State& state) {
  RunStage<FastStage>(state, kShuffledMode);
}
void BM_Generated(benchmark::State& state) {
  RunStage<FastStage>(state, kGeneratedMode);
}
void BM_LiteralShuffled(benchmark::State& state) {
  RunStage<LiteralStage>(state, kShuffledMode);
}
void BM_LiteralGenerated(benchmark::State& state) {
  RunStage<LiteralStage>(state, kGeneratedMode);
}

// The floor: the draws themselves, one ran1 call each.
void BM_BareDraws(benchmark::State& state) {
  const int64_t draws = state.range(0);
  for (auto _ : state) {
    Generator g;
    init_ran1(g, 1);
    double sum = 0;
    for (int64_t k = 0; k < draws; ++k) sum += ran1(g, 1.0);
    benchmark::DoNotOptimize(sum);
  }
}

// A shuffle of n positions takes n + 1 draws on average; shuffled mode makes
// one unanalysed shuffle before the counted ones.
constexpr int64_t ShuffleDraws(int64_t sequences) {
  return (sequences + 1) * (kProteinLength + 1);
}
constexpr int64_t GeneratedDraws(int64_t sequences) {
  return kPoolSize + sequences * kProteinLength;
}

}  // namespace

BENCHMARK(BM_Shuffled)->Arg(10000)->Arg(20)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_BareDraws)->Arg(ShuffleDraws(10000))->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_LiteralShuffled)->Arg(20)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_Generated)->Arg(10000)->Arg(20)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_BareDraws)->Arg(GeneratedDraws(10000))->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_LiteralGenerated)->Arg(20)->Unit(benchmark::kMillisecond)->Iterations(1);
