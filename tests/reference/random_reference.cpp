#include "reference/random_reference.h"

#include <cstdio>
#include <cstring>

#include "alphabet/alphabet.h"
#include "detect/detect.h"
#include "driver/driver.h"
#include "random/random.h"
#include "reference/detect_reference.h"

namespace literal {

void ShuffleSequenceRegular(char* s, int n) {
  if (n < 2) return;
  for (int i = 0; i < n; i++) {
    for (;;) {
      int q = static_cast<int>(ran1(static_cast<double>(n)));
      if (q == i) continue;
      char c = s[i];
      s[i] = s[q];
      s[q] = c;
      break;
    }
  }
}

void SetIntervals(const double* freq, double* bounds) {
  bounds[0] = 0;
  for (int i = 1; i <= 20; i++) bounds[i] = freq[i - 1] + bounds[i - 1];
}

void GenerateRandomSequence(char* d, int c, const double* bounds) {
  for (int i = 0; i < c; i++) {
    double x = ran1(1.0);
    for (int j = 1; j <= 20; j++) {
      if (bounds[j - 1] <= x && x < bounds[j]) {
        d[i] = aa[j - 1];
        break;
      }
    }
  }
}

void GenerateSequence(char* d, int n, const char* pool, int pool_size) {
  for (int i = 0; i < n; i++) d[i] = pool[static_cast<int>(ran1(1.0) * pool_size)];
}

namespace {

char Encode(char residue) {
  int length = static_cast<int>(strlen(special_aa));
  for (int k = 0; k < length; k++) {
    if (special_aa[k] == residue) return '1';
  }
  return '0';
}

}  // namespace

void EstimateRandomPM(char* s, int N) {
  if (random_seqs <= 0) return;
  if (special_rand_p.size() < static_cast<size_t>(N) + 1) special_rand_p.resize(N + 1, 0.0);

  if (estimate_ran == 2) {
    ShuffleSequenceRegular(s, N);
  } else {
    SetIntervals(aa_freq, interval);
    GenerateRandomSequence(long_seq, 1000000, interval);
  }
  for (int n = 1; n <= random_seqs; n++) {
    if (n % 1000 == 0) printf("N=%d\n", n);
    if (estimate_ran == 2) {
      ShuffleSequenceRegular(s, N);
    } else {
      GenerateSequence(s, N, long_seq, 1000000);
      for (int i = 0; i < N; i++) s[i] = Encode(s[i]);
    }
    r_special.clear();
    literal::FindRuns(s, N, r_special);
    int m = literal::MergeSegmentsDiscrete(s, r_special, max_separation);
    special_rand_p[m] += 1;
  }
  for (size_t i = 0; i < special_rand_p.size(); i++) {
    special_rand_p[i] /= static_cast<double>(random_seqs);
  }
}

}  // namespace literal
