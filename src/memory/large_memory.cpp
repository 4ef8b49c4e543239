#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "talvo/memory.h"

#if defined(__linux__) && !defined(__EMSCRIPTEN__)
#include <sys/mman.h>
#endif

namespace talvo::internal {

namespace {

constexpr size_t kHugePage = size_t{2} << 20;
// From this size up, a huge page's worth of memory is cheaper to fill than
// the small pages' faults, though part of it stays unused.
constexpr size_t kLarge = size_t{256} << 10;

size_t RoundedUp(size_t bytes) {
  return (bytes + kHugePage - 1) & ~(kHugePage - 1);
}

}  // namespace

size_t GrownTableSlots(size_t slots, size_t slot_bytes) noexcept {
  size_t grown = 2 * slots;
  const size_t room = LargeCapacity(grown * slot_bytes) / slot_bytes;
  while (2 * grown <= room) grown *= 2;
  return grown;
}

#if defined(__linux__) && !defined(__EMSCRIPTEN__) && defined(MADV_HUGEPAGE)

size_t LargeCapacity(size_t bytes) noexcept {
  return bytes < kLarge || bytes > SIZE_MAX - 2 * kHugePage ? bytes : RoundedUp(bytes);
}

// The mapping is made one huge page longer than needed and trimmed to start
// on a huge page's boundary, since only aligned huge pages can back it.
void* AllocateLarge(size_t bytes) {
  if (bytes < kLarge) return ::operator new(bytes);
  if (bytes > SIZE_MAX - 2 * kHugePage) throw std::bad_alloc();
  const size_t size = RoundedUp(bytes);
  void* mapped =
      mmap(nullptr, size + kHugePage, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapped == MAP_FAILED) throw std::bad_alloc();
  const uintptr_t start = reinterpret_cast<uintptr_t>(mapped);
  const uintptr_t aligned = (start + kHugePage - 1) & ~(kHugePage - 1);
  if (aligned > start) munmap(mapped, aligned - start);
  const uintptr_t end = aligned + size, mapped_end = start + size + kHugePage;
  if (mapped_end > end) munmap(reinterpret_cast<void*>(end), mapped_end - end);
  // Only advice: without huge pages the memory serves as it is.
  madvise(reinterpret_cast<void*>(aligned), size, MADV_HUGEPAGE);
  return reinterpret_cast<void*>(aligned);
}

void FreeLarge(void* memory, size_t bytes) noexcept {
  if (memory == nullptr) return;
  if (bytes < kLarge) return ::operator delete(memory);
  munmap(memory, RoundedUp(bytes));
}

#else

size_t LargeCapacity(size_t bytes) noexcept {
  return bytes;
}
void* AllocateLarge(size_t bytes) {
  return ::operator new(bytes);
}
void FreeLarge(void* memory, size_t) noexcept {
  ::operator delete(memory);
}

#endif

#if defined(__linux__) && !defined(__EMSCRIPTEN__) && defined(MADV_HUGEPAGE) && defined(__GLIBC__)

namespace {

// A thread arena's heap: a mapping aligned to its reserved size, of which
// the part in use is writable and the rest, just above it, reserved.
constexpr uintptr_t kThreadHeapReserve = uintptr_t{64} << 20;
#ifdef MADV_COLLAPSE
constexpr int kCollapse = MADV_COLLAPSE;
#else
constexpr int kCollapse = 25;  // the kernel's value, unknown to older C libraries
#endif

// The anonymous mappings that begin at the aligned start of the mapping
// holding `address` and follow it without a gap, within one reservation:
// {start, end}, or {0, 0}.
std::pair<uintptr_t, uintptr_t> ThreadHeapMappings(uintptr_t address) {
  FILE* maps = std::fopen("/proc/self/maps", "re");
  if (maps == nullptr) return {0, 0};
  uintptr_t start = 0, end = 0;
  char line[512];
  bool line_start = true;
  while (std::fgets(line, sizeof line, maps) != nullptr) {
    // A long path comes in pieces: only a line's first piece is read.
    const bool was_line_start = line_start;
    line_start = std::strchr(line, '\n') != nullptr;
    if (!was_line_start) continue;
    unsigned long from = 0, to = 0;
    int path_at = 0;
    if (std::sscanf(line, "%lx-%lx %*s %*s %*s %*s %n", &from, &to, &path_at) != 2) continue;
    const bool anonymous = line[path_at] == '\0' || line[path_at] == '\n';
    if (start == 0) {
      if (from <= address && address < to && anonymous && from % kThreadHeapReserve == 0) {
        start = from;
        end = to;
      }
    } else if (from == end && anonymous && to <= start + kThreadHeapReserve) {
      end = to;
    } else if (from >= end) {
      break;
    }
  }
  std::fclose(maps);
  return {start, end};
}

}  // namespace

// The reserved part is advised too: as the heap grows into it, the new pages
// keep the advice. The main heap (brk) is not aligned so, and is left alone.
void AdviseHugePagesForThreadHeap() noexcept {
  void* probe = std::malloc(1);
  if (probe == nullptr) return;
  const uintptr_t address = reinterpret_cast<uintptr_t>(probe);
  std::free(probe);
  const auto [start, end] = ThreadHeapMappings(address);
  if (start == 0) return;
  void* const heap = reinterpret_cast<void*>(start);
  if (madvise(heap, end - start, MADV_HUGEPAGE) != 0) return;
  // The heap's first pages, touched before the advice, keep its first 2 MiB
  // on small pages unless collapsed into a huge page now (Linux 6.1 on; an
  // older kernel refuses, and those pages stay small).
  if (end - start >= kHugePage) madvise(heap, kHugePage, kCollapse);
}

#else

void AdviseHugePagesForThreadHeap() noexcept {}

#endif

}  // namespace talvo::internal
