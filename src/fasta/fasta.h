// FASTA reader: every entry of a file, header, residues and length.
#pragma once
#include <cstdio>

struct FASTA_FILE {
  int count = 0;
  int* lengths = nullptr;  // count+1 slots, zero-filled
  char** names = nullptr;  // header text without '>' and newline
  char** seqs = nullptr;   // residues (letters and '-'), NUL-terminated
  FILE* fp = nullptr;      // set by the caller, not closed here
};

extern FASTA_FILE f_file;

// What the first bytes of an input show it to be. Binary is a control byte
// other than tab, LF, VT, FF and CR, or DEL, among the first kSniffBytes:
// text never holds one, and compressed or other binary data almost at once.
enum class InputBytes { kText, kGzip, kBinary };
constexpr int kSniffBytes = 4096;

// Size of the shared line buffer: at most this minus one characters of a line
// are seen at once.
constexpr int kFastaLineBuffer = 20000;

// Looks at the start of the stream and rewinds it. A stream that cannot be
// read counts as text: reading it fails later, as it would have anyway.
InputBytes SniffInputBytes(FILE* stream);
// Number of lines that begin with '>'; leaves the stream rewound.
int NumberOfSequences(FILE* stream);
// 1 when every entry was read, 0 on any failure. Never prints.
int ReadFastaFile(FASTA_FILE* file);
int ReadFastaEntry(FASTA_FILE* file, int index);
int ReadSequence(long offset, FILE* stream, char* buf, int len);
