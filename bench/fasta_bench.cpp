// Reading a large FASTA file: the program's reader against the literal one.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <random>
#include <string>

#include "fasta/fasta.h"
#include "reference/fasta_reference.h"
#include "support/process.h"

namespace {

// About 32 MB: a few hundred entries of 60-column lines with lower case,
// digits and blanks mixed in.
const std::string& LargeFastaPath() {
  static const std::string path = [] {
    const std::string file = MakeTempDir() + "/large.fa";
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

void ReadWith(benchmark::State& state, int (*reader)(FASTA_FILE*)) {
  const std::string& path = LargeFastaPath();
  for (auto _ : state) {
    FASTA_FILE file;
    file.fp = fopen(path.c_str(), "r");
    benchmark::DoNotOptimize(reader(&file));
    fclose(file.fp);
    ReleaseFastaFile(&file);
  }
  state.SetBytesProcessed(state.iterations() * 500LL * (1000 * 61 + 30));
}

void BM_ReadFastaFile_Literal(benchmark::State& state) {
  ReadWith(state, literal::ReadFastaFile);
}
void BM_ReadFastaFile_Program(benchmark::State& state) {
  ReadWith(state, ReadFastaFile);
}

BENCHMARK(BM_ReadFastaFile_Literal)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadFastaFile_Program)->Unit(benchmark::kMillisecond);

}  // namespace
