#include "report/report.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <map>
#include <utility>
#include <vector>

#include "alphabet/alphabet.h"
#include "config/run_config.h"
#include "random/random.h"
#include "stats/stats.h"

namespace talvo::internal {

namespace {

constexpr int kLineWidth = 80;

// Membership table of a residue set; the terminating zero byte is never a member.
struct ResidueSet {
  bool member[256] = {};
  explicit ResidueSet(const char* set) {
    for (const char* c = set; *c != '\0'; c++) member[static_cast<unsigned char>(*c)] = true;
  }
  bool Has(char c) const { return member[static_cast<unsigned char>(c)]; }
};

// Special residues of seq[0..pos-1] for every pos: one pass over the sequence
// instead of a recount per segment.
std::vector<int> SpecialPrefixCounts(const char* set, const char* seq, int N) {
  const ResidueSet special_set(set);
  std::vector<int> before(static_cast<size_t>(N) + 1, 0);
  for (int i = 0; i < N; i++) before[i + 1] = before[i] + (special_set.Has(seq[i]) ? 1 : 0);
  return before;
}

// Segments of equal length and count share their scan p-value, which is a pure
// function of them; unmerged overlapping windows repeat it many times.
class SegmentPValues {
 public:
  explicit SegmentPValues(int N) : N_(N) {}
  double Get(int k, int length) {
    auto [it, inserted] = values_.try_emplace(std::make_pair(k, length), 0.0);
    if (inserted) it->second = P_scan_ge_K_in_W_N(k, length, N_, P_special);
    return it->second;
  }

 private:
  int N_;
  std::map<std::pair<int, int>, double> values_;
};

// The approximation is undefined (NaN) for a variance of 0; glibc would print
// the sign bit as "-nan" or "nan", so one spelling is chosen.
void PrintProbability(FILE* stream, double value) {
  if (std::isnan(value)) {
    fputs("nan", stream);
  } else {
    fprintf(stream, "%e", value);
  }
}

void MaskSegment(const char* seq, const FRAGMENT& frag) {
  for (int pos = frag.start - 1; pos < frag.end; pos++) {
    masked_seq[pos] = fasta_output == 1
                          ? 'X'
                          : static_cast<char>(std::tolower(static_cast<unsigned char>(seq[pos])));
  }
}

void WriteOverallTest(const char* seq, int N) {
  const int a = ComputeNSuccesses(special_aa, seq, 0, N - 1);
  // Kept as a double: converting the ceiling to int could overflow if P_special
  // exceeded 1 by rounding; for every value in range the comparison is the same.
  const double expected = std::ceil(N * P_special);
  int valid = 0;
  double exact = 0.0;
  double approx = 0.0;
  const bool below = expected > a;
  if (below) {
    exact = Binomial_P_LessThan_K(a, N, P_special);
    approx = ApproxBinomial_P_LessThan_K(a, N, P_special, valid);
  } else {
    exact = Binomial_P_GreaterThan_K(a, N, P_special);
    approx = ApproxBinomial_P_GreaterThan_K(a, N, P_special, valid);
  }
  fprintf(out, "#Overall: %d %e ", a, exact);
  PrintProbability(out, approx);
  if (valid == 0) fputc('*', out);  // the approximation was judged invalid
  fputs(below ? " (-)\n" : " (+)\n", out);
  if (valid == 0) fputs("\nNormal approximation to Binomial distribution is not valid\n", stderr);
}

// Flushes and closes the masked FASTA file; 0 when any of it was lost.
int CloseFastaOutput() {
  const bool write_failed = ferror(fasta_out) != 0;
  const bool close_failed = fclose(fasta_out) != 0;
  fasta_out = nullptr;
  if (write_failed || close_failed) {
    fputs("Error closing FASTA file\n", stderr);
    return 0;
  }
  return 1;
}

}  // namespace

void form_out_l(FILE* stream, const char* data, int len, int width) {
  if (len <= 0) return;
  // A width below 1 cannot break lines: the data go on one line.
  const int64_t step = width >= 1 ? width : len;
  for (int64_t from = 0; from < len; from += step) {
    const int64_t count = std::min<int64_t>(step, len - from);
    fwrite(data + from, 1, static_cast<size_t>(count), stream);
    fputc('\n', stream);
  }
}

double CumulativeProb(int from, int to, const double* table) {
  double sum = 0.0;
  // No entry lies below index 0.
  for (int64_t i = from < 0 ? 0 : from; i <= to; i++) sum += table[i];
  return sum;
}

int ComputeNSuccesses(const char* set, const char* seq, int from, int to) {
  const ResidueSet members(set);
  int count = 0;
  for (int64_t i = from; i <= to; i++) {
    if (members.Has(seq[i])) count++;
  }
  return count;
}

int WriteSegments(char* seq, char* name, int N, FragmentList& list) {
  if (fasta_output > 0) {
    for (int i = 0; i <= N; i++) masked_seq[i] = seq[i];
    fprintf(fasta_out, ">%s\n", name);
  }
  fprintf(out, "\n>%s\n", name);
  form_out_l(out, seq, N, kLineWidth);
  fprintf(out, "\n#Segments: %d\n", static_cast<int>(list.size()));

  const std::vector<int> before = SpecialPrefixCounts(special_aa, seq, N);
  SegmentPValues scan_p(N);
  const int last_entry = static_cast<int>(special_rand_p.size()) - 1;
  int index = 0;
  for (const FRAGMENT& frag : list) {
    index++;
    const int k = before[frag.end] - before[frag.start - 1];
    // The empirical distribution, when there is one, replaces the scan p-value.
    const double p = random_seqs > 0
                         ? CumulativeProb(frag.length, last_entry, special_rand_p.data())
                         : scan_p.Get(k, frag.length);
    fprintf(out, "%d %d %d %d %d %e ", index, frag.start, frag.end, frag.length, k, p);
    fwrite(seq + frag.start - 1, 1, static_cast<size_t>(frag.end - frag.start + 1), out);
    fputc('\n', out);
    if (fasta_output > 0 && p < masking_p_val) MaskSegment(seq, frag);
  }

  int fasta_ok = 1;
  if (fasta_output > 0) {
    form_out_l(fasta_out, masked_seq, N, kLineWidth);
    fasta_ok = CloseFastaOutput();
  }
  fputc('\n', out);
  WriteOverallTest(seq, N);
  return fasta_ok;
}

}  // namespace talvo::internal
