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

// What the first bytes of an input show it to be. Binary is a control byte
// other than tab, LF, VT, FF and CR, or DEL, among the first kSniffBytes:
// text never holds one, and compressed or other binary data almost at once.
enum class InputBytes { kText, kGzip, kBinary };
constexpr int kSniffBytes = 4096;

// Looks at the start of the stream and rewinds it. A stream that cannot be
// read counts as text: reading it fails later, as it would have anyway.
InputBytes SniffInputBytes(FILE* stream);

// 1 when every entry was read, 0 on any failure. Never prints.
int ReadFastaFile(FASTA_FILE* file);
// Frees what ReadFastaFile allocated, also after a failed read; keeps fp.
void FreeFastaFile(FASTA_FILE* file);

}  // namespace talvo::internal
