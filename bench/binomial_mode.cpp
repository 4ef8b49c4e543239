// The binomial term at the mode, b(k; n, p) with k = floor((n + 1) p), which
// starts the log-space terms of long sequences: the double-double candidate
// (double_double_term.cpp) and the program's long double one, against MPFR.
// Built twice by bench/binomial_mode.sh:
//   - with emcc, run by node: "binomial_mode values COUNT FILE" writes the
//     double-double values of the first COUNT cases;
//   - natively with MPFR: "binomial_mode compare COUNT [FILE]" prints, per
//     group of cases, how many values are not the correctly rounded double, how
//     many rounding tests were left open, the largest relative errors, and how
//     many of FILE's values differ from the native ones;
//   - natively: "binomial_mode time COUNT" prints the time per call of both
//     over those of the first COUNT cases that the program computes in log
//     space, and their ratio.
// The cases: a grid of n from 1,700 to 2^31 - 1 and p from 1e-4 to 0.999, then
// pairs from a fixed generator, n about log-uniform in 2..2^31 - 1 and p about
// log-uniform in 1e-4..0.999 (one pair in two) or uniform in 1e-4..0.999.
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "double_double_term.h"
#include "portable_generator.h"
#include "stats/stats.h"

#ifndef __EMSCRIPTEN__
#include <mpfr.h>

#include "long_double_term.h"
#endif

