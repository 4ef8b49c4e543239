// Random sequences for the null distribution: shuffles of a 0/1 string and
// residues drawn from a background composition or from a pool.
#include <utility>

#include "alphabet/alphabet.h"
#include "random/deviates.h"
#include "random/random.h"

namespace talvo::internal {

namespace {

constexpr int kResidues = 20;

}  // namespace

void ShuffleSequenceRegular(Generator& g, char* s, int n) {
  // With fewer than two positions every draw would hit the position itself
  // and the redraw would never end; such a sequence can only stay as it is.
  if (n < 2) return;
  const double scale = n;
  deviates::DrawWhile(g, [s, n, scale, i = 0](double t) mutable {
    const int q = static_cast<int>(t * scale);
    if (q != i) {
      std::swap(s[i], s[q]);
      ++i;
    }
    return i < n;
  });
}

void SetIntervals(const double* freq, double* bounds) {
  bounds[0] = 0;
  for (int i = 1; i <= kResidues; ++i) bounds[i] = freq[i - 1] + bounds[i - 1];
}

void GenerateRandomSequence(Generator& g, char* d, int c, const double* bounds) {
  if (c <= 0) return;
  deviates::DrawWhile(g, [d, c, bounds, i = 0](double x) mutable {
    // A draw at or above the last boundary leaves d[i] as it was.
    for (int j = 1; j <= kResidues; ++j) {
      if (bounds[j - 1] <= x && x < bounds[j]) {
        d[i] = aa[j - 1];
        break;
      }
    }
    return ++i < c;
  });
}

void GenerateSequence(Generator& g, char* d, int n, const char* pool, int pool_size) {
  if (n <= 0) return;
  const double scale = pool_size;
  deviates::DrawWhile(g, [d, n, pool, scale, i = 0](double t) mutable {
    d[i] = pool[static_cast<int>(t * scale)];
    return ++i < n;
  });
}

}  // namespace talvo::internal
