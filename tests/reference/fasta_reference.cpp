#include "reference/fasta_reference.h"

#include <cctype>
#include <cstdlib>
#include <cstring>

namespace literal {
namespace {

char line[20000];

// Reads up to 19999 characters or through the newline. Returns the number
// stored; at_end tells whether the end of the file was met.
int ReadLine(FILE* stream, bool& at_end) {
  int length = 0;
  at_end = false;
  while (length < 19999) {
    int c = getc(stream);
    if (c == EOF) {
      at_end = true;
      break;
    }
    line[length] = (char)c;
    length++;
    if (c == '\n') break;
  }
  line[length] = 0;
  return length;
}

void DiscardLine(FILE* stream) {
  for (;;) {
    int c = getc(stream);
    if (c == EOF || c == '\n') return;
  }
}

bool IsResidue(int c) {
  return isalpha(c) || c == '-';
}

int ReadSequence(long offset, FILE* stream, char* buf, int len) {
  if (fseek(stream, offset, SEEK_SET) != 0) return 0;
  int i = 0;
  while (i < len) {
    int c = getc(stream);
    if (c == EOF) return 0;
    if (IsResidue(c)) {
      buf[i] = (char)c;
      i++;
    }
  }
  buf[i] = 0;
  return 1;
}

int ReadFastaEntry(FASTA_FILE* file, int index) {
  FILE* stream = file->fp;
  int c;
  do {
    c = getc(stream);
    if (c == EOF) return 0;
  } while (c != '>');

  bool at_end;
  int length = ReadLine(stream, at_end);
  if (length > 0 && line[length - 1] == '\n') {
    length--;
  } else {
    DiscardLine(stream);
  }
  file->names[index] = (char*)calloc(length + 1, 1);
  if (file->names[index] == NULL) return 0;
  memcpy(file->names[index], line, length);

  long position = ftell(stream);
  if (position < 0) return 0;
  long long count = 0;
  for (;;) {
    c = getc(stream);
    if (c == EOF) break;
    if (c == '>') {
      ungetc(c, stream);
      break;
    }
    if (IsResidue(c)) count++;
  }
  if (count > 2147483646LL) return 0;
  file->lengths[index] = (int)count;
  file->seqs[index] = (char*)calloc(count + 1, 1);
  if (file->seqs[index] == NULL) return 0;
  return literal::ReadSequence(position, stream, file->seqs[index], (int)count);
}

}  // namespace

int NumberOfSequences(FILE* stream) {
  int count = 0;
  for (;;) {
    bool at_end;
    int length = ReadLine(stream, at_end);
    if (length == 0 || at_end) break;
    if (line[length - 1] == '\n') {
      line[length - 1] = 0;
    } else {
      DiscardLine(stream);
    }
    if (line[0] == '>') count++;
  }
  rewind(stream);
  return count;
}

int ReadFastaFile(FASTA_FILE* file) {
  int n = literal::NumberOfSequences(file->fp);
  if (n == 0) return 0;
  file->count = n;
  file->lengths = (int*)calloc(n + 1, sizeof(int));
  if (file->lengths == NULL) return 0;
  file->names = (char**)calloc(n + 1, sizeof(char*));
  if (file->names == NULL) return 0;
  file->seqs = (char**)calloc(n + 1, sizeof(char*));
  if (file->seqs == NULL) return 0;
  for (int i = 0; i < n; i++) {
    if (!literal::ReadFastaEntry(file, i)) return 0;
  }
  return 1;
}

}  // namespace literal

void ReleaseFastaFile(FASTA_FILE* file) {
  for (int i = 0; i <= file->count; i++) {
    if (file->names) free(file->names[i]);
    if (file->seqs) free(file->seqs[i]);
  }
  free(file->names);
  free(file->seqs);
  free(file->lengths);
  FILE* stream = file->fp;
  *file = FASTA_FILE();
  file->fp = stream;
}
