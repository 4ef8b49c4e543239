// Literal FASTA reader, written straight from its step-by-step description for
// clarity, not speed: plain getc, the C library's isalpha, a line buffer of
// 20000 bytes, ungetc, ftell and fseek. Tests compare the program's reader
// with it field by field.
#pragma once
#include <cstdio>

#include "fasta/fasta.h"

namespace literal {

int NumberOfSequences(FILE* stream);
int ReadFastaFile(FASTA_FILE* file);

}  // namespace literal

// Frees what either reader allocated and empties the record (tests only: the
// program itself keeps its data until exit).
void ReleaseFastaFile(FASTA_FILE* file);
