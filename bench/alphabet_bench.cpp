// Composition and 0/1 encoding of a long sequence: the table-driven program
// against the literal searches through the alphabet.
#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <string>

#include "alphabet/alphabet.h"

using namespace talvo::internal;

namespace {

// The literal versions: a search through the alphabet and one addition of 1.0
// per residue, one AA2binary call per position.
void LiteralComputeAAfreq(const char* seq, int n, double* out) {
  for (int i = 0; i < 21; i++) out[i] = 0.0;
  int count = 0;
  for (int i = 0; i < n; i++) {
    const int index = FindLetter(seq[i], 20, aa);
    if (index >= 0) {
      out[index] += 1.0;
      count++;
    }
  }
  for (int i = 0; i < 20 && count > 0; i++) out[i] /= count;
}

void LiteralEncodeBinary(const char* seq, int n, const char* set, char* binary) {
  const int length = static_cast<int>(strlen(set));
  for (int i = 0; i < n; i++) binary[i] = AA2binary(seq[i], set, length);
}

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
  Frequencies(state, LiteralComputeAAfreq);
}
void BM_ComputeAAfreq_Program(benchmark::State& state) {
  Frequencies(state, ComputeAAfreq);
}
void BM_EncodeBinary_Literal(benchmark::State& state) {
  Encoding(state, LiteralEncodeBinary);
}
void BM_EncodeBinary_Program(benchmark::State& state) {
  Encoding(state, EncodeBinary);
}

BENCHMARK(BM_ComputeAAfreq_Literal)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ComputeAAfreq_Program)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeBinary_Literal)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_EncodeBinary_Program)->Unit(benchmark::kMillisecond);

}  // namespace
