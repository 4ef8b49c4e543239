#include "fasta/fasta.h"

namespace talvo::internal {

FASTA_FILE f_file;

}  // namespace talvo::internal
