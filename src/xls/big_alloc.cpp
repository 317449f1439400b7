#include "xls/big_alloc.h"

#include <sys/mman.h>

#include <cstdint>

namespace migrator::xls {
namespace {

constexpr size_t kHuge = size_t{2} << 20;

size_t RoundUp(size_t bytes) {
  return (bytes + kHuge - 1) & ~(kHuge - 1);
}

}  // namespace

void* BigAllocate(size_t bytes) {
  if (bytes == 0 || bytes > (size_t{1} << 40)) return nullptr;
  size_t size = RoundUp(bytes);
  // Map 2 MB more than needed and trim, so that the block starts on a 2 MB
  // boundary where a huge page can back it.
  void* raw =
      mmap(nullptr, size + kHuge, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (raw == MAP_FAILED) return nullptr;
  uintptr_t start = reinterpret_cast<uintptr_t>(raw);
  uintptr_t aligned = (start + kHuge - 1) & ~(kHuge - 1);
  if (aligned > start) munmap(raw, aligned - start);
  size_t tail = (start + size + kHuge) - (aligned + size);
  if (tail > 0) munmap(reinterpret_cast<void*>(aligned + size), tail);
  void* p = reinterpret_cast<void*>(aligned);
  madvise(p, size, MADV_HUGEPAGE);  // advice only; ordinary pages when refused
  return p;
}

void BigFree(void* p, size_t bytes) {
  if (p) munmap(p, RoundUp(bytes));
}

}  // namespace migrator::xls
