// Whole runs on a 35,000-residue protein, detection, merging and the report,
// in runs mode and with windows of 20 and 200, each beside the same run made
// of the literal algorithms (literal detection, literal statistics). Compare
// each Fast line with its Literal line.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "alphabet/alphabet.h"
#include "detect/detect.h"
#include "driver/driver.h"
#include "reference/literal.h"
#include "report/report.h"

using namespace talvo::internal;

namespace {

constexpr int kLength = 35000;

constexpr int kBiasEvery = 5000;  // one biased region starts every 5000 residues
constexpr int kBiasLength = 300;
const char kBiasResidues[] = "GPSTDNHSSPPGGA";

// Residues drawn with the default background composition from a fixed linear
// congruential sequence, so every run sees the same protein; seven regions of
// 300 residues are rich in special residues, as real low-complexity regions are.
std::string MakeProtein() {
  std::string seq(kLength, 'A');
  uint64_t state = 20240611;
  for (int pos = 0; pos < kLength; pos++) {
    char& c = seq[pos];
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    const double x = static_cast<double>(state >> 11) / 9007199254740992.0;
    if (pos % kBiasEvery >= kBiasEvery - kBiasLength) {
      c = kBiasResidues[static_cast<int>(x * 14)];
      continue;
    }
    double bound = 0.0;
    int index = 19;
    for (int i = 0; i < 20; i++) {
      bound += sp_aa_freq[i];
      if (x < bound) {
        index = i;
        break;
      }
    }
    c = aa[index];
  }
  return seq;
}

// The run's globals as set-up leaves them for this protein.
struct Prepared {
  std::string seq = MakeProtein();
  std::string binary;
  std::string masked;
  char name[16] = "bench protein";

  Prepared() {
    std::strcpy(special_aa, "GPSTDNH");
    P_special = ComputeResidueP(special_aa, sp_aa_freq);
    max_separation = 4;
    min_p_val = 0.05;
    fasta_output = 0;
    random_seqs = 0;
    binary.resize(kLength + 1);
    for (int i = 0; i <= kLength; i++) {
      binary[i] = AA2binary(seq.c_str()[i], special_aa, static_cast<int>(strlen(special_aa)));
    }
    masked.assign(kLength + 1, '\0');
    masked_seq = masked.data();
  }
};

Prepared& Setup() {
  static Prepared prepared;
  return prepared;
}

void FastRun(Prepared& run, int W) {
  special.clear();
  if (W < 2) {
    FindRuns(run.binary.data(), kLength, special);
  } else {
    SlideWindowP(run.binary.data(), kLength, W, min_p_val, special);
  }
  special_merged = special;
  MergeSegmentsDiscrete(run.binary.data(), special_merged, max_separation);
  WriteSegments(run.seq.data(), run.name, kLength, special_merged);
}

void LiteralRun(Prepared& run, int W) {
  special.clear();
  if (W < 2) {
    literal::FindRuns(run.binary.data(), kLength, special);
  } else {
    literal::SlideWindowP(run.binary.data(), kLength, W, min_p_val, special, P_special,
                          literal::P_scan_ge_K_in_W_N);
  }
  special_merged = special;
  literal::MergeSegmentsDiscrete(run.binary.data(), special_merged, max_separation);
  // The writer has no literal counterpart: its cost is the scan statistic of
  // every segment, which the program tabulates.
  WriteSegments(run.seq.data(), run.name, kLength, special_merged);
}

// Argument: the window size, 0 for runs mode. The report goes to /dev/null;
// the normal approximation's warning stream is left alone (it stays silent for
// this length).
template <void (*Whole)(Prepared&, int)>
void BM_WholeRun(benchmark::State& state) {
  Prepared& run = Setup();
  const int W = static_cast<int>(state.range(0));
  window = W;
  size_t segments = 0;
  for (auto _ : state) {
    out = std::fopen("/dev/null", "w");
    Whole(run, W);
    std::fclose(out);
    out = nullptr;
    segments = special_merged.size();
  }
  state.counters["segments"] = static_cast<double>(segments);
}

void BM_WholeRunFast(benchmark::State& state) {
  BM_WholeRun<FastRun>(state);
}
void BM_WholeRunLiteral(benchmark::State& state) {
  BM_WholeRun<LiteralRun>(state);
}

BENCHMARK(BM_WholeRunFast)->Arg(0)->Arg(20)->Arg(200)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WholeRunLiteral)
    ->Arg(0)
    ->Arg(20)
    ->Arg(200)
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace
