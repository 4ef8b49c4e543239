// Exact null probabilities of the longest merged segment: the limits of
// infinitely many generated or shuffled sequences. A merged segment is a
// stretch of special positions that no E or more non-special positions in a
// row interrupt, as LongestMergedSegment measures it (E below 1 acts as 1).
#pragma once
#include <atomic>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

namespace talvo::internal {

// P(longest >= L) for N positions, each special with probability p on its
// own. In [0, 1], never NaN; below the smallest double it is 0.
double GeneratedNullP(int N, int E, double p, int L);

// P(longest >= L) for N positions of which K are special, every arrangement
// equally likely.
double ShuffledNullP(int N, int K, int E, int L);

// GeneratedNullP for one (E, p), with the work shared by every N and L it is
// asked for: the values for a length L come from one pass over positions,
// extended when a longer N needs it. Safe to use from many threads.
class GeneratedNull {
 public:
  GeneratedNull(int E, double p);
  ~GeneratedNull();
  double P(int N, int L);
  // The instance for (E, p) shared by the whole process.
  static GeneratedNull& Shared(int E, double p);

 private:
  struct Length;  // the pass for one L
  Length& LengthEntry(int L);
  // The answers of short segments for one N, by L: a protein asks for
  // several lengths at once, and finds them in a cache line or two rather
  // than one per length. NaN until given; read and written atomically.
  static constexpr int kRowLengths = 64;
  static constexpr int kRows = 1 << 15;      // N below it
  static constexpr int kRowsPerBlock = 128;  // row pointers made together
  std::atomic<double>* AnswerRow(int N);
  static bool InRows(int N, int L) { return L < kRowLengths && N < kRows; }
  double FromPasses(int N, int L);
  // log c(s) for s < size: a segment of span s, from special to special.
  void ExtendLogSpans(int size);
  double LogFirstPassage(int L, int t);

  int E_;
  double p_, log_p_, log_q_;
  double q_, q_to_E_;  // exp(log_q_), exp(E_ * log_q_)
  // The entries of the shorter lengths, found without the lock once made.
  static constexpr int kIndexed = 4096;
  std::unique_ptr<std::atomic<Length*>[]> indexed_;
  std::mutex mutex_;  // guards the members below, not the entries' passes
  std::vector<double> log_span_;
  std::vector<double> span_;  // exp(log_span_)
  std::unordered_map<int, std::unique_ptr<Length>> lengths_;
  // By N / kRowsPerBlock, a block of row pointers by N % kRowsPerBlock, made
  // when first needed: a table asked for a few lengths stays small.
  struct RowBlock {
    std::atomic<std::atomic<double>*> rows[kRowsPerBlock] = {};
  };
  std::unique_ptr<std::atomic<RowBlock*>[]> row_blocks_;
  std::vector<std::unique_ptr<RowBlock>> block_store_;
  std::vector<std::unique_ptr<std::atomic<double>[]>> row_store_;
};

}  // namespace talvo::internal
