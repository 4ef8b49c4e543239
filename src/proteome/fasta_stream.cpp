#include "proteome/fasta_stream.h"

#include <utility>

namespace talvo::proteome {

bool FastaStream::Open(const std::string& path, size_t buffer_size, unsigned long long whole_limit,
                       bool stream_fast) {
  buffer_size_ = std::max<size_t>(buffer_size, 1);
  cutter_ = EntryCutter(buffer_size_, 1 << 20);
  ledger_ = InputLedger(path);
  if (source_.Open(path, buffer_size_, nullptr, whole_limit, stream_fast)) return true;
  error_ = source_.error();
  finished_ = true;
  return false;
}

bool FastaStream::Close() {
  if (!source_.Close() && error_.empty()) error_ = source_.error();
  return error_.empty();
}

std::vector<std::string> FastaStream::TakeWarnings() {
  std::vector<std::string> taken;
  taken.swap(warnings_);
  return taken;
}

// Reads until a chunk is cut, and parses it.
bool FastaStream::NextChunk() {
  while (next_chunk_ == chunks_.size()) {
    if (finished_) return false;
    chunks_.clear();
    next_chunk_ = 0;
    const size_t got = source_.Read(cutter_.Room(buffer_size_), buffer_size_);
    if (got > 0) {
      cutter_.Commit(got, chunks_);
    } else {
      cutter_.Finish(source_.error(), chunks_);
      finished_ = true;
    }
  }
  const TextChunk& chunk = chunks_[next_chunk_++];
  entries_.clear();
  next_entry_ = 0;
  ChunkFacts facts;
  ParseChunk(chunk, source_.decompressed(), entries_, facts);
  const bool taken = ledger_.Take(
      chunk, facts, entries_.size(),
      [this](size_t i) -> const ProteinEntry& { return entries_[i]; }, warnings_);
  if (taken) return true;
  error_ = ledger_.error();
  entries_.clear();
  chunks_.clear();
  finished_ = true;
  return false;
}

bool FastaStream::Next(ProteinEntry& entry) {
  while (next_entry_ == entries_.size()) {
    if (!error_.empty() || !NextChunk()) return false;
  }
  entry = std::move(entries_[next_entry_++]);
  return true;
}

}  // namespace talvo::proteome
