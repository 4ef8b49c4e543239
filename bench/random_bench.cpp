// The random-sequence stage on a 35,000-residue protein beside a bare loop of
// as many ran1 draws, and beside the literal stage on fewer sequences.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "alphabet/alphabet.h"
#include "driver/driver.h"
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
    init_ran1(20240601);
    double bounds[21];
    SetIntervals(sp_aa_freq, bounds);
    std::string residues(kProteinLength, 'A');
    GenerateRandomSequence(residues.data(), kProteinLength, bounds);
    std::string encoded(kProteinLength, '0');
    for (int i = 0; i < kProteinLength; ++i) {
      encoded[i] = AA2binary(residues[i], "GPSTDNH", 7);
    }
    return encoded;
  }();
  return binary;
}

void Configure(int mode, int sequences) {
  estimate_ran = mode;
  random_seqs = sequences;
  max_separation = 4;
  aa_freq = sp_aa_freq;
  std::strcpy(special_aa, "GPSTDNH");
}

// Keeps the stage's progress lines out of the benchmark table.
class QuietStdout {
 public:
  QuietStdout() {
    fflush(stdout);
    saved_ = dup(1);
    const int null_fd = open("/dev/null", O_WRONLY);
    dup2(null_fd, 1);
    close(null_fd);
  }
  ~QuietStdout() {
    fflush(stdout);
    dup2(saved_, 1);
    close(saved_);
  }

 private:
  int saved_;
};

template <void (*Estimate)(char*, int)>
void RunStage(benchmark::State& state, int mode) {
  Configure(mode, static_cast<int>(state.range(0)));
  for (auto _ : state) {
    std::string s = ProteinBinary();
    init_ran1(1);
    special_rand_p.assign(kMinDistributionSize, 0.0);
    QuietStdout quiet;
    Estimate(s.data(), kProteinLength);
    benchmark::DoNotOptimize(special_rand_p.data());
  }
}

void BM_Shuffled(benchmark::State& state) {
  RunStage<EstimateRandomPM>(state, kShuffledMode);
}
void BM_Generated(benchmark::State& state) {
  RunStage<EstimateRandomPM>(state, kGeneratedMode);
}
void BM_LiteralShuffled(benchmark::State& state) {
  RunStage<literal::EstimateRandomPM>(state, kShuffledMode);
}
void BM_LiteralGenerated(benchmark::State& state) {
  RunStage<literal::EstimateRandomPM>(state, kGeneratedMode);
}

// The floor: the draws themselves, one ran1 call each.
void BM_BareDraws(benchmark::State& state) {
  const int64_t draws = state.range(0);
  for (auto _ : state) {
    init_ran1(1);
    double sum = 0;
    for (int64_t k = 0; k < draws; ++k) sum += ran1(1.0);
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
