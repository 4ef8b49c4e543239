// GFF3 declares each seqid's region once, before its first feature, as long
// as the longest protein with that ID and features (IDs repeat when an input
// is given twice, say). Knowing that at a protein's first feature takes every
// later protein of the run, so the (ID, length) of each protein with features
// go to a temporary file, are sorted by ID on disk in runs of bounded size,
// and come back as one number per protein, in run order: the region's length
// for the first protein of an ID, -1 for a later one. Memory stays bounded
// (8,192 records sorted at a time, then at most 64 sorted runs merged at
// a time with 4 KB of buffer each).
#pragma once
#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

namespace talvo::proteome {

class RegionLengths {
 public:
  RegionLengths() = default;
  RegionLengths(const RegionLengths&) = delete;
  RegionLengths& operator=(const RegionLengths&) = delete;
  ~RegionLengths();

  // Each throws on a failure of its temporary files.
  void Open();
  // The next protein with features, in run order.
  void Add(const std::string& id, long length);
  // After the last Add: sorts and makes the table that Next reads.
  void Finish();
  // The next protein's region length, or -1 when its ID was declared before.
  long Next();

 private:
  struct Record {
    std::string id;
    int64_t length = 0;
    uint64_t ordinal = 0;
  };
  struct Run {
    uint64_t begin = 0, end = 0;  // bytes of the runs file
  };
  void WriteRuns(std::vector<Run>& runs);
  void MergeRange(const Run* first, const Run* last,
                  const std::function<bool(const Record&)>& take);
  void MergeRuns(std::vector<Run>& runs);

  FILE* records_ = nullptr;  // (ID, length) in run order
  FILE* runs_ = nullptr;     // the same, sorted by ID within each run
  FILE* table_ = nullptr;    // one int64 per protein, by ordinal
  uint64_t count_ = 0;
};

}  // namespace talvo::proteome
