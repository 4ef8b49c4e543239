#include "fasta/fasta.h"

FASTA_FILE f_file;
