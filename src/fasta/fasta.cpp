// FASTA reader. Every entry is read in two passes over its body (count, then
// seek back and copy) so that its residue string is allocated once at its
// exact size. Bytes are classified by explicit ASCII ranges: any byte value is
// safe, and bytes above 127 are never letters.
#include "fasta/fasta.h"

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace {

// The shared line buffer: at most kFastaLineBuffer - 1 characters of a line
// are seen at once.
char _string_[kFastaLineBuffer];

// The longest body accepted: its length plus the terminator, and the N+1
// working arrays of the run, must still fit an int.
constexpr int64_t kMaxResidues = INT_MAX - 1;

bool IsResidueByte(int c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-';
}

// One line (or its first kFastaLineBuffer - 1 characters) into _string_.
struct LineRead {
  int length = 0;        // characters stored, newline included
  bool hit_end = false;  // end of file met while reading it
};

LineRead ReadLine(FILE* stream) {
  LineRead line;
  while (line.length < kFastaLineBuffer - 1) {
    const int c = getc_unlocked(stream);
    if (c == EOF) {
      line.hit_end = true;
      break;
    }
    _string_[line.length++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  _string_[line.length] = '\0';
  return line;
}

bool EndsWithNewline(const LineRead& line) {
  return line.length > 0 && _string_[line.length - 1] == '\n';
}

void DiscardRestOfLine(FILE* stream) {
  int c;
  do {
    c = getc_unlocked(stream);
  } while (c != EOF && c != '\n');
}

// Reads the rest of the current line as header text: the newline is dropped,
// a longer line keeps its first characters and loses the rest.
int ReadHeaderLine(FILE* stream) {
  const LineRead line = ReadLine(stream);
  if (EndsWithNewline(line)) return line.length - 1;
  if (!line.hit_end) DiscardRestOfLine(stream);
  return line.length;
}

bool SkipToHeaderMark(FILE* stream) {
  int c;
  do {
    c = getc_unlocked(stream);
  } while (c != EOF && c != '>');
  return c == '>';
}

// Residues up to the next '>' or the end of file; the '>' is pushed back for
// the next entry. -1 when the body is too long to index with an int.
int64_t CountBody(FILE* stream) {
  int64_t count = 0;
  int c;
  while ((c = getc_unlocked(stream)) != EOF && c != '>') {
    if (IsResidueByte(c) && ++count > kMaxResidues) return -1;
  }
  if (c == '>') ungetc(c, stream);
  return count;
}

}  // namespace

int NumberOfSequences(FILE* stream) {
  int64_t count = 0;
  for (;;) {
    const LineRead line = ReadLine(stream);
    // A last line that ends without a newline is not examined.
    if (line.length == 0 || line.hit_end) break;
    if (!EndsWithNewline(line)) DiscardRestOfLine(stream);
    if (_string_[0] == '>') count++;
  }
  rewind(stream);
  // So many entries could not be indexed (and would need count + 1 slots).
  if (count > kMaxResidues) return -1;
  return static_cast<int>(count);
}

int ReadFastaFile(FASTA_FILE* file) {
  const int n = NumberOfSequences(file->fp);
  if (n <= 0) return 0;
  file->count = n;
  const size_t slots = static_cast<size_t>(n) + 1;
  file->lengths = static_cast<int*>(calloc(slots, sizeof(int)));
  if (file->lengths == nullptr) return 0;
  file->names = static_cast<char**>(calloc(slots, sizeof(char*)));
  if (file->names == nullptr) return 0;
  file->seqs = static_cast<char**>(calloc(slots, sizeof(char*)));
  if (file->seqs == nullptr) return 0;
  for (int index = 0; index < n; index++) {
    if (!ReadFastaEntry(file, index)) return 0;
  }
  return 1;
}

int ReadFastaEntry(FASTA_FILE* file, int index) {
  FILE* stream = file->fp;
  if (!SkipToHeaderMark(stream)) return 0;

  const int header_length = ReadHeaderLine(stream);
  char* name = static_cast<char*>(calloc(static_cast<size_t>(header_length) + 1, 1));
  if (name == nullptr) return 0;
  memcpy(name, _string_, static_cast<size_t>(header_length));
  file->names[index] = name;

  const long body_start = ftell(stream);
  if (body_start < 0) return 0;
  const int64_t count = CountBody(stream);
  if (count < 0) return 0;

  const int length = static_cast<int>(count);
  file->lengths[index] = length;
  char* residues = static_cast<char*>(calloc(static_cast<size_t>(length) + 1, 1));
  if (residues == nullptr) return 0;
  file->seqs[index] = residues;
  return ReadSequence(body_start, stream, residues, length);
}

int ReadSequence(long offset, FILE* stream, char* buf, int len) {
  if (fseek(stream, offset, SEEK_SET) != 0) return 0;
  int stored = 0;
  while (stored < len) {
    const int c = getc_unlocked(stream);
    if (c == EOF) return 0;
    if (IsResidueByte(c)) buf[stored++] = static_cast<char>(c);
  }
  buf[stored] = '\0';
  return 1;
}
