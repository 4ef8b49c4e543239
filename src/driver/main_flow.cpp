#include <cstdio>
#include <ctime>

#include "detect/detect.h"
#include "driver/driver.h"
#include "fasta/fasta.h"
#include "random/random.h"
#include "report/report.h"

namespace talvo::internal {

namespace {

void DetectRuns(int N) {
  FindRuns(binary_seq, N, special);
  special_merged = special;
  MergeSegmentsDiscrete(binary_seq, special_merged, max_separation);
  if (random_seqs > 0) EstimateRandomPM(random_binary_seq, N);
}

void DetectWindows(int N) {
  SlideWindowP(binary_seq, N, window, min_p_val, special);
  special_merged = special;
  if (use_merge == 1) MergeSegmentsDiscrete(binary_seq, special_merged, max_separation);
}

// A report that could not be written completely must not pass for a finished
// one: write errors are sticky on the stream, so check them before closing.
bool CloseReport() {
  const bool write_failed = ferror(out) != 0;
  const bool close_failed = fclose(out) != 0;
  out = nullptr;
  return !write_failed && !close_failed;
}

}  // namespace

int RunTalvo(int argc, char** argv) {
  const time_t started = time(nullptr);
  InitAll(argc, argv);

  const int N = f_file.lengths[0];
  if (window < 2) {
    DetectRuns(N);
  } else {
    DetectWindows(N);
  }

  const int fasta_written = WriteSegments(f_file.seqs[0], f_file.names[0], N, special_merged);
  if (!CloseReport()) {
    puts("\nerror closing output file\n");
    return 1;
  }
  printf("\nElapsed time: %d seconds\n", static_cast<int>(time(nullptr) - started));
  return fasta_written ? 0 : 1;
}

}  // namespace talvo::internal
