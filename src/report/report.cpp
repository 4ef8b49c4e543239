#include "report/report.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace talvo::internal {
namespace {

constexpr int kLineWidth = 80;

// The approximation is undefined (NaN) for a variance of 0; glibc would print
// the sign bit as "-nan" or "nan", so one spelling is chosen.
void PrintProbability(FILE* stream, double value) {
  if (std::isnan(value)) {
    fputs("nan", stream);
  } else {
    fprintf(stream, "%e", value);
  }
}

void WriteOverallLine(FILE* stream, const Overall& overall) {
  fprintf(stream, "#Overall: %d %e ", overall.special, overall.exact_tail);
  PrintProbability(stream, overall.approximate_tail);
  if (!overall.approximation_valid) fputc('*', stream);
  fputs(overall.direction == '-' ? " (-)\n" : " (+)\n", stream);
  if (!overall.approximation_valid) {
    fputs("\nNormal approximation to Binomial distribution is not valid\n", stderr);
  }
}

}  // namespace

const char* FrequencyLabel(Background background) {
  switch (background) {
    case Background::kPdb:
      return "PDB frequencies";
    case Background::kInput:
      return "Sequence frequencies";
    case Background::kSprot:
      break;
  }
  return "SPROT frequencies";
}

void WriteLinkageLine(const Settings& settings, const Result& result) {
  printf(
      settings.estimate_linkage ? "Estimated linkage distance = %d\n" : "Linkage distance = %d\n",
      result.linkage);
}

void WriteReportHeader(FILE* stream, const Settings& settings, const Result& result) {
  if (settings.window < 2) {
    fprintf(stream, "Length=%d W=%d E=%d\n", result.length, settings.window, result.linkage);
  } else {
    fprintf(stream, "Length=%d W=%d E=%d P=%lf\n", result.length, settings.window, result.linkage,
            settings.min_p);
  }
  fprintf(stream, "Special AA: %s; %s; P=%.4lf;\n", settings.alphabet.c_str(),
          FrequencyLabel(settings.background), result.special_probability);
  // Stated whenever -S or -G was given, also with a count that draws none.
  if (settings.random_null == RandomNull::kShuffled) {
    fprintf(stream, "Estimates using %d shuffled sequences\n", settings.random_count);
  } else if (settings.random_null == RandomNull::kGenerated) {
    fprintf(stream, "Estimates using %d generated sequences\n", settings.random_count);
  }
}

void WriteReportBody(FILE* stream, const char* name, std::string_view sequence,
                     const Result& result) {
  fprintf(stream, "\n>%s\n", name);
  form_out_l(stream, sequence.data(), result.length, kLineWidth);
  fprintf(stream, "\n#Segments: %d\n", static_cast<int>(result.segments.size()));
  int index = 0;
  for (const Segment& segment : result.segments) {
    fprintf(stream, "%d %d %d %d %d %e ", ++index, segment.start, segment.end, segment.length,
            segment.special, segment.p_value);
    fwrite(segment.residues.data(), 1, segment.residues.size(), stream);
    fputc('\n', stream);
  }
  fputc('\n', stream);
  WriteOverallLine(stream, result.overall);
}

void WriteMaskedFasta(FILE* stream, const char* name, std::string_view masked) {
  fprintf(stream, ">%s\n", name);
  form_out_l(stream, masked.data(), static_cast<int>(masked.size()), kLineWidth);
}

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

}  // namespace talvo::internal
