// FASTA reader: every entry of a file, header, residues and length.
#pragma once
#include <cstdio>

namespace talvo::internal {

struct FASTA_FILE {
  int count = 0;
  int* lengths = nullptr;  // count+1 slots, zero-filled
  char** names = nullptr;  // header text without '>' and newline
  char** seqs = nullptr;   // residues (letters and '-'), NUL-terminated
  FILE* fp = nullptr;      // set by the caller, not closed here
};

// Size of the line buffer: at most this minus one characters of a line are
// seen at once.
constexpr int kFastaLineBuffer = 20000;

// 1 when every entry was read, 0 on any failure. Never prints.
int ReadFastaFile(FASTA_FILE* file);
// Frees what ReadFastaFile allocated, also after a failed read; keeps fp.
void FreeFastaFile(FASTA_FILE* file);

}  // namespace talvo::internal
