#include "reference/report_reference.h"

#include <cctype>
#include <cmath>

#include "alphabet/alphabet.h"
#include "driver/driver.h"
#include "random/random.h"
#include "report/report.h"
#include "stats/stats.h"

namespace literal {

ReportStats ProgramStats() {
  return {P_scan_ge_K_in_W_N, Binomial_P_LessThan_K, Binomial_P_GreaterThan_K,
          ApproxBinomial_P_LessThan_K, ApproxBinomial_P_GreaterThan_K};
}

void form_out_l(FILE* stream, const char* data, int len, int width) {
  if (len <= 0) return;
  for (int i = 0; i < len; i++) {
    fprintf(stream, "%c", data[i]);
    if ((i + 1) % width == 0) fprintf(stream, "\n");
  }
  if (len % width != 0) fprintf(stream, "\n");
}

double CumulativeProb(int from, int to, const double* table) {
  double sum = 0.0;
  for (int i = from; i <= to; i++) sum = sum + table[i];
  return sum;
}

int ComputeNSuccesses(const char* set, const char* seq, int from, int to) {
  int count = 0;
  for (int i = from; i <= to; i++) {
    for (const char* c = set; *c != '\0'; c++) {
      if (seq[i] == *c) {
        count++;
        break;
      }
    }
  }
  return count;
}

int WriteSegments(char* seq, char* name, int N, FragmentList& list, const ReportStats& stats) {
  if (fasta_output > 0) {
    for (int i = 0; i <= N; i++) masked_seq[i] = seq[i];
    fprintf(fasta_out, ">%s\n", name);
  }
  fprintf(out, "\n>%s\n", name);
  literal::form_out_l(out, seq, N, 80);
  fprintf(out, "\n#Segments: %d\n", static_cast<int>(list.size()));
  for (size_t i = 0; i < list.size(); i++) {
    const FRAGMENT& frag = list[i];
    int k = ComputeNSuccesses(special_aa, seq, frag.start - 1, frag.end - 1);
    double p = stats.scan(k, frag.length, N, P_special);
    if (random_seqs > 0) {
      p = CumulativeProb(frag.length, static_cast<int>(special_rand_p.size()) - 1,
                         special_rand_p.data());
    }
    fprintf(out, "%d %d %d %d %d %e ", static_cast<int>(i) + 1, frag.start, frag.end, frag.length,
            k, p);
    for (int pos = frag.start; pos <= frag.end; pos++) fprintf(out, "%c", seq[pos - 1]);
    fprintf(out, "\n");
    if (fasta_output == 1 && p < masking_p_val) {
      for (int pos = frag.start; pos <= frag.end; pos++) masked_seq[pos - 1] = 'X';
    }
    if (fasta_output == 2 && p < masking_p_val) {
      for (int pos = frag.start; pos <= frag.end; pos++) {
        masked_seq[pos - 1] = static_cast<char>(tolower(static_cast<unsigned char>(seq[pos - 1])));
      }
    }
  }
  int fasta_written = 1;
  if (fasta_output > 0) {
    literal::form_out_l(fasta_out, masked_seq, N, 80);
    bool failed = ferror(fasta_out) != 0;
    if (fclose(fasta_out) != 0) failed = true;
    fasta_out = nullptr;
    if (failed) {
      fprintf(stderr, "Error closing FASTA file\n");
      fasta_written = 0;
    }
  }
  fprintf(out, "\n");
  int a = ComputeNSuccesses(special_aa, seq, 0, N - 1);
  int e = static_cast<int>(std::ceil(N * P_special));
  int valid = 0;
  double exact;
  double approx;
  const char* sign;
  if (e > a) {
    exact = stats.less_than(a, N, P_special);
    approx = stats.approx_less_than(a, N, P_special, valid);
    sign = "(-)";
  } else {
    exact = stats.greater_than(a, N, P_special);
    approx = stats.approx_greater_than(a, N, P_special, valid);
    sign = "(+)";
  }
  // The approximation is a NaN for a variance of 0; it is spelt "nan".
  if (std::isnan(approx)) {
    fprintf(out, "#Overall: %d %e nan", a, exact);
  } else {
    fprintf(out, "#Overall: %d %e %e", a, exact, approx);
  }
  fprintf(out, valid == 0 ? "* %s\n" : " %s\n", sign);
  return fasta_written;
}

}  // namespace literal
