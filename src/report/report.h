// TALVO's console lines, .seg report and masked .fas file, written from the
// settings and the talvo::Result of an analysis: nothing is computed here.
#pragma once
#include <cstdio>
#include <string_view>

#include "talvo/talvo.h"

namespace talvo::internal {

// "SPROT frequencies", "PDB frequencies" or "Sequence frequencies".
const char* FrequencyLabel(Background background);
// "Linkage distance = %d", or "Estimated linkage distance = %d" with -K, on
// standard output.
void WriteLinkageLine(const Settings& settings, const Result& result);
// The two or three lines that open the report.
void WriteReportHeader(FILE* stream, const Settings& settings, const Result& result);
// The rest of the report: the entry, its segments and the overall test. An
// overall approximation judged invalid is also reported on the error stream.
void WriteReportBody(FILE* stream, const char* name, std::string_view sequence,
                     const Result& result);
// The masked sequence in FASTA format.
void WriteMaskedFasta(FILE* stream, const char* name, std::string_view masked);
// The first len characters of data, width to a line; nothing when len <= 0.
void form_out_l(FILE* stream, const char* data, int len, int width);

}  // namespace talvo::internal
