// A whole TALVO run in process on option lines, an empty line and a FASTA
// file: TALVO's reading of the options, the reader, the one analysis with
// TALVO's settings and the report writer. Run with -close_fd_mask=3. Checks:
// no crash, no sanitizer report, and a complete report whose segment
// p-values are numbers.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "driver/driver.h"
#include "report/report.h"
#include "support/support.h"

using namespace talvo::internal;

namespace {

void Run(const Options& options, const FASTA_FILE& file) {
  const int N = file.lengths[0];
  talvo::Settings settings = options.settings;
  if (N > 1500 || settings.random_count > 40) return;
  settings.seed = 1;
  talvo::Workspace workspace;
  const talvo::Result result = talvo::Analyser(settings).Analyse(
      std::string_view(file.seqs[0], static_cast<size_t>(N)), 1, workspace);
  if (result.skip != talvo::Skip::kNone) return;
  char* report = nullptr;
  size_t report_size = 0;
  FILE* out = open_memstream(&report, &report_size);
  WriteReportHeader(out, settings, result);
  WriteReportBody(out, file.names[0], std::string_view(file.seqs[0], N), result);
  fclose(out);
  const std::string text(report, report_size);
  free(report);
  const size_t segments = text.find("\n#Segments: "), overall = text.find("\n#Overall: ");
  if (overall == std::string::npos || text.find("nan", segments) < overall) abort();
  const std::string masked = talvo::Masked(file.seqs[0], result, settings.mask_p, false);
  if (masked.size() != static_cast<size_t>(N)) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string input(reinterpret_cast<const char*>(data), size);
  const size_t split = input.starts_with("\n") ? 0 : input.find("\n\n");  // ends the options
  std::istringstream lines(input.substr(0, split));
  std::vector<std::string> args = {"TALVO", "in.fa", "out"};
  for (std::string line; std::getline(lines, line);) args.push_back(line);
  std::string fasta = split == std::string::npos ? "" : input.substr(split + (split ? 2 : 1));
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  Options options;
  try {
    options = ReadCommandLine(static_cast<int>(argv.size()), argv.data());
  } catch (const talvo::Error&) {
    return 0;
  }
  FASTA_FILE file;
  file.fp = fmemopen(fasta.data(), fasta.size(), "r");
  if (ReadFastaFile(&file) == 1) {
    Conv2Upper(file.seqs[0], file.lengths[0]);
    Run(options, file);
  }
  fclose(file.fp);
  FreeFastaFile(&file);
  return 0;
}
