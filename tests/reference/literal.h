// Literal algorithms, straight from their step-by-step descriptions for
// clarity, not speed: recursion restarted for every term, every window
// recounted, the quadratic merge, one ran1 call per draw, a reader walking the
// text line by line. Tests compare the program's fast paths with them.
#pragma once
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "alphabet/alphabet.h"
#include "detect/detect.h"
#include "random/random.h"

using namespace talvo::internal;

namespace talvo::internal {
// Every field equal, the p-value bit for bit.
inline bool operator==(const FRAGMENT& a, const FRAGMENT& b) {
  return a.start == b.start && a.end == b.end && a.length == b.length &&
         a.n_special == b.n_special && std::memcmp(&a.p_value, &b.p_value, sizeof(double)) == 0;
}
}  // namespace talvo::internal

namespace literal {

struct FastaEntry {
  std::string name, seq;
};

inline double BPR(int k, int n, double p) {
  if (k == 0) return pow(1 - p, n);
  return ((double)(n - k + 1) / (double)k) * ((p / (1 - p)) * BPR(k - 1, n, p));
}

inline double Fb(int b, int n, double p) {
  double s = 0.0;
  for (int i = 0; i <= b; i++) s = s + BPR(i, n, p);
  return s;
}

inline double Binomial_P_LessThan_K(int k, int n, double p) {
  double s = 0.0;
  for (int i = 0; i <= k - 1; i++) {
    double t = BPR(i, n, p);
    if (t >= 2.2250738585072014e-308) s = s + t;
  }
  return s >= 0.9999999999999998 ? 1.0 : s;
}

inline double Binomial_P_GreaterThan_K(int k, int n, double p) {
  double s = 0.0;
  for (int i = n; i >= k; i--) {
    double t = BPR(i, n, p);
    if (t >= 2.2250738585072014e-308) s = s + t;
  }
  return s;
}

inline double Q2(int k, int w, double p) {
  double b = BPR(k, w, p);
  return (Fb(k - 1, w, p) * Fb(k - 1, w, p) - Fb(k - 2, w, p) * (b * (double)(k - 1))) +
         Fb(k - 3, w - 1, p) * (b * (p * (double)w));
}

inline double A1(int k, int w, double p) {
  double b = BPR(k, w, p);
  return (Fb(k - 1, w, p) * (b + b)) *
         (Fb(k - 2, w, p) * (double)(k - 1) - ((double)w * p) * Fb(k - 3, w - 1, p));
}

inline double A2(int k, int w, double p) {
  double b = BPR(k, w, p);
  double two_k_minus_2 = (double)(k - 2) + (double)(k - 2);
  return (b * (b * 0.5)) * ((Fb(k - 3, w, p) * ((double)(k - 1) * (double)(k - 2)) -
                             ((two_k_minus_2 * (double)w) * p) * Fb(k - 4, w - 1, p)) +
                            ((((double)w * (double)(w - 1)) * p) * p) * Fb(k - 5, w - 2, p));
}

inline double A3(int k, int w, double p) {
  double s = 0.0;
  for (int r = 2; r <= k - 1; r++)
    s = s + (BPR(2 * k - r, w, p) * Fb(r - 1, w, p)) * Fb(r - 1, w, p);
  return s;
}

inline double A4(int k, int w, double p) {
  double s = 0.0;
  for (int r = 2; r <= k - 1; r++) {
    s = s + (BPR(r, w, p) * BPR(2 * k - r, w, p)) *
                (Fb(r - 2, w, p) * (double)(r - 1) - Fb(r - 3, w - 1, p) * (p * (double)w));
  }
  return s;
}

inline double Q3(int k, int w, double p) {
  double F = Fb(k - 1, w, p);
  return (((F * (F * F) - A1(k, w, p)) + A2(k, w, p)) + A3(k, w, p)) - A4(k, w, p);
}

// With the program's values where the bare formula has none: k <= 0, p = 1,
// q2 = 0, and q3 = 0 for a sequence no longer than the window.
inline double P_scan_ge_K_in_W_N(int k, int w, int N, double p) {
  if (k <= 0) return 1.0;
  if (p == 1) return k <= w ? 1.0 : 0.0;
  int e = N / w + (N % w != 0 ? 1 : 0) - 2;  // window lengths spanned, less 2
  double q2 = Q2(k, w, p), q3 = Q3(k, w, p);
  if (q2 == 0 || (q3 == 0 && e < 0)) return 1.0;
  double r = 1 - pow(q3 / q2, (double)e) * q2;
  return r > 0 ? r : 0.0;
}

// P(some window of w among the first N positions holds k or more), for every
// N up to n_max: a chain over the last w - 1 positions; each window that
// would reach k moves its probability to `reached`.
inline std::vector<double> ExactScan(int k, int w, int n_max, double p) {
  const unsigned states = 1u << (w - 1), mask = states - 1;
  std::vector<double> now(states, 0.0), next(states);
  now[0] = 1.0;
  std::vector<double> reached(n_max + 1, 0.0);
  double sum = 0.0;
  for (int n = 1; n <= n_max; n++) {
    std::fill(next.begin(), next.end(), 0.0);
    for (unsigned last = 0; last < states; last++) {
      for (unsigned bit : {0u, 1u}) {
        const double q = now[last] * (bit ? p : 1 - p);
        (std::popcount(last) + (int)bit >= k ? sum : next[((last << 1) | bit) & mask]) += q;
      }
    }
    now.swap(next);
    reached[n] = sum;
  }
  return reached;
}

// b(i; n) for i = 0..n by the recurrence in extended precision, whose range
// holds (1 - p)^n where doubles lose it; 0 <= p < 1.
inline std::vector<long double> WideTerms(int n, double p) {
  std::vector<long double> t(n + 1, powl(1.0L - p, n));
  for (int i = 1; i <= n; i++) t[i] = t[i - 1] * (n - i + 1) / i * (p / (1.0L - p));
  return t;
}

inline int FindRuns(const char* s, int n, FragmentList& list) {
  int longest = 0;
  for (int i = 0; i < n; i++) {
    int end = i;
    while (end < n && s[end] == '1') end++;
    if (end == i) continue;
    list.push_back({i + 1, end, end - i, end - i});
    longest = std::max(longest, end - i);
    i = end;
  }
  return longest;
}

inline int SlideWindowP(const char* s, int N, int W, double min_p, FragmentList& list,
                        double p_special, double (*scan)(int, int, int, double)) {
  int largest = 0;
  for (int j = 0; W >= 1 && j <= N - W; j++) {
    const int k = std::count(s + j, s + j + W, '1');
    const double p = scan(k, W, N, p_special);
    largest = std::max(largest, k);
    if (min_p > p) list.push_back({j + 1, j + W, W, k, p});
  }
  return largest;
}

// Absorbs and erases one fragment at a time, rescanning from the current one.
inline int MergeSegmentsDiscrete(const char* s, FragmentList& list, int E) {
  for (size_t current = 0; current < list.size(); current++) {
    for (size_t next = current + 1; next < list.size(); next++) {
      if (int64_t{list[next].start} - E > list[current].end) continue;
      list[current].end = std::max(list[current].end, list[next].end);
      list.erase(list.begin() + next);
      next = current;  // rescan behind the grown fragment
    }
  }
  int longest = 0;
  for (FRAGMENT& f : list) {
    f.length = f.end - f.start + 1;
    f.n_special = std::count(s + f.start - 1, s + f.end, '1');
    longest = std::max(longest, f.length);
  }
  return longest;
}

inline void ShuffleSequenceRegular(Generator& g, char* s, int n) {
  for (int i = 0; i < n && n >= 2; i++) {
    int q = (int)ran1(g, (double)n);
    while (q == i) q = (int)ran1(g, (double)n);  // another position than i
    std::swap(s[i], s[q]);
  }
}

inline void GenerateRandomSequence(Generator& g, char* d, int c, const double* bounds) {
  for (int i = 0; i < c; i++) {
    const double x = ran1(g, 1.0);
    int j = 1;
    while (j <= 20 && !(bounds[j - 1] <= x && x < bounds[j])) j++;
    if (j <= 20) d[i] = aa[j - 1];
  }
}

inline void GenerateSequence(Generator& g, char* d, int n, const char* pool, int pool_size) {
  for (int i = 0; i < n; i++) d[i] = pool[(int)(ran1(g, 1.0) * pool_size)];
}

// The stage with TALVO's pool, into the normalised distribution.
inline void EstimateRandomPM(char* s, int N, const RandomStage& stage, Generator& g,
                             std::vector<double>& special_rand_p) {
  if (stage.sequences <= 0) return;
  special_rand_p.assign(std::max(N + 1, kMinDistributionSize), 0.0);
  std::vector<char> pool(kPoolSize + 1, '\0');
  double interval[21];
  if (!stage.shuffled) {
    interval[0] = 0;
    for (int i = 1; i <= 20; i++) interval[i] = stage.frequencies[i - 1] + interval[i - 1];
    literal::GenerateRandomSequence(g, pool.data(), kPoolSize, interval);
  } else {
    literal::ShuffleSequenceRegular(g, s, N);
  }
  for (int n = 1; n <= stage.sequences; n++) {
    if (stage.progress) stage.progress->RandomSequence(n);
    if (stage.shuffled) {
      literal::ShuffleSequenceRegular(g, s, N);
    } else {
      literal::GenerateSequence(g, s, N, pool.data(), kPoolSize);
      for (int i = 0; i < N; i++) s[i] = AA2binary(s[i], stage.special, (int)strlen(stage.special));
    }
    FragmentList r_special;
    literal::FindRuns(s, N, r_special);
    special_rand_p[literal::MergeSegmentsDiscrete(s, r_special, stage.separation)] += 1;
  }
  for (double& entry : special_rand_p) entry /= (double)stage.sequences;
}

// The entries of a FASTA text; false where the reader fails.
inline bool ReadFasta(const std::string& t, std::vector<FastaEntry>& entries) {
  const size_t kSeen = 19999, npos = std::string::npos;  // characters of a line seen at once
  int count = 0;
  for (size_t at = 0; at < t.size();) {
    size_t newline = t.find('\n', at), end = newline == npos ? t.size() : newline + 1;
    if (newline == npos && end - at < kSeen) break;  // a short last line is not examined
    count += t[at] == '>';
    at = end;
  }
  size_t at = 0;
  for (int i = 0; i < count; i++) {
    if ((at = t.find('>', at)) == npos) return false;
    size_t newline = t.find('\n', ++at), end = newline == npos ? t.size() : newline;
    FastaEntry entry{t.substr(at, std::min(end - at, kSeen)), ""};
    size_t stop = std::min(t.find('>', end), t.size());
    for (at = end + (newline != npos); at < stop; at++) {
      const char c = t[at];
      if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-') entry.seq += c;
    }
    entries.push_back(entry);
  }
  return count > 0;
}

}  // namespace literal
