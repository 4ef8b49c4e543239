#include "report/report.h"

char* masked_seq = nullptr;
FILE* out = nullptr;
FILE* fasta_out = nullptr;
