#include <cstdint>
#include <new>

#include "talvo/proteome.h"

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

#if defined(__linux__) && !defined(__EMSCRIPTEN__) && defined(MADV_HUGEPAGE)

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

void* AllocateLarge(size_t bytes) {
  return ::operator new(bytes);
}
void FreeLarge(void* memory, size_t) noexcept {
  ::operator delete(memory);
}

#endif

}  // namespace talvo::internal
