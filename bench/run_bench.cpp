// Whole analyses of a 35,000-residue protein with TALVO's settings, detection,
// merging, scoring and the report, in runs mode and with windows of 20 and
// 200, each beside the same run made of the literal algorithms (literal
// detection, literal statistics). Compare each Fast line with its Literal line.
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
#include "talvo/talvo.h"

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

// The protein and TALVO's settings for a window of W (0: runs mode).
struct Prepared {
  std::string seq = MakeProtein();
  std::string binary;
  double p = ComputeResidueP("GPSTDNH", sp_aa_freq);

  Prepared() {
    binary.resize(kLength + 1);
    EncodeBinary(seq.c_str(), kLength + 1, "GPSTDNH", binary.data());
  }
  static talvo::Settings Settings(int W) {
    std::vector<std::string> args = {"TALVO", "in", "out"};
    if (W > 0) args.push_back("-W:" + std::to_string(W));
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    return ReadCommandLine(static_cast<int>(argv.size()), argv.data()).settings;
  }
};

Prepared& Setup() {
  static Prepared prepared;
  return prepared;
}

size_t FastRun(Prepared& run, int W, FILE* out) {
  static talvo::Workspace workspace;
  const talvo::Result result =
      talvo::Analyser(Prepared::Settings(W)).Analyse(run.seq, 1, workspace);
  WriteReportBody(out, "bench protein", run.seq, result);
  return result.segments.size();
}

// Literal detection and statistics, every segment's p-value computed anew.
size_t LiteralRun(Prepared& run, int W, FILE* out) {
  FragmentList list;
  if (W < 2) {
    literal::FindRuns(run.binary.data(), kLength, list);
  } else {
    literal::SlideWindowP(run.binary.data(), kLength, W, 0.05, list, run.p,
                          literal::P_scan_ge_K_in_W_N);
  }
  literal::MergeSegmentsDiscrete(run.binary.data(), list, 4);
  for (const FRAGMENT& f : list) {
    fprintf(out, "%d %d %e\n", f.start, f.end,
            literal::P_scan_ge_K_in_W_N(f.n_special, f.length, kLength, run.p));
  }
  return list.size();
}

// Argument: the window size, 0 for runs mode. The report goes to /dev/null.
template <size_t (*Whole)(Prepared&, int, FILE*)>
void BM_WholeRun(benchmark::State& state) {
  Prepared& run = Setup();
  const int W = static_cast<int>(state.range(0));
  size_t segments = 0;
  for (auto _ : state) {
    FILE* out = std::fopen("/dev/null", "w");
    segments = Whole(run, W, out);
    std::fclose(out);
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
