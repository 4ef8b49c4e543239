#include <cstddef>
#include <cstdint>
#include <vector>

#include "detect/detect.h"

namespace talvo::internal {

namespace {

// The separation test in 64 bits: start - E overflows 32 bits for E near
// INT_MIN or INT_MAX.
bool WithinSeparation(const FRAGMENT& next, const FRAGMENT& current, int E) {
  return int64_t{next.start} - E <= int64_t{current.end};
}

bool StartsAscending(const FragmentList& list) {
  for (std::size_t i = 1; i < list.size(); i++) {
    if (list[i].start < list[i - 1].start) return false;
  }
  return true;
}

// With ascending starts, the fragments a current fragment absorbs are exactly
// the ones directly behind it, up to the first that lies beyond its growing
// end: a later fragment starts no earlier, so it cannot qualify either.
void JoinAscending(FragmentList& list, int E) {
  std::size_t kept = 0;
  std::size_t i = 0;
  while (i < list.size()) {
    FRAGMENT current = list[i];
    std::size_t next = i + 1;
    while (next < list.size() && WithinSeparation(list[next], current, E)) {
      if (list[next].end > current.end) current.end = list[next].end;
      next++;
    }
    list[kept++] = current;
    i = next;
  }
  list.resize(kept);
}

// Any order: each current fragment keeps absorbing qualifying fragments behind
// it until none is left; the absorbed set does not depend on the order.
void JoinAnyOrder(FragmentList& list, int E) {
  std::vector<char> removed(list.size(), 0);
  for (std::size_t c = 0; c < list.size(); c++) {
    if (removed[c]) continue;
    bool absorbed = true;
    while (absorbed) {
      absorbed = false;
      for (std::size_t j = c + 1; j < list.size(); j++) {
        if (removed[j] || !WithinSeparation(list[j], list[c], E)) continue;
        if (list[j].end > list[c].end) list[c].end = list[j].end;
        removed[j] = 1;
        absorbed = true;
      }
    }
  }
  std::size_t kept = 0;
  for (std::size_t i = 0; i < list.size(); i++) {
    if (!removed[i]) list[kept++] = list[i];
  }
  list.resize(kept);
}

// Number of '1' in s[0..pos-1] for positions requested in ascending order;
// counts each character once over a whole pass.
class OnesBefore {
 public:
  explicit OnesBefore(const char* s) : s_(s) {}
  int64_t position() const { return pos_; }
  int64_t At(int64_t pos) {
    for (; pos_ < pos; pos_++) count_ += (s_[pos_] == '1');
    return count_;
  }

 private:
  const char* s_;
  int64_t pos_ = 0;
  int64_t count_ = 0;
};

}  // namespace

int MergeSegmentsDiscrete(const char* s, FragmentList& list, int E) {
  const bool ascending = StartsAscending(list);
  if (ascending) {
    JoinAscending(list, E);
  } else {
    JoinAnyOrder(list, E);
  }
  OnesBefore before_start(s);
  OnesBefore through_end(s);
  int longest = 0;
  for (FRAGMENT& frag : list) {
    frag.length = frag.end - frag.start + 1;
    if (ascending && frag.end >= through_end.position()) {
      frag.n_special = static_cast<int>(through_end.At(frag.end) - before_start.At(frag.start - 1));
    } else {
      frag.n_special = ComputeN(s, frag.start - 1, frag.end - 1);
    }
    if (frag.length > longest) longest = frag.length;
  }
  return longest;
}

}  // namespace talvo::internal
