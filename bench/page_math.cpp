// How often the page's math functions, the WebAssembly C library's and the
// native C library's differ from one another and from the correctly rounded
// result (MPFR). Built twice by bench/page_math.sh:
//   - with emcc, run by node: "page_math values SET COUNT FILE" writes the
//     results of the module's exp, log, ... (the C library's, or the page's
//     when web/math/libm_overrides.cpp is linked in) for argument set SET;
//   - natively with MPFR: "page_math compare SET COUNT [FILE...]" recomputes
//     the arguments and prints, per set, how many of COUNT results of the
//     native C library and of web/math's functions are not correctly rounded,
//     and how many of each FILE's results differ from the native C library's.
// The arguments come from a fixed generator, the same in both builds.
#include <cinttypes>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "portable_generator.h"

#ifndef __EMSCRIPTEN__
#include <mpfr.h>

#include "../web/math/rounded_math.h"
#endif

namespace {

using bench::Generator;

struct Arguments {
  double x, y;
};

// The sets: a wide random range, and the range the analysis uses.
enum Function { kExp, kLog, kLog10, kLog1p, kExpm1, kPow, kSin, kCos, kHypot };
struct Set {
  const char* name;
  Function function;
  Arguments (*make)(Generator&);
};

const Set kSets[] = {
    {"exp random", kExp,
     [](Generator& g) {
       return Arguments{g.Uniform(-745.2, 709.8), 0};
     }},
    {"exp of log-probabilities", kExp,
     [](Generator& g) {
       return Arguments{g.Uniform(-745.2, 0), 0};
     }},
    {"log random", kLog,
     [](Generator& g) {
       return Arguments{g.Scaled(1, 2, -1074, 1023), 0};
     }},
    {"log of probabilities", kLog,
     [](Generator& g) {
       return Arguments{g.Uniform(0, 1), 0};
     }},
    {"log10 of p-values", kLog10,
     [](Generator& g) {
       return Arguments{std::pow(10.0, -g.Uniform(0, 300)), 0};
     }},
    {"log1p random", kLog1p,
     [](Generator& g) {
       return Arguments{g.Scaled(-1, 1, -60, 0), 0};
     }},
    {"log1p of -p", kLog1p,
     [](Generator& g) {
       return Arguments{-g.Uniform(0, 1), 0};
     }},
    {"expm1 random", kExpm1,
     [](Generator& g) {
       return Arguments{g.Scaled(-40, 10, -60, 0), 0};
     }},
    {"expm1 of e log1p(-d)", kExpm1,
     [](Generator& g) {
       return Arguments{g.Uniform(-50, 0), 0};
     }},
    {"pow random", kPow,
     [](Generator& g) {
       const double x = g.Uniform(0, 2);
       return Arguments{x, g.Uniform(-100, 100)};
     }},
    {"pow (1 - p)^n", kPow,
     [](Generator& g) {
       const double x = 1 - g.Uniform(0, 1);
       return Arguments{x, static_cast<double>(g.Integer(1, 40000))};
     }},
    {"sin random", kSin,
     [](Generator& g) {
       return Arguments{g.Uniform(-0x1p20, 0x1p20), 0};
     }},
    {"sin of angles", kSin,
     [](Generator& g) {
       return Arguments{g.Uniform(0, 6.283185307179586), 0};
     }},
    {"cos random", kCos,
     [](Generator& g) {
       return Arguments{g.Uniform(-0x1p20, 0x1p20), 0};
     }},
    {"cos of angles", kCos,
     [](Generator& g) {
       return Arguments{g.Uniform(0, 6.283185307179586), 0};
     }},
    {"hypot random", kHypot,
     [](Generator& g) {
       const double x = g.Scaled(-1, 1, -60, 60);
       return Arguments{x, g.Scaled(-1, 1, -60, 60)};
     }},
    {"hypot of phi", kHypot,
     [](Generator& g) {
       const double x = g.Uniform(-1, 1);
       return Arguments{x, g.Uniform(-1, 1)};
     }},
};
constexpr int kSetCount = sizeof kSets / sizeof kSets[0];

double CLibrary(Function f, Arguments a) {
  switch (f) {
    case kExp:
      return std::exp(a.x);
    case kLog:
      return std::log(a.x);
    case kLog10:
      return std::log10(a.x);
    case kLog1p:
      return std::log1p(a.x);
    case kExpm1:
      return std::expm1(a.x);
    case kPow:
      return std::pow(a.x, a.y);
    case kSin:
      return std::sin(a.x);
    case kCos:
      return std::cos(a.x);
    case kHypot:
      return std::hypot(a.x, a.y);
  }
  return 0;
}

[[maybe_unused]] bool Same(double a, double b) {
  return std::memcmp(&a, &b, sizeof a) == 0 || (a != a && b != b);
}

#ifndef __EMSCRIPTEN__
double Page(Function f, Arguments a) {
  using namespace talvo::page_math;
  switch (f) {
    case kExp:
      return Exp(a.x);
    case kLog:
      return Log(a.x);
    case kLog10:
      return Log10(a.x);
    case kLog1p:
      return Log1p(a.x);
    case kExpm1:
      return Expm1(a.x);
    case kPow:
      return Pow(a.x, a.y);
    case kSin:
      return Sin(a.x);
    case kCos:
      return Cos(a.x);
    case kHypot:
      return Hypot(a.x, a.y);
  }
  return 0;
}

double Mpfr(Function f, Arguments a) {
  mpfr_t x, y, r;
  mpfr_inits2(53, x, y, r, static_cast<mpfr_ptr>(nullptr));
  mpfr_set_d(x, a.x, MPFR_RNDN);
  mpfr_set_d(y, a.y, MPFR_RNDN);
  int t = 0;
  switch (f) {
    case kExp:
      t = mpfr_exp(r, x, MPFR_RNDN);
      break;
    case kLog:
      t = mpfr_log(r, x, MPFR_RNDN);
      break;
    case kLog10:
      t = mpfr_log10(r, x, MPFR_RNDN);
      break;
    case kLog1p:
      t = mpfr_log1p(r, x, MPFR_RNDN);
      break;
    case kExpm1:
      t = mpfr_expm1(r, x, MPFR_RNDN);
      break;
    case kPow:
      t = mpfr_pow(r, x, y, MPFR_RNDN);
      break;
    case kSin:
      t = mpfr_sin(r, x, MPFR_RNDN);
      break;
    case kCos:
      t = mpfr_cos(r, x, MPFR_RNDN);
      break;
    case kHypot:
      t = mpfr_hypot(r, x, y, MPFR_RNDN);
      break;
  }
  mpfr_subnormalize(r, t, MPFR_RNDN);
  const double result = mpfr_get_d(r, MPFR_RNDN);
  mpfr_clears(x, y, r, static_cast<mpfr_ptr>(nullptr));
  return result;
}

int Compare(const Set& set, long count, int files, char** names) {
  std::vector<FILE*> in;
  for (int i = 0; i < files; i++) {
    in.push_back(std::fopen(names[i], "rb"));
    if (!in.back()) return std::fprintf(stderr, "page_math: cannot read %s\n", names[i]), 1;
  }
  Generator g{0x7A1C0DEULL + static_cast<uint64_t>(&set - kSets)};
  long glibc_wrong = 0, page_wrong = 0;
  std::vector<long> differ(files, 0);
  const long long undecided = talvo::page_math::UndecidedRoundings();
  for (long i = 0; i < count; i++) {
    const Arguments a = set.make(g);
    const double correct = Mpfr(set.function, a), native = CLibrary(set.function, a);
    glibc_wrong += !Same(native, correct);
    page_wrong += !Same(Page(set.function, a), correct);
    for (int k = 0; k < files; k++) {
      double value;
      if (std::fread(&value, sizeof value, 1, in[k]) != 1) {
        return std::fprintf(stderr, "page_math: %s is short\n", names[k]), 1;
      }
      differ[k] += !Same(value, native);
    }
  }
  std::printf("%-26s %9ld %14ld %14ld %10lld", set.name, count, glibc_wrong, page_wrong,
              talvo::page_math::UndecidedRoundings() - undecided);
  for (int k = 0; k < files; k++) std::printf(" %14ld", differ[k]);
  std::printf("\n");
  for (FILE* f : in) std::fclose(f);
  return 0;
}
#endif

int Values(const Set& set, long count, const char* name) {
  FILE* out = std::fopen(name, "wb");
  if (!out) return std::fprintf(stderr, "page_math: cannot write %s\n", name), 1;
  Generator g{0x7A1C0DEULL + static_cast<uint64_t>(&set - kSets)};
  for (long i = 0; i < count; i++) {
    const double value = CLibrary(set.function, set.make(g));
    std::fwrite(&value, sizeof value, 1, out);
  }
  return std::fclose(out) == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::string(argv[1]) == "sets") {
    for (int s = 0; s < kSetCount; s++) std::printf("%d\n", s);
    return 0;
  }
  if (argc < 4) {
    std::fprintf(stderr, "usage: page_math values|compare SET COUNT [FILE...]\n");
    return 2;
  }
  const int set = std::atoi(argv[2]);
  const long count = std::atol(argv[3]);
  if (set < 0 || set >= kSetCount || count < 1) return 2;
  if (std::string(argv[1]) == "values" && argc == 5) return Values(kSets[set], count, argv[4]);
#ifndef __EMSCRIPTEN__
  if (std::string(argv[1]) == "compare") {
    mpfr_set_emin(-1073);
    mpfr_set_emax(1024);
    return Compare(kSets[set], count, argc - 4, argv + 4);
  }
#endif
  return 2;
}
