// Memory that is cheap to fill where page faults are dear: large tables
// mapped apart on huge pages, and huge pages for the threads' own heaps.
#pragma once
#include <cstddef>

namespace talvo::internal {

// Memory for large tables and buffers. From 256 KiB up it is mapped apart in
// whole 2 MiB pages and asked to be backed by huge pages where the system
// offers them: filling it then takes one page fault per 2 MiB instead of one
// per 4 KiB, and faults are dear on virtual machines. Smaller sizes come
// from operator new.
void* AllocateLarge(size_t bytes);
void FreeLarge(void* memory, size_t bytes) noexcept;
// The bytes that AllocateLarge(bytes) maps and fills, of which the caller may
// use all: whole huge pages from 256 KiB up, else `bytes`.
size_t LargeCapacity(size_t bytes) noexcept;
// The next size of an open-addressing table of `slots` slots (a power of two)
// of `slot_bytes` each: twice as many, or the most that twice's memory holds,
// so that a table which outgrows a huge page does not fill a fresh one at
// every doubling.
size_t GrownTableSlots(size_t slots, size_t slot_bytes) noexcept;

// Asks that the calling thread's malloc heap be backed by huge pages as it
// grows, where the C library gives each thread's arena a heap of its own (a
// reserved, aligned mapping); elsewhere, and for the main heap, nothing.
// Only advice: no allocation changes. For programs that run threads which
// allocate much (the choice of the program, not of the library).
void AdviseHugePagesForThreadHeap() noexcept;

template <class T>
struct LargeAllocator {
  using value_type = T;
  LargeAllocator() = default;
  template <class U>
  LargeAllocator(const LargeAllocator<U>&) {}  // NOLINT: rebinding converts
  T* allocate(size_t n) { return static_cast<T*>(AllocateLarge(n * sizeof(T))); }
  void deallocate(T* memory, size_t n) noexcept { FreeLarge(memory, n * sizeof(T)); }
  template <class U>
  bool operator==(const LargeAllocator<U>&) const {
    return true;
  }
};

}  // namespace talvo::internal
