#include "report/report.h"

namespace talvo::internal {

// Per thread, like the other set-up products.
thread_local char* masked_seq = nullptr;
FILE* out = nullptr;
FILE* fasta_out = nullptr;

}  // namespace talvo::internal
