// Exact null probabilities of the longest merged segment.
//
// A sequence reads as: non-special positions, then segments ("clusters", from
// a special position to a special position, no E non-special in a row
// inside) separated by E or more non-special positions, then non-special
// positions again. The longest reaches L at the first special position that
// takes the current cluster's span to L or beyond; what follows is free. So
//   P(longest >= L) = sum over j, t of H(j) c'(t),
// with H(j) the weight of a first j positions that end with no cluster open
// and every cluster shorter than L, and c'(t) the weight of a cluster piece of
// extent t that first reaches L at its last position. Every term is positive,
// so tiny probabilities keep their relative accuracy; the cluster weights,
// which are what gets tiny, are kept as logarithms.
//
// Generated sequences: position weights p and q = 1 - p;
//   c(1) = p, c(s) = p * sum_{g < E} q^g c(s - 1 - g),
//   H(0) = 1, H(j) = q H(j - 1) + q^E B(j - E), B(n) = sum_{s < L} c(s) H(n - s).
// Shuffled sequences: see shuffled_null.cpp.
#include "random/exact_null.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <utility>

namespace talvo::internal {

namespace {

constexpr double kMinusInfinity = -std::numeric_limits<double>::infinity();
constexpr double kNotYet = std::numeric_limits<double>::quiet_NaN();

// Linkage distances below 1 merge nothing, as 1 does; above N they merge as N.
int EffectiveE(int E, int N) {
  return std::clamp(E, 1, std::max(N, 1));
}

double LogSumExp(double a, double b) {
  if (a == kMinusInfinity) return b;
  if (b == kMinusInfinity) return a;
  const double high = std::max(a, b);
  return high + std::log1p(std::exp(std::min(a, b) - high));
}

double ProbabilityFromLog(double log_p) {
  return std::min(1.0, std::exp(log_p));
}

// The answers that need no walk; returns false when the walk is needed.
bool TrivialGenerated(int N, double p, int L, double& answer) {
  if (L <= 0) return answer = 1.0, true;
  if (L > N || !(p > 0.0)) return answer = 0.0, true;
  if (p >= 1.0) return answer = 1.0, true;
  // A single special position is a segment of length 1.
  if (L == 1) return answer = -std::expm1(N * std::log1p(-p)), true;
  return false;
}

}  // namespace

// ---------------------------------------------------------------- generated

struct GeneratedNull::Length {
  std::mutex mutex;
  std::vector<double> span;         // c(s) for s < L
  std::vector<double> log_passage;  // log c'(L + r) for r < E
  // H(j) for the last `window` j only, which is all the next one needs: each
  // is kept at j % window and again `window` later, so that any run of them
  // lies in one piece.
  int window = 0;
  std::vector<double> recent;
  std::vector<double> ready_sum{1.0};  // H(0) + ... + H(j)
  // The answer for N = L + j once given (NaN before), where the rows do not
  // keep it: proteins of one length are many, and each asks again for the
  // lengths of its segments.
  std::vector<double> answer;
};

GeneratedNull::GeneratedNull(int E, double p)
    : E_(std::max(E, 1)),
      p_(p),
      log_p_(std::log(p)),
      log_q_(std::log1p(-p)),
      q_(std::exp(log_q_)),
      q_to_E_(std::exp(E_ * log_q_)),
      indexed_(new std::atomic<Length*>[kIndexed]()),
      log_span_{kMinusInfinity},
      row_blocks_(new std::atomic<RowBlock*>[kRows / kRowsPerBlock]()) {}

GeneratedNull::~GeneratedNull() = default;

GeneratedNull& GeneratedNull::Shared(int E, double p) {
  static std::mutex mutex;
  // Never destroyed: threads may still ask while the process ends.
  static auto* instances = new std::map<std::pair<int, double>, std::unique_ptr<GeneratedNull>>;
  const std::lock_guard<std::mutex> lock(mutex);
  std::unique_ptr<GeneratedNull>& slot = (*instances)[{E, p}];
  if (!slot) slot = std::make_unique<GeneratedNull>(E, p);
  return *slot;
}

void GeneratedNull::ExtendLogSpans(int size) {
  while (static_cast<int>(log_span_.size()) < size) {
    const int s = static_cast<int>(log_span_.size());
    if (s == 1) {
      log_span_.push_back(log_p_);
      continue;
    }
    const double base = log_span_[s - 1];
    double sum = 0.0;
    const int last_gap = std::min(E_ - 1, s - 2);
    for (int g = 0; g <= last_gap; ++g) sum += std::exp(g * log_q_ + log_span_[s - 1 - g] - base);
    log_span_.push_back(log_p_ + base + std::log(sum));
  }
  while (span_.size() < log_span_.size()) span_.push_back(std::exp(log_span_[span_.size()]));
}

// log c'(t): the last special position of a cluster piece of extent t, with
// the span before it below L and t >= L.
double GeneratedNull::LogFirstPassage(int L, int t) {
  double log_sum = kMinusInfinity;
  const int last_gap = std::min(E_ - 1, t - 2);
  for (int g = std::max(0, t - L); g <= last_gap; ++g) {
    log_sum = LogSumExp(log_sum, g * log_q_ + log_span_[t - 1 - g]);
  }
  return log_p_ + log_sum;
}

GeneratedNull::Length& GeneratedNull::LengthEntry(int L) {
  const bool indexed = L >= 0 && L < kIndexed;
  if (indexed) {
    if (Length* made = indexed_[L].load(std::memory_order_acquire)) return *made;
  }
  const std::lock_guard<std::mutex> lock(mutex_);
  std::unique_ptr<Length>& entry = lengths_[L];
  if (!entry) {
    entry = std::make_unique<Length>();
    ExtendLogSpans(L);
    entry->span.assign(span_.begin(), span_.begin() + L);
    entry->window = L + E_;
    entry->recent.assign(2 * static_cast<size_t>(entry->window), 0.0);
    entry->recent[0] = entry->recent[entry->window] = 1.0;  // H(0)
    for (int r = 0; r < E_; ++r) entry->log_passage.push_back(LogFirstPassage(L, L + r));
    if (indexed) indexed_[L].store(entry.get(), std::memory_order_release);
  }
  return *entry;
}

std::atomic<double>* GeneratedNull::AnswerRow(int N) {
  RowBlock* block = row_blocks_[N / kRowsPerBlock].load(std::memory_order_acquire);
  if (block != nullptr) {
    std::atomic<double>* row = block->rows[N % kRowsPerBlock].load(std::memory_order_acquire);
    if (row != nullptr) return row;
  }
  const std::lock_guard<std::mutex> lock(mutex_);
  block = row_blocks_[N / kRowsPerBlock].load(std::memory_order_relaxed);
  if (block == nullptr) {
    block = block_store_.emplace_back(std::make_unique<RowBlock>()).get();
    row_blocks_[N / kRowsPerBlock].store(block, std::memory_order_release);
  }
  std::atomic<std::atomic<double>*>& slot = block->rows[N % kRowsPerBlock];
  std::atomic<double>* row = slot.load(std::memory_order_relaxed);
  if (row == nullptr) {
    row = row_store_.emplace_back(new std::atomic<double>[kRowLengths]).get();
    for (int L = 0; L < kRowLengths; ++L) row[L].store(kNotYet, std::memory_order_relaxed);
    slot.store(row, std::memory_order_release);
  }
  return row;
}

double GeneratedNull::P(int N, int L) {
  double answer;
  if (TrivialGenerated(N, p_, L, answer)) return answer;
  if (!InRows(N, L)) return FromPasses(N, L);
  std::atomic<double>& given = AnswerRow(N)[L];
  answer = given.load(std::memory_order_relaxed);
  if (std::isnan(answer)) {
    answer = FromPasses(N, L);
    given.store(answer, std::memory_order_relaxed);
  }
  return answer;
}

// Short segments of N below kRows keep their answers in the rows instead.
double GeneratedNull::FromPasses(int N, int L) {
  const bool kept = !InRows(N, L);
  Length& entry = LengthEntry(L);
  const std::lock_guard<std::mutex> lock(entry.mutex);
  const double q = q_;
  const double q_to_E = q_to_E_;
  const int needed = N - L;  // H and its sums up to N - t, t >= L
  const int window = entry.window;
  double* recent = entry.recent.data();
  for (int j = static_cast<int>(entry.ready_sum.size()); j <= needed; ++j) {
    double ready = q * recent[(j - 1) % window];
    // A cluster closed by exactly E non-special positions ending at j.
    const int closed_at = j - E_;
    if (closed_at >= 1) {
      double closing = 0.0;
      const int longest = std::min(L - 1, closed_at);
      // H(closed_at - longest), ..., H(closed_at - 1), all within the window.
      const double* before = recent + (closed_at - longest) % window;
      for (int s = longest; s >= 1; --s) closing += entry.span[s] * before[longest - s];
      ready += q_to_E * closing;
    }
    recent[j % window] = recent[j % window + window] = ready;
    entry.ready_sum.push_back(entry.ready_sum[j - 1] + ready);
  }
  if (kept) {
    if (static_cast<int>(entry.answer.size()) <= needed) entry.answer.resize(needed + 1, kNotYet);
    if (!std::isnan(entry.answer[needed])) return entry.answer[needed];
  }
  double log_p = kMinusInfinity;
  for (int r = 0; r < E_ && L + r <= N; ++r) {
    log_p = LogSumExp(log_p, entry.log_passage[r] + std::log(entry.ready_sum[N - L - r]));
  }
  const double answer = ProbabilityFromLog(log_p);
  if (kept) entry.answer[needed] = answer;
  return answer;
}

double GeneratedNullP(int N, int E, double p, int L) {
  double answer;
  if (TrivialGenerated(N, p, L, answer)) return answer;
  GeneratedNull null(EffectiveE(E, N), p);
  return null.P(N, L);
}

}  // namespace talvo::internal