namespace {

struct Case {
  int k, n;
  double p;
};

using bench::Generator;

Case AtMode(long long n, double p) {
  long long k = (long long)std::floor(((double)n + 1) * p);
  if (k > n) k = n;
  return {(int)k, (int)n, p};
}

const long long kGridN[] = {1700,    2000,     5000,      10000,      35000,  100000,
                            1000000, 10000000, 100000000, 1000000000, INT_MAX};
const double kGridP[] = {1e-4,    1e-3, 0.01, 0.05, 0.1,  0.2,  0.3,
                         0.36532, 0.5,  0.7,  0.9,  0.99, 0.999};
const long kGridSize = std::size(kGridN) * std::size(kGridP);

// Case i: the grid, then random pairs. Only exact operations, so that both
// builds draw the same pairs: n is 2^(1..30) times 1..2, p 2^-(1..14) times
// 1..2 (one pair in two) or uniform.
Case MakeCase(long i, Generator& g) {
  if (i < kGridSize) return AtMode(kGridN[i / std::size(kGridP)], kGridP[i % std::size(kGridP)]);
  const int n_scale = 1 + (int)(g.Next() % 30), p_scale = 1 + (int)(g.Next() % 14);
  const double n = std::fmin(std::ldexp(g.Uniform(1, 2), n_scale), INT_MAX);
  const double p = i % 2 ? std::ldexp(g.Uniform(1, 2), -p_scale) : g.Uniform(0, 1);
  return AtMode((long long)n, std::fmin(std::fmax(p, 1e-4), 0.999));
}

#ifndef __EMSCRIPTEN__
const int kPrecision = 256;

struct Exact {
  double rounded;  // the correctly rounded double
  mpfr_t value;
};

// log b = log Gamma(n + 1) - log Gamma(k + 1) - log Gamma(n - k + 1)
//         + k log p + (n - k) log(1 - p), in 256 bits.
void ExactTerm(const Case& c, Exact& e) {
  mpfr_t a, b, p;
  mpfr_inits2(kPrecision, a, b, p, static_cast<mpfr_ptr>(nullptr));
  mpfr_set_d(p, c.p, MPFR_RNDN);
  mpfr_set_si(a, c.n, MPFR_RNDN);
  mpfr_add_ui(a, a, 1, MPFR_RNDN);
  mpfr_lngamma(e.value, a, MPFR_RNDN);
  for (long m : {(long)c.k, (long)c.n - c.k}) {
    mpfr_set_si(a, m + 1, MPFR_RNDN);
    mpfr_lngamma(b, a, MPFR_RNDN);
    mpfr_sub(e.value, e.value, b, MPFR_RNDN);
  }
  mpfr_log(a, p, MPFR_RNDN);
  mpfr_mul_si(a, a, c.k, MPFR_RNDN);
  mpfr_add(e.value, e.value, a, MPFR_RNDN);
  mpfr_neg(b, p, MPFR_RNDN);
  mpfr_log1p(a, b, MPFR_RNDN);
  mpfr_mul_si(a, a, c.n - c.k, MPFR_RNDN);
  mpfr_add(e.value, e.value, a, MPFR_RNDN);
  mpfr_exp(e.value, e.value, MPFR_RNDN);
  e.rounded = mpfr_get_d(e.value, MPFR_RNDN);
  mpfr_clears(a, b, p, static_cast<mpfr_ptr>(nullptr));
}

double RelativeError(double value, const Exact& e) {
  mpfr_t d;
  mpfr_init2(d, kPrecision);
  mpfr_set_d(d, value, MPFR_RNDN);
  mpfr_sub(d, d, e.value, MPFR_RNDN);
  mpfr_div(d, d, e.value, MPFR_RNDN);
  const double r = std::fabs(mpfr_get_d(d, MPFR_RNDN));
  mpfr_clear(d);
  return r;
}

struct Tally {
  const char* name;
  long count = 0, log_space = 0, wrong = 0, undecided = 0, old_wrong = 0, page_differs = 0;
  double worst = 0, old_worst = 0;
};

bool Same(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

int Compare(long count, const char* file) {
  FILE* in = file ? std::fopen(file, "rb") : nullptr;
  if (file && !in) return std::fprintf(stderr, "binomial_mode: cannot read %s\n", file), 1;
  Tally tallies[] = {{"grid"}, {"random, n <= 35,000"}, {"random, n > 35,000"}};
  Generator g{0xB1A0DEULL};
  Exact e;
  mpfr_init2(e.value, kPrecision);
  for (long i = 0; i < count; i++) {
    const Case c = MakeCase(i, g);
    Tally& t = tallies[i < kGridSize ? 0 : c.n <= 35000 ? 1 : 2];
    ExactTerm(c, e);
    bool decided;
    const double value = bench::DoubleDoubleModeTerm(c.k, c.n, c.p, &decided);
    const double old = bench::LongDoubleModeTerm(c.k, c.n, c.p);
    t.count++;
    t.log_space += talvo::internal::BinomialTermsInLogSpace(c.n, c.p);
    t.wrong += !Same(value, e.rounded);
    t.undecided += !decided;
    t.old_wrong += !Same(old, e.rounded);
    t.worst = std::fmax(t.worst, RelativeError(value, e));
    t.old_worst = std::fmax(t.old_worst, RelativeError(old, e));
    double page;
    if (in && std::fread(&page, sizeof page, 1, in) != 1) {
      return std::fprintf(stderr, "binomial_mode: %s is short\n", file), 1;
    }
    if (in) t.page_differs += !Same(page, value);
  }
  mpfr_clear(e.value);
  std::printf("%-22s %9s %9s %8s %9s %10s %10s %10s %8s\n", "cases", "count", "log-space", "dd!=CR",
              "undecided", "dd max rel", "ld!=CR", "ld max rel", "page!=dd");
  for (const Tally& t : tallies) {
    std::printf("%-22s %9ld %9ld %8ld %9ld %10.2e %10ld %10.2e %8s\n", t.name, t.count, t.log_space,
                t.wrong, t.undecided, t.worst, t.old_wrong, t.old_worst,
                in ? std::to_string(t.page_differs).c_str() : "-");
  }
  if (in) std::fclose(in);
  return 0;
}

// Nanoseconds per call of term over cases, summing the results so that no call
// is optimised away.
template <typename Term>
double NanosecondsPerCall(const std::vector<Case>& cases, Term term, double& sum) {
  const auto start = std::chrono::steady_clock::now();
  for (const Case& c : cases) sum += term(c.k, c.n, c.p);
  const std::chrono::duration<double, std::nano> elapsed = std::chrono::steady_clock::now() - start;
  return elapsed.count() / (double)cases.size();
}

int Time(long count) {
  if (count < 1) return std::fprintf(stderr, "binomial_mode: COUNT must be positive\n"), 2;
  Generator g{0xB1A0DEULL};
  std::vector<Case> cases;
  for (long i = 0; i < count; i++) {
    const Case c = MakeCase(i, g);
    if (talvo::internal::BinomialTermsInLogSpace(c.n, c.p)) cases.push_back(c);
  }
  if (cases.empty()) return std::fprintf(stderr, "binomial_mode: no case in log space\n"), 1;
  double sum = 0;
  const auto dd = [](int k, int n, double p) { return bench::DoubleDoubleModeTerm(k, n, p); };
  // Each measured twice, alternating, and the faster of the two kept.
  double ld_ns = 1e300, dd_ns = 1e300;
  for (int round = 0; round < 2; round++) {
    ld_ns = std::fmin(ld_ns, NanosecondsPerCall(cases, bench::LongDoubleModeTerm, sum));
    dd_ns = std::fmin(dd_ns, NanosecondsPerCall(cases, dd, sum));
  }
  std::printf(
      "%zu log-space cases: long double %.1f ns per call, double-double %.1f ns, "
      "ratio %.2f (checksum %g)\n",
      cases.size(), ld_ns, dd_ns, dd_ns / ld_ns, sum);
  return 0;
}
#endif

int Values(long count, const char* file) {
  FILE* out = std::fopen(file, "wb");
  if (!out) return std::fprintf(stderr, "binomial_mode: cannot write %s\n", file), 1;
  Generator g{0xB1A0DEULL};
  for (long i = 0; i < count; i++) {
    const Case c = MakeCase(i, g);
    const double value = bench::DoubleDoubleModeTerm(c.k, c.n, c.p);
    std::fwrite(&value, sizeof value, 1, out);
  }
  return std::fclose(out) != 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  const long count = argc > 2 ? std::atol(argv[2]) : 0;
  if (mode == "values" && argc == 4) return Values(count, argv[3]);
#ifndef __EMSCRIPTEN__
  if (mode == "compare" && (argc == 3 || argc == 4))
    return Compare(count, argc == 4 ? argv[3] : nullptr);
  if (mode == "time" && argc == 3) return Time(count);
#endif
  std::fprintf(stderr,
               "usage: binomial_mode values COUNT FILE | compare COUNT [FILE] | time COUNT\n");
  return 2;
}
