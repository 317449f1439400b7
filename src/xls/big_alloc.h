#pragma once
// Memory for the engine's large buffers (the output stream, the text pool,
// the string tables): whole mappings aligned to 2 MB and advised for huge
// pages, so that filling them costs a page fault per 2 MB instead of per 4 KB.
// Small requests go to the ordinary allocator.

#include <cstddef>
#include <memory>
#include <new>
#include <utility>

namespace migrator::xls {

constexpr size_t kBigAllocation = size_t{1} << 20;

// nullptr when the memory cannot be had.
void* BigAllocate(size_t bytes);
void BigFree(void* p, size_t bytes);

template <class T>
struct BigAlloc {
  using value_type = T;
  BigAlloc() = default;
  template <class U>
  BigAlloc(const BigAlloc<U>&) {}  // NOLINT: rebinding
  T* allocate(size_t n) {
    size_t bytes = n * sizeof(T);
    if (bytes < kBigAllocation) return std::allocator<T>().allocate(n);
    void* p = BigAllocate(bytes);
    if (!p) throw std::bad_alloc();
    return static_cast<T*>(p);
  }
  void deallocate(T* p, size_t n) {
    size_t bytes = n * sizeof(T);
    if (bytes < kBigAllocation)
      std::allocator<T>().deallocate(p, n);
    else
      BigFree(p, bytes);
  }
  template <class U>
  bool operator==(const BigAlloc<U>&) const {
    return true;
  }
};

// The same, leaving new elements uninitialised on resize().
template <class T>
struct BigUninitAlloc : BigAlloc<T> {
  using value_type = T;
  BigUninitAlloc() = default;
  template <class U>
  BigUninitAlloc(const BigUninitAlloc<U>&) {}  // NOLINT: rebinding
  template <class U>
  struct rebind {
    using other = BigUninitAlloc<U>;
  };
  template <class U>
  void construct(U* p) noexcept {
    ::new (static_cast<void*>(p)) U;
  }
  template <class U, class... A>
  void construct(U* p, A&&... a) {
    ::new (static_cast<void*>(p)) U(std::forward<A>(a)...);
  }
};

}  // namespace migrator::xls
