// FASTA reader. Every entry is read in two passes over its body (count, then
// seek back and copy) so that its residue string is allocated once at its
// exact size. Bodies and the line count are scanned in blocks rather than one
// character at a time, for files of hundreds of megabytes. Bytes are classified
// by explicit ASCII ranges: any byte value is safe, and bytes above 127 are
// never letters.
#include "fasta/fasta.h"

#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace talvo::internal {

namespace {

// The longest body accepted: its length plus the terminator, and the N+1
// working arrays of the run, must still fit an int.
constexpr int64_t kMaxResidues = INT_MAX - 1;

// Letters of either case, or '-'. Setting bit 5 maps upper onto lower case
// and nothing else onto a..z.
bool IsResidueByte(unsigned char c) {
  const unsigned char lower = c | 0x20;
  return static_cast<unsigned char>(lower - 'a') < 26 || c == '-';
}

// Block reads start small and double, so that a short entry costs little and
// a long body is scanned in large steps.
constexpr size_t kFirstBlock = 512;
constexpr size_t kLargestBlock = size_t{1} << 20;

// The reader's buffers, one set per file read, so that reads on several
// threads share nothing: the line buffer (at most kFastaLineBuffer - 1
// characters of a line are seen at once) and the block buffer. Left
// uninitialised: only what is read into them is ever looked at.
struct Buffers {
  std::unique_ptr<char[]> line{new char[kFastaLineBuffer]};
  std::unique_ptr<char[]> block{new char[kLargestBlock]};
};

size_t NextBlockSize(size_t size) {
  return size < kLargestBlock ? size * 2 : size;
}

int64_t CountResidues(const char* bytes, size_t n) {
  int64_t count = 0;
  for (size_t i = 0; i < n; i++) count += IsResidueByte(static_cast<unsigned char>(bytes[i]));
  return count;
}

// One line (or its first kFastaLineBuffer - 1 characters) into line_buffer.
struct LineRead {
  int length = 0;        // characters stored, newline included
  bool hit_end = false;  // end of file met while reading it
};

LineRead ReadLine(FILE* stream, char* line_buffer) {
  LineRead line;
  while (line.length < kFastaLineBuffer - 1) {
    const int c = getc_unlocked(stream);
    if (c == EOF) {
      line.hit_end = true;
      break;
    }
    line_buffer[line.length++] = static_cast<char>(c);
    if (c == '\n') break;
  }
  line_buffer[line.length] = '\0';
  return line;
}

bool EndsWithNewline(const LineRead& line, const char* line_buffer) {
  return line.length > 0 && line_buffer[line.length - 1] == '\n';
}

void DiscardRestOfLine(FILE* stream) {
  int c;
  do {
    c = getc_unlocked(stream);
  } while (c != EOF && c != '\n');
}

// Reads the rest of the current line as header text: the newline is dropped,
// a longer line keeps its first characters and loses the rest.
int ReadHeaderLine(FILE* stream, char* line_buffer) {
  const LineRead line = ReadLine(stream, line_buffer);
  if (EndsWithNewline(line, line_buffer)) return line.length - 1;
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

// Residues up to the next '>' or the end of file. The stream is left wherever
// the scan stopped: the copy pass seeks back to the body's start, and then
// leaves it just after the last residue. -1 when the body is too long to index
// with an int.
int64_t CountBody(FILE* stream, char* block) {
  int64_t count = 0;
  for (size_t size = kFirstBlock;; size = NextBlockSize(size)) {
    const size_t got = fread(block, 1, size, stream);
    if (got == 0) return count;
    const char* mark = static_cast<const char*>(memchr(block, '>', got));
    count += CountResidues(block, mark ? static_cast<size_t>(mark - block) : got);
    if (count > kMaxResidues) return -1;
    if (mark) return count;
  }
}

bool IsControlByte(unsigned char c) {
  return c < '\t' || (c > '\r' && c < ' ') || c == 0x7f;
}

// Line bookkeeping of NumberOfSequences across blocks.
struct LineScan {
  int64_t length = 0;    // characters of the current line so far, newline excluded
  bool header = false;   // the current line begins with '>'
  bool counted = false;  // the current line has already been counted
};

// A line is examined once it ends with a newline or fills the line buffer
// (19999 characters); a shorter last line without a newline is not. Only the
// first character of an examined line matters, so whole blocks are scanned
// for newlines instead of reading line by line.
// Number of lines that begin with '>'; leaves the stream rewound.
int NumberOfSequences(FILE* stream, char* block) {
  int64_t count = 0;
  LineScan line;
  size_t got;
  while ((got = fread(block, 1, kLargestBlock, stream)) > 0) {
    const char* p = block;
    const char* const end = block + got;
    while (p < end) {
      if (line.length == 0) {
        line.header = *p == '>';
        line.counted = false;
      }
      const char* newline = static_cast<const char*>(memchr(p, '\n', static_cast<size_t>(end - p)));
      const char* stop = newline ? newline : end;
      line.length += stop - p;
      const bool examined = newline != nullptr || line.length >= kFastaLineBuffer - 1;
      if (examined && line.header && !line.counted) {
        count++;
        line.counted = true;
      }
      if (newline) line.length = 0;
      p = newline ? newline + 1 : end;
    }
  }
  rewind(stream);
  // So many entries could not be indexed (and would need count + 1 slots).
  if (count > kMaxResidues) return -1;
  return static_cast<int>(count);
}

// The copy pass of one entry: len residues from offset into buf; 1 or 0.
int ReadSequence(long offset, FILE* stream, char* buf, int len, char* block) {
  if (fseek(stream, offset, SEEK_SET) != 0) return 0;
  int stored = 0;
  long consumed = 0;
  for (size_t size = kFirstBlock; stored < len; size = NextBlockSize(size)) {
    const size_t got = fread(block, 1, size, stream);
    if (got == 0) return 0;
    size_t i = 0;
    for (; i < got && stored < len; i++) {
      if (IsResidueByte(static_cast<unsigned char>(block[i]))) buf[stored++] = block[i];
    }
    consumed += static_cast<long>(i);
  }
  buf[stored] = '\0';
  // The next entry's search for '>' starts just after the last residue.
  return fseek(stream, offset + consumed, SEEK_SET) == 0 ? 1 : 0;
}

// Reads the next entry into slot index; 1 or 0.
int ReadFastaEntry(FASTA_FILE* file, int index, Buffers& buffers) {
  FILE* stream = file->fp;
  if (!SkipToHeaderMark(stream)) return 0;

  const int header_length = ReadHeaderLine(stream, buffers.line.get());
  char* name = static_cast<char*>(calloc(static_cast<size_t>(header_length) + 1, 1));
  if (name == nullptr) return 0;
  memcpy(name, buffers.line.get(), static_cast<size_t>(header_length));
  file->names[index] = name;

  const long body_start = ftell(stream);
  if (body_start < 0) return 0;
  const int64_t count = CountBody(stream, buffers.block.get());
  if (count < 0) return 0;

  const int length = static_cast<int>(count);
  file->lengths[index] = length;
  char* residues = static_cast<char*>(calloc(static_cast<size_t>(length) + 1, 1));
  if (residues == nullptr) return 0;
  file->seqs[index] = residues;
  return ReadSequence(body_start, stream, residues, length, buffers.block.get());
}

}  // namespace

InputBytes SniffInputBytes(FILE* stream) {
  unsigned char start[kSniffBytes];
  const size_t got = fread(start, 1, sizeof start, stream);
  rewind(stream);
  if (got >= 2 && start[0] == 0x1f && start[1] == 0x8b) return InputBytes::kGzip;
  for (size_t i = 0; i < got; i++) {
    if (IsControlByte(start[i])) return InputBytes::kBinary;
  }
  return InputBytes::kText;
}

int ReadFastaFile(FASTA_FILE* file) {
  Buffers buffers;
  const int n = NumberOfSequences(file->fp, buffers.block.get());
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
    if (!ReadFastaEntry(file, index, buffers)) return 0;
  }
  return 1;
}

void FreeFastaFile(FASTA_FILE* file) {
  for (int i = 0; i <= file->count; i++) {
    if (file->names) free(file->names[i]);
    if (file->seqs) free(file->seqs[i]);
  }
  free(file->names);
  free(file->seqs);
  free(file->lengths);
  *file = FASTA_FILE{0, nullptr, nullptr, nullptr, file->fp};
}

}  // namespace talvo::internal
