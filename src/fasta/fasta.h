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

// Size of the shared line buffer: at most this minus one characters of a line
// are seen at once.
constexpr int kFastaLineBuffer = 20000;

// Number of lines that begin with '>'; leaves the stream rewound.
int NumberOfSequences(FILE* stream);
// 1 when every entry was read, 0 on any failure. Never prints.
int ReadFastaFile(FASTA_FILE* file);
// Frees what ReadFastaFile allocated, also after a failed read; keeps fp.
void FreeFastaFile(FASTA_FILE* file);
int ReadFastaEntry(FASTA_FILE* file, int index);
int ReadSequence(long offset, FILE* stream, char* buf, int len);

}  // namespace talvo::internal
