#include "proteome/region_lengths.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <memory>
#include <queue>
#include <tuple>

#include "proteome/errors.h"
#include "proteome/row_spool.h"

namespace talvo::proteome {
namespace {

constexpr char kRegionsFile[] = "the temporary file of GFF3 regions";

[[noreturn]] void Fail(const std::string& what) {
  ThrowSystemError(what + " " + kRegionsFile);
}

// Records sorted in memory at a time: at most this many, and of IDs of at
// most this many bytes in all.
constexpr size_t kRunRecords = 1 << 13;
constexpr size_t kFanIn = 64;  // sorted runs merged at a time
constexpr size_t kRunBytes = 1 << 20;
constexpr size_t kReadBuffer = 4 << 10;  // per sorted run while merging

bool WriteRecord(FILE* file, const std::string& id, int64_t length, uint64_t ordinal) {
  const uint32_t size = static_cast<uint32_t>(id.size());
  return fwrite(&size, sizeof size, 1, file) == 1 &&
         fwrite(id.data(), 1, id.size(), file) == id.size() &&
         fwrite(&length, sizeof length, 1, file) == 1 &&
         fwrite(&ordinal, sizeof ordinal, 1, file) == 1;
}

// Reads records from a FILE, or from a byte range of a file descriptor.
class RecordReader {
 public:
  explicit RecordReader(FILE* file) : file_(file) {}
  RecordReader(int fd, uint64_t begin, uint64_t end)
      : fd_(fd), offset_(begin), end_(end), buffer_(kReadBuffer) {}

  // False at the end; sets failed() when the bytes are not whole records.
  template <class Record>
  bool Next(Record& record) {
    uint32_t size = 0;
    if (!Read(&size, sizeof size)) return false;
    record.id.resize(size);
    failed_ = !Read(record.id.data(), size) || !Read(&record.length, sizeof record.length) ||
              !Read(&record.ordinal, sizeof record.ordinal);
    return !failed_;
  }
  bool failed() const { return failed_; }

 private:
  bool Read(void* data, size_t size) {
    if (file_ != nullptr) return size == 0 || fread(data, 1, size, file_) == size;
    char* out = static_cast<char*>(data);
    while (size > 0) {
      if (pos_ == held_) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(buffer_.size(), end_ - offset_));
        const ssize_t got = want == 0 ? 0 : pread(fd_, buffer_.data(), want, offset_);
        if (got <= 0) return false;
        offset_ += static_cast<uint64_t>(got);
        pos_ = 0;
        held_ = static_cast<size_t>(got);
      }
      const size_t take = std::min(size, held_ - pos_);
      memcpy(out, buffer_.data() + pos_, take);
      out += take;
      pos_ += take;
      size -= take;
    }
    return true;
  }

  FILE* file_ = nullptr;
  int fd_ = -1;
  uint64_t offset_ = 0, end_ = 0;
  std::vector<char> buffer_;
  size_t pos_ = 0, held_ = 0;
  bool failed_ = false;
};

// Takes the records sorted by ID (then ordinal) and writes each ordinal's
// entry of the table: -1 for all but the first of an ID, whose entry is the
// longest length of its ID.
class GroupWriter {
 public:
  explicit GroupWriter(int fd) : fd_(fd) {}
  template <class Record>
  bool Take(const Record& record) {
    if (open_ && record.id == id_) {
      longest_ = std::max(longest_, record.length);
      return Put(record.ordinal, -1);
    }
    const bool ok = Close();
    open_ = true;
    id_ = record.id;
    first_ = record.ordinal;
    longest_ = record.length;
    return ok;
  }
  bool Close() { return !open_ || Put(first_, longest_); }

 private:
  bool Put(uint64_t ordinal, int64_t value) {
    return pwrite(fd_, &value, sizeof value, static_cast<off_t>(ordinal * sizeof value)) ==
           static_cast<ssize_t>(sizeof value);
  }
  int fd_;
  bool open_ = false;
  std::string id_;
  uint64_t first_ = 0;
  int64_t longest_ = 0;
};

}  // namespace

RegionLengths::~RegionLengths() {
  for (FILE* file : {records_, runs_, table_}) {
    if (file != nullptr) fclose(file);
  }
}

void RegionLengths::Open() {
  records_ = OpenTemporaryFile(kRegionsFile);
}

void RegionLengths::Add(const std::string& id, long length) {
  if (!WriteRecord(records_, id, length, count_++)) Fail("error writing");
}

