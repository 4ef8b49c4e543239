// TALVO's run: the command line, the first FASTA entry, the one analysis and
// its report. Every failure is a message on its stream and exit status 1;
// the messages and their order are TALVO's.
#include <cstdio>
#include <ctime>
#include <memory>
#include <new>
#include <string>

#include "alphabet/alphabet.h"
#include "driver/driver.h"
#include "fasta/fasta.h"
#include "report/report.h"

namespace talvo::internal {
namespace {

// The text that ends the run, and its stream.
struct Failure {
  std::string text;
  FILE* stream;
};

[[noreturn]] void Fail(std::string text, FILE* stream = stdout) {
  throw Failure{std::move(text), stream};
}

// These messages go out through puts, which adds one more newline.
[[noreturn]] void FailWithPuts(const char* message) {
  Fail(std::string(message) + "\n");
}

Options ReadArguments(int argc, char** argv) {
  if (argc < 3) Fail(std::string(Help) + "\n");
  try {
    return ReadCommandLine(argc, argv);
  } catch (const UnrecognizedArgument& e) {
    // The letter may be the zero byte, which what() would cut off.
    Fail(std::string("\nUnrecognized command line argument: '") + e.letter() + "'\n");
  } catch (const Error& e) {
    // TALVO sets its ERROR lines off with an empty line.
    const std::string what = e.what();
    Fail((what.starts_with("ERROR") ? "\n" : "") + what + "\n", stderr);
  }
}

struct FastaInput {
  FASTA_FILE file;
  ~FastaInput() { FreeFastaFile(&file); }
};

// Compressed or other binary data would be read as a protein of whatever
// letters it happens to hold, and the run would pass for a success.
const char* NonTextRefusal(FILE* stream) {
  switch (SniffInputBytes(stream)) {
    case InputBytes::kGzip:
      return "\nCan't read gzip-compressed input file (decompress it first)\n";
    case InputBytes::kBinary:
      return "\nCan't read binary input file (not FASTA text)\n";
    case InputBytes::kText:
      break;
  }
  return nullptr;
}

void ReadInput(const char* path, FastaInput& input) {
  FILE* stream = fopen(path, "r");
  if (stream == nullptr) FailWithPuts("\nCan't open input file\n");
  if (const char* refusal = NonTextRefusal(stream)) {
    fclose(stream);
    FailWithPuts(refusal);
  }
  input.file.fp = stream;
  const int read = ReadFastaFile(&input.file);
  fclose(stream);
  input.file.fp = nullptr;
  if (!read) FailWithPuts("\nError reading FASTA file\n");
}

void FailOnSkip(Skip skip) {
  if (skip == Skip::kNoStandardResidue) Fail("\nNo valid residues were found\n", stderr);
  if (skip == Skip::kShorterThanWindow) FailWithPuts("\nERROR: window is longer than the sequence");
  // A permissive analysis skips nothing else, and the reader refuses longer
  // entries than an analysis takes.
  if (skip != Skip::kNone) Fail(std::string("\n") + SkipText(skip) + "\n", stderr);
}

using File = std::unique_ptr<FILE, int (*)(FILE*)>;

File OpenOutput(const std::string& name) {
  return File(fopen(name.c_str(), "w"), fclose);
}

// A file that could not be written completely must not pass for a finished
// one: write errors are sticky on the stream, so check them before closing.
bool Close(File& file) {
  const bool write_failed = ferror(file.get()) != 0;
  const bool close_failed = fclose(file.release()) != 0;
  return !write_failed && !close_failed;
}

// The console lines and the report header once the protein's background
// probability is known, then the progress lines of the random stage.
class TalvoOutputs : public Progress {
 public:
  TalvoOutputs(const char* base, const Options& options, long seed)
      : base_(base), options_(options), seed_(seed) {}

  void Prepared(const Result& result) override {
    WriteLinkageLine(options_.settings, result);
    printf("SEED=%ld\n", seed_);
    report_ = OpenOutput(base_ + ".seg");
    if (!report_) FailWithPuts("\nCan't open output file\n");
    WriteReportHeader(report_.get(), options_.settings, result);
    if (!options_.masked_output) return;
    const std::string name = base_ + ".fas";
    masked_ = OpenOutput(name);
    if (!masked_) Fail("\nCan't open output file " + name + "\n", stderr);
  }

  void RandomSequence(int n) override {
    if (n % 1000 == 0) printf("N=%d\n", n);
  }

  File& report() { return report_; }
  File& masked() { return masked_; }

 private:
  std::string base_;
  const Options& options_;
  long seed_;
  File report_{nullptr, fclose};
  File masked_{nullptr, fclose};
};

// Returns 0 when the masked file could not be written (after saying so).
int WriteMasked(File& file, const char* name, std::string_view sequence, const Result& result,
                const Settings& settings) {
  WriteMaskedFasta(file.get(), name,
                   Masked(sequence, result, settings.mask_p, settings.lower_case_mask));
  if (Close(file)) return 1;
  fputs("Error closing FASTA file\n", stderr);
  return 0;
}

int Run(int argc, char** argv, time_t started) {
  Options options = ReadArguments(argc, argv);
  FastaInput input;
  ReadInput(argv[1], input);
  const int N = input.file.lengths[0];
  char* sequence = input.file.seqs[0];
  Conv2Upper(sequence, N);

  const long seed = ClockSeed();
  options.settings.seed = static_cast<uint64_t>(seed);
  const Analyser analyser(options.settings);
  TalvoOutputs outputs(argv[2], options, seed);
  Workspace workspace;
  Result result;
  try {
    result = analyser.Analyse(std::string_view(sequence, static_cast<size_t>(N)), 1, workspace,
                              &outputs);
  } catch (const std::bad_alloc&) {
    FailWithPuts("\nAllocation error in InitAll()");
  }
  FailOnSkip(result.skip);

  const char* name = input.file.names[0];
  const std::string_view residues(sequence, static_cast<size_t>(N));
  const int masked_written = options.masked_output ? WriteMasked(outputs.masked(), name, residues,
                                                                 result, options.settings)
                                                   : 1;
  WriteReportBody(outputs.report().get(), name, residues, result);
  if (!Close(outputs.report())) FailWithPuts("\nerror closing output file\n");
  printf("\nElapsed time: %d seconds\n", static_cast<int>(time(nullptr) - started));
  return masked_written ? 0 : 1;
}

}  // namespace

int RunTalvo(int argc, char** argv) {
  const time_t started = time(nullptr);
  try {
    return Run(argc, argv, started);
  } catch (const Failure& failure) {
    fwrite(failure.text.data(), 1, failure.text.size(), failure.stream);
    return 1;
  }
}

}  // namespace talvo::internal
