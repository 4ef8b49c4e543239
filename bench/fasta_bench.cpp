// Reading a large FASTA file: the program's reader against the literal one.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "fasta/fasta.h"
#include "proteome/fasta_stream.h"
#include "reference/literal.h"
#include "support/support.h"

using namespace talvo::internal;

namespace {

// About 32 MB: a few hundred entries of 60-column lines with lower case,
// digits and blanks mixed in.
const std::string& LargeFastaPath() {
  static const TempDir dir;
  static const std::string path = [] {
    const std::string file = dir / "large.fa";
    std::mt19937 rng(1);
    const std::string pool = "ACDEFGHIKLMNPQRSTVWYacdefghiklmnpqrstvwy-X 1*";
    std::string text;
    for (int entry = 0; entry < 500; entry++) {
      text += ">entry " + std::to_string(entry) + " some description\n";
      for (int line = 0; line < 1000; line++) {
        for (int i = 0; i < 60; i++) text += pool[rng() % pool.size()];
        text += '\n';
      }
    }
    WriteFile(file, text);
    return file;
  }();
  return path;
}

// The literal reader works on the text, so its time includes reading the
// whole file into memory first.
void BM_ReadFastaFile_Literal(benchmark::State& state) {
  const std::string& path = LargeFastaPath();
  for (auto _ : state) {
    std::vector<literal::FastaEntry> entries;
    benchmark::DoNotOptimize(literal::ReadFasta(ReadFile(path), entries));
  }
  state.SetBytesProcessed(state.iterations() * 500LL * (1000 * 61 + 30));
}

void BM_ReadFastaFile_Program(benchmark::State& state) {
  const std::string& path = LargeFastaPath();
  for (auto _ : state) {
    FASTA_FILE file;
    file.fp = fopen(path.c_str(), "r");
    benchmark::DoNotOptimize(ReadFastaFile(&file));
    fclose(file.fp);
    FreeFastaFile(&file);
  }
  state.SetBytesProcessed(state.iterations() * 500LL * (1000 * 61 + 30));
}

// talvo-proteome's streaming reader on the same file, one entry at a time.
void BM_FastaStream_Program(benchmark::State& state) {
  const std::string& path = LargeFastaPath();
  for (auto _ : state) {
    FastaStream stream;
    ProteinEntry entry;
    stream.Open(path);
    while (stream.Next(entry)) benchmark::DoNotOptimize(entry.residues.data());
  }
  state.SetBytesProcessed(state.iterations() * 500LL * (1000 * 61 + 30));
}

BENCHMARK(BM_ReadFastaFile_Literal)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadFastaFile_Program)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FastaStream_Program)->Unit(benchmark::kMillisecond);

}  // namespace
