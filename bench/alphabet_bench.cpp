// Composition and 0/1 encoding of a long sequence: the table-driven program
// against the literal searches through the alphabet.
#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include "alphabet/alphabet.h"
#include "reference/alphabet_reference.h"

namespace {

const std::string& LongSequence() {
  static const std::string seq = [] {
    std::mt19937 rng(7);
    const std::string pool = "ACDEFGHIKLMNPQRSTVWYX-";
    std::string s(4000000, 'A');
    for (char& c : s) c = pool[rng() % pool.size()];
    return s;
  }();
  return seq;
}

template <typename Composition>
void Frequencies(benchmark::State& state, Composition composition) {
  const std::string& seq = LongSequence();
  double freq[21];
  for (auto _ : state) {
    composition(seq.data(), static_cast<int>(seq.size()), freq);
    benchmark::DoNotOptimize(freq);
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(seq.size()));
}

template <typename Encoder>
void Encoding(benchmark::State& state, Encoder encode) {
  const std::string& seq = LongSequence();
  std::string binary(seq.size(), '0');
  for (auto _ : state) {
    encode(seq.data(), static_cast<int>(seq.size()), "GPSTDNH", binary.data());
    benchmark::DoNotOptimize(binary.data());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(seq.size()));
}

void BM_ComputeAAfreq_Literal(benchmark::State& state) {
  Frequencies(state, literal::ComputeAAfreq);
}
void BM_ComputeAAfreq_Program(benchmark::State& state) {
  Frequencies(state, ComputeAAfreq);
}
void BM_EncodeBinary_Literal(benchmark::State& state) {
  Encoding(state, literal::EncodeBinary);
}
void BM_EncodeBinary_Program(benchmark::State& state) {
  Encoding(state, EncodeBinary);
}

BENCHMARK(BM_ComputeAAfreq_Literal)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ComputeAAfreq_Program)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeBinary_Literal)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeBinary_Program)->Unit(benchmark::kMillisecond);

}  // namespace
