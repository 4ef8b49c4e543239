#include <csignal>

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include "proteome/command_line.h"
#include "proteome/output_files.h"

int main(int argc, char** argv) {
  talvo::proteome::ReserveStandardDescriptors();
  // A closed output pipe shows as EPIPE, which the run turns into a quiet end.
  signal(SIGPIPE, SIG_IGN);
  talvo::proteome::RemoveTemporariesOnSignals();
#ifdef __GLIBC__
  // The heaps grow in large steps and keep what they freed: batches come and
  // go all run long, and growing page by page, or giving memory back to take
  // it again, costs a system call and fresh page faults each time. 64 MiB
  // makes a thread's heap whole from the start (its full reservation,
  // untouched): glibc grows a thread's heap only a few pages at a time, too
  // little for huge pages to back the new part.
  mallopt(M_TOP_PAD, 64 << 20);
  mallopt(M_TRIM_THRESHOLD, 256 << 20);
#endif
  // Each thread's first touch of a heap page is a fault, and faults are dear
  // on virtual machines: huge pages make them 512 times fewer.
  talvo::proteome::PipelineTuning tuning;
  tuning.huge_page_heaps = true;
  tuning.stream_gzip_beside_spare_core = true;
  return talvo::proteome::ProteomeMain(argc, argv, tuning);
}