// Sorted runs of the records, each at most kRunBytes in memory; with a single
// run the table is made straight from memory.
void RegionLengths::WriteRuns(std::vector<Run>& runs) {
  if (fflush(records_) != 0 || fseek(records_, 0, SEEK_SET) != 0) Fail("error reading");
  RecordReader reader(records_);
  std::vector<Record> batch;
  batch.reserve(kRunRecords);
  for (bool more = true; more;) {
    size_t bytes = 0;
    batch.clear();
    Record record;
    while (bytes < kRunBytes && batch.size() < kRunRecords && (more = reader.Next(record))) {
      bytes += record.id.size();
      batch.push_back(std::move(record));
    }
    if (reader.failed() || ferror(records_)) Fail("error reading");
    std::sort(batch.begin(), batch.end(), [](const Record& a, const Record& b) {
      return std::tie(a.id, a.ordinal) < std::tie(b.id, b.ordinal);
    });
    if (!more && runs.empty()) {  // everything fit in memory
      GroupWriter groups(fileno(table_));
      for (const Record& r : batch) {
        if (!groups.Take(r)) Fail("error writing");
      }
      if (!groups.Close()) Fail("error writing");
      return;
    }
    Run run;
    run.begin = runs.empty() ? 0 : runs.back().end;
    for (const Record& r : batch) {
      if (!WriteRecord(runs_, r.id, r.length, r.ordinal)) Fail("error writing");
      run.end += sizeof(uint32_t) + r.id.size() + 2 * sizeof(int64_t);
    }
    run.end += run.begin;
    runs.push_back(run);
  }
  if (fflush(runs_) != 0) Fail("error writing");
}

void RegionLengths::MergeRange(const Run* first, const Run* last,
                               const std::function<bool(const Record&)>& take) {
  const size_t count = static_cast<size_t>(last - first);
  std::vector<RecordReader> readers;
  std::vector<Record> heads(count);
  readers.reserve(count);
  for (const Run* run = first; run != last; ++run) {
    readers.emplace_back(fileno(runs_), run->begin, run->end);
  }
  const auto later = [&heads](size_t a, size_t b) {
    return std::tie(heads[a].id, heads[a].ordinal) > std::tie(heads[b].id, heads[b].ordinal);
  };
  std::priority_queue<size_t, std::vector<size_t>, decltype(later)> queue(later);
  for (size_t i = 0; i < count; i++) {
    if (readers[i].Next(heads[i])) queue.push(i);
  }
  while (!queue.empty()) {
    const size_t i = queue.top();
    queue.pop();
    if (!take(heads[i])) Fail("error writing");
    if (readers[i].Next(heads[i])) queue.push(i);
    if (readers[i].failed()) Fail("error reading");
  }
}

// Merges kFanIn runs at a time into longer runs until at most kFanIn are
// left, then those into the table.
void RegionLengths::MergeRuns(std::vector<Run>& runs) {
  while (runs.size() > kFanIn) {
    std::unique_ptr<FILE, int (*)(FILE*)> next(OpenTemporaryFile(kRegionsFile), fclose);
    std::vector<Run> merged;
    for (size_t i = 0; i < runs.size(); i += kFanIn) {
      Run run;
      run.begin = run.end = merged.empty() ? 0 : merged.back().end;
      const auto write = [&](const Record& r) {
        run.end += sizeof(uint32_t) + r.id.size() + 2 * sizeof(int64_t);
        return WriteRecord(next.get(), r.id, r.length, r.ordinal);
      };
      MergeRange(&runs[i], &runs[std::min(i + kFanIn, runs.size())], write);
      merged.push_back(run);
    }
    fclose(runs_);
    runs_ = next.release();
    runs = std::move(merged);
    if (fflush(runs_) != 0) Fail("error writing");
  }
  GroupWriter groups(fileno(table_));
  MergeRange(runs.data(), runs.data() + runs.size(),
             [&groups](const Record& r) { return groups.Take(r); });
  if (!groups.Close()) Fail("error writing");
}

void RegionLengths::Finish() {
  table_ = OpenTemporaryFile(kRegionsFile);
  std::vector<Run> runs;
  if (count_ > 0) {
    runs_ = OpenTemporaryFile(kRegionsFile);
    WriteRuns(runs);
    if (!runs.empty()) MergeRuns(runs);
  }
  if (fseek(table_, 0, SEEK_SET) != 0) Fail("error reading");
}

long RegionLengths::Next() {
  int64_t value = 0;
  if (fread(&value, sizeof value, 1, table_) != 1) Fail("error reading");
  return static_cast<long>(value);
}

}  // namespace talvo::proteome
