// How close the scan p-values come to the true probability that some window
// of w positions holds k or more special ones: the rounded-up number of
// windows (TALVO's own p-value) and the fractional one, against the exact
// probability (a Markov chain over the last w - 1 positions) for small windows
// and against a seeded simulation of random sequences for long ones. Prints
// Markdown tables; the run takes well under a minute.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <random>
#include <vector>

#include "reference/exact_formula.h"
#include "reference/literal.h"
#include "stats/stats.h"

using namespace talvo::internal;

namespace {

const double kP = 0.36532;  // the special fraction of the default table
const int kSequences = 200000;
const uint64_t kSeed = 20261207;

// The same from kSequences random sequences of n_max positions: the fraction
// whose first window reaching k ends at or before N.
std::vector<double> SimulatedScan(int k, int w, int n_max, double p, uint64_t seed) {
  std::mt19937_64 random(seed);
  const uint64_t threshold = (uint64_t)std::ldexp(p, 64);
  std::vector<long> first_reached(n_max + 1, 0);
  std::vector<char> bits(n_max);
  for (int s = 0; s < kSequences; s++) {
    int count = 0;
    for (int n = 0; n < n_max; n++) {
      bits[n] = random() < threshold;
      count += bits[n] - (n >= w ? bits[n - w] : 0);
      if (count >= k) {
        first_reached[n + 1]++;
        break;
      }
    }
  }
  std::vector<double> reached(n_max + 1, 0.0);
  long total = 0;
  for (int n = 0; n <= n_max; n++) {
    total += first_reached[n];
    reached[n] = (double)total / kSequences;
  }
  return reached;
}

void PrintHeader() {
  std::printf(
      "| w | k | N | N/w | whole windows (TALVO) | fractional | exact or simulated |"
      " whole / ref | fractional / ref |\n");
  std::printf("|---|---|---|---|---|---|---|---|---|\n");
}

void PrintRow(int k, int w, int N, double reference, bool simulated) {
  const double whole = P_scan_ge_K_in_W_N(k, w, N, kP);
  const double fractional = P_scan_ge_K_in_W_N_fractional(k, w, N, kP);
  char source[64];
  if (simulated) {
    const double error = std::sqrt(reference * (1 - reference) / kSequences);
    std::snprintf(source, sizeof source, "%.3e ± %.1f%% (simulated)", reference,
                  100 * error / reference);
  } else {
    std::snprintf(source, sizeof source, "%.3e (exact)", reference);
  }
  std::printf("| %d | %d | %d | %.2f | %.3e | %.3e | %s | %.3f | %.3f |\n", w, k, N, (double)N / w,
              whole, fractional, source, whole / reference, fractional / reference);
}

struct Case {
  int w, k;
  std::vector<int> lengths;
};

void ExactTable() {
  const Case cases[] = {
      {14, 14, {17}}, {12, 9, {15}}, {14, 10, {30}}, {12, 12, {50}}, {8, 6, {9, 12, 20, 100}}};
  for (const Case& c : cases) {
    const std::vector<double> exact = literal::ExactScan(c.k, c.w, c.lengths.back(), kP);
    for (int N : c.lengths) PrintRow(c.k, c.w, N, exact[N], false);
  }
}

// The smallest count whose one-window tail is at most `tail`.
int CountForTail(int w, double tail) {
  int k = 1;
  while (k < w && Binomial_P_GreaterThan_K(k, w, kP) > tail) k++;
  return k;
}

void SimulatedTable() {
  std::vector<Case> cases = {{25, 17, {60}}, {60, 36, {200}}};
  for (int w : {25, 50, 100, 200}) {
    cases.push_back(
        {w, CountForTail(w, 0.002), {w + w / 10, w + w / 2, 2 * w + w / 2, 6 * w + w / 3}});
  }
  uint64_t seed = kSeed;
  for (const Case& c : cases) {
    const std::vector<double> simulated = SimulatedScan(c.k, c.w, c.lengths.back(), kP, seed++);
    for (int N : c.lengths) PrintRow(c.k, c.w, N, simulated[N], true);
  }
}

// The largest relative error of the fractional p-value against the exact one
// over a grid, apart by the span of the sequence, and how far the whole
// windows' p-value falls below the exact one.
void ExactGridSummary() {
  enum { kOneWindow, kBelowTwo, kTwoOrMore, kSpans };
  const char* names[] = {"N = w", "w < N < 2w", "N >= 2w"};
  double all[kSpans] = {}, small[kSpans] = {}, whole_short[kSpans] = {};
  for (double p : {0.05, 0.1, 0.2, 0.36532, 0.5, 0.7, 0.9}) {
    for (int w = 2; w <= 14; w++) {
      for (int k = 1; k <= w; k++) {
        const std::vector<double> exact = literal::ExactScan(k, w, 60 * w, p);
        for (int N = w; N <= 60 * w; N++) {
          if (exact[N] < 1e-10) continue;  // 1 - g keeps too few digits below
          const int span = N == w ? kOneWindow : (N < 2 * w ? kBelowTwo : kTwoOrMore);
          const double error = std::fabs(P_scan_ge_K_in_W_N_fractional(k, w, N, p) / exact[N] - 1);
          all[span] = std::max(all[span], error);
          if (exact[N] <= 0.1) small[span] = std::max(small[span], error);
          const double shortfall = 1 - P_scan_ge_K_in_W_N(k, w, N, p) / exact[N];
          whole_short[span] = std::max(whole_short[span], shortfall);
        }
      }
    }
  }
  std::printf(
      "| span | fractional: largest error | where exact <= 0.1 |"
      " whole windows: largest shortfall |\n|---|---|---|---|\n");
  for (int s = 0; s < kSpans; s++) {
    std::printf("| %s | %.2f%% | %.2f%% | %.2f%% |\n", names[s], 100 * all[s], 100 * small[s],
                100 * whole_short[s]);
  }
}

// Whole windows: TALVO's rounded p-value, the accurate one and the exact
// formula; where the formula is exact (two windows, or three with
// 2k - 2 >= w), the exact probability as well.
void TinyTable() {
  std::printf(
      "| w | k | N | TALVO | accurate | exact formula | exact probability | accurate / exact |\n"
      "|---|---|---|---|---|---|---|---|\n");
  const Case cases[] = {{13, 13, {26}},    {13, 12, {39}},    {40, 36, {40, 500}},
                        {60, 56, {35000}}, {100, 96, {1000}}, {230, 225, {700, 5000}}};
  for (const Case& c : cases) {
    const literal::ExactScanTerms terms = literal::ExactTerms(c.k, c.w, kP);
    for (int N : c.lengths) {
      const long double exact = literal::ExactTermsToPValue(terms, (N + c.w - 1) / c.w - 2);
      const double accurate = P_scan_ge_K_in_W_N_accurate(c.k, c.w, N, kP);
      char probability[32] = "";
      if (c.w <= 14 && (N == 2 * c.w || (N == 3 * c.w && 2 * c.k - 2 >= c.w)))
        std::snprintf(probability, sizeof probability, "%.6e",
                      literal::ExactScan(c.k, c.w, N, kP)[N]);
      std::printf("| %d | %d | %d | %.6e | %.10e | %.10Le | %s | %.12f |\n", c.w, c.k, N,
                  P_scan_ge_K_in_W_N(c.k, c.w, N, kP), accurate, exact, probability,
                  (double)(accurate / exact));
    }
  }
}

}  // namespace

int main() {
  std::printf(
      "p = %.5f; exact values from a Markov chain over the last w - 1 positions,\n"
      "simulated ones from %d random sequences (seed %llu).\n\n",
      kP, kSequences, (unsigned long long)kSeed);
  PrintHeader();
  ExactTable();
  SimulatedTable();
  std::printf(
      "\nExact grid: p 0.05, 0.1, 0.2, 0.36532, 0.5, 0.7, 0.9; w 2 to 14; every k from 1"
      " to w;\nevery N from w to 60w; exact values of at least 1e-10.\n\n");
  ExactGridSummary();
  std::printf("\nTiny p-values, whole windows, p = %.5f.\n\n", kP);
  TinyTable();
  return 0;
}
