// Reading a large FASTA file: the program's reader against the literal one,
// and talvo-proteome's streaming reader on the same file, plain and gzip,
// against zlib inflating the file with nothing done with its bytes; and
// zlib against libdeflate and ISA-L inflating real proteins in memory.
#include <benchmark/benchmark.h>
#include <zlib.h>
#ifdef TALVO_HAVE_LIBDEFLATE
#include <libdeflate.h>
#endif
#ifdef TALVO_HAVE_ISAL
#include <isa-l/igzip_lib.h>
#endif

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "fasta/fasta.h"
#include "proteome/fasta_stream.h"
#include "reference/literal.h"
#include "support/support.h"

using namespace talvo::internal;
using namespace talvo::proteome;

namespace {

// About 32 MB: a few hundred entries of 60-column lines with lower case,
// digits and blanks mixed in.
const std::string& LargeFastaPath() {
  static const TempDir dir;
  static const std::string path = [] {
    const std::string file = dir / "large.fa";
    std::mt19937 rng(1);
    const std::string pool = "ACDEFGHIKLMNPQRSTVWYacdefghiklmnpqrstvwy-X 1*";
    std::string text;
    for (int entry = 0; entry < 500; entry++) {
      text += ">entry " + std::to_string(entry) + " some description\n";
      for (int line = 0; line < 1000; line++) {
        for (int i = 0; i < 60; i++) text += pool[rng() % pool.size()];
        text += '\n';
      }
    }
    WriteFile(file, text);
    return file;
  }();
  return path;
}

// The literal reader works on the text, so its time includes reading the
// whole file into memory first.
void BM_ReadFastaFile_Literal(benchmark::State& state) {
  const std::string& path = LargeFastaPath();
  for (auto _ : state) {
    std::vector<literal::FastaEntry> entries;
    benchmark::DoNotOptimize(literal::ReadFasta(ReadFile(path), entries));
  }
  state.SetBytesProcessed(state.iterations() * 500LL * (1000 * 61 + 30));
}

void BM_ReadFastaFile_Program(benchmark::State& state) {
  const std::string& path = LargeFastaPath();
  for (auto _ : state) {
    FASTA_FILE file;
    file.fp = fopen(path.c_str(), "r");
    benchmark::DoNotOptimize(ReadFastaFile(&file));
    fclose(file.fp);
    FreeFastaFile(&file);
  }
  state.SetBytesProcessed(state.iterations() * 500LL * (1000 * 61 + 30));
}

const std::string& LargeGzipPath() {
  static const std::string path = [] {
    const std::string file = LargeFastaPath() + ".gz";
    const std::string text = ReadFile(LargeFastaPath());
    gzFile out = gzopen(file.c_str(), "wb6");
    gzwrite(out, text.data(), static_cast<unsigned>(text.size()));
    gzclose(out);
    return file;
  }();
  return path;
}

// Every entry of the file through the streaming reader.
void StreamEntries(benchmark::State& state, const std::string& path) {
  for (auto _ : state) {
    FastaStream stream;
    stream.Open(path);
    size_t residues = 0;
    for (ProteinEntry entry; stream.Next(entry);) residues += entry.residues.size();
    stream.Close();
    benchmark::DoNotOptimize(residues);
  }
  state.SetBytesProcessed(state.iterations() * 500LL * (1000 * 61 + 30));
}

void BM_FastaStream_Plain(benchmark::State& state) {
  StreamEntries(state, LargeFastaPath());
}

void BM_FastaStream_Gzip(benchmark::State& state) {
  StreamEntries(state, LargeGzipPath());
}

// The floor of the gzip case: decompression alone, into one buffer.
void BM_Gzread_Bare(benchmark::State& state) {
  std::vector<char> buffer(FastaStream::kDefaultBuffer);
  for (auto _ : state) {
    gzFile in = gzopen(LargeGzipPath().c_str(), "rb");
    while (gzread(in, buffer.data(), static_cast<unsigned>(buffer.size())) > 0) {
    }
    gzclose(in);
    benchmark::DoNotOptimize(buffer.data());
  }
  state.SetBytesProcessed(state.iterations() * 500LL * (1000 * 61 + 30));
}

// The 20,000 proteins of Debian's mmseqs2-examples, one gzip member, in
// memory; both inflate it whole into one buffer.
const std::string& RealGzip() {
  static const std::string gzip = ReadFile("/usr/share/doc/mmseqs2/example-data/DB.fasta.gz");
  return gzip;
}
constexpr size_t kRealText = 11434968;  // its text, in bytes

void BM_ZlibInflate_Real(benchmark::State& state) {
  if (RealGzip().empty()) return state.SkipWithError("mmseqs2-examples is not installed");
  std::string text(kRealText + 1, '\0');
  for (auto _ : state) {
    z_stream z{};
    inflateInit2(&z, 16 + MAX_WBITS);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(RealGzip().data()));
    z.avail_in = static_cast<uInt>(RealGzip().size());
    z.next_out = reinterpret_cast<Bytef*>(text.data());
    z.avail_out = static_cast<uInt>(text.size());
    if (inflate(&z, Z_FINISH) != Z_STREAM_END) state.SkipWithError("not one gzip member");
    inflateEnd(&z);
    benchmark::DoNotOptimize(text.data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kRealText));
}

#ifdef TALVO_HAVE_LIBDEFLATE
void BM_LibdeflateInflate_Real(benchmark::State& state) {
  if (RealGzip().empty()) return state.SkipWithError("mmseqs2-examples is not installed");
  std::string text(kRealText + 1, '\0');
  libdeflate_decompressor* decompressor = libdeflate_alloc_decompressor();
  for (auto _ : state) {
    size_t size = 0;
    if (libdeflate_gzip_decompress(decompressor, RealGzip().data(), RealGzip().size(), text.data(),
                                   text.size(), &size) != LIBDEFLATE_SUCCESS) {
      state.SkipWithError("not one gzip member");
    }
    benchmark::DoNotOptimize(text.data());
  }
  libdeflate_free_decompressor(decompressor);
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kRealText));
}
BENCHMARK(BM_LibdeflateInflate_Real)->Unit(benchmark::kMillisecond);
#endif

#ifdef TALVO_HAVE_ISAL
// As the reader streams it: 256 kB of text at a time.
void BM_IsalStream_Real(benchmark::State& state) {
  if (RealGzip().empty()) return state.SkipWithError("mmseqs2-examples is not installed");
  std::string text(256 << 10, '\0');
  inflate_state inflater;
  for (auto _ : state) {
    isal_inflate_init(&inflater);
    inflater.crc_flag = ISAL_GZIP;
    inflater.next_in = reinterpret_cast<uint8_t*>(const_cast<char*>(RealGzip().data()));
    inflater.avail_in = static_cast<uint32_t>(RealGzip().size());
    while (inflater.block_state != ISAL_BLOCK_FINISH) {
      inflater.next_out = reinterpret_cast<uint8_t*>(text.data());
      inflater.avail_out = static_cast<uint32_t>(text.size());
      if (isal_inflate(&inflater) != ISAL_DECOMP_OK) return state.SkipWithError("bad gzip");
      benchmark::DoNotOptimize(text.data());
    }
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kRealText));
}
BENCHMARK(BM_IsalStream_Real)->Unit(benchmark::kMillisecond);
#endif

BENCHMARK(BM_ZlibInflate_Real)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadFastaFile_Literal)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ReadFastaFile_Program)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FastaStream_Plain)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FastaStream_Gzip)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Gzread_Bare)->Unit(benchmark::kMillisecond);

}  // namespace
