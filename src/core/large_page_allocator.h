// An allocator for the large dense blocks of a fit (Jacobians of tens to
// hundreds of megabytes): a block of at least kLargePageBytes starts on a
// 2 MiB boundary and asks the kernel for transparent huge pages
// (madvise(MADV_HUGEPAGE), honoured where the system leaves huge pages to
// the program's choice), so that first touching it faults once per 2 MiB
// instead of once per 4 KiB. Smaller blocks come from operator new as
// usual. The contents are whatever the container puts there; only where
// the memory comes from differs.
#pragma once

#include <sys/mman.h>

#include <cstddef>
#include <cstdlib>
#include <new>
#include <vector>

namespace identify {

inline constexpr std::size_t kLargePageBytes = std::size_t{4} << 20;
inline constexpr std::size_t kHugePage = std::size_t{2} << 20;

template <class T>
struct LargePageAllocator {
  using value_type = T;

  LargePageAllocator() = default;
  template <class U>
  LargePageAllocator(const LargePageAllocator<U>&) {}

  T* allocate(std::size_t n) {
    if (n > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_alloc();
    const std::size_t bytes = n * sizeof(T);
    if (bytes < kLargePageBytes) {
      return static_cast<T*>(::operator new(bytes));
    }
    const std::size_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    void* p = std::aligned_alloc(kHugePage, rounded);
    if (p == nullptr) throw std::bad_alloc();
    madvise(p, rounded, MADV_HUGEPAGE);  // advice only: failure is harmless
    return static_cast<T*>(p);
  }

  void deallocate(T* p, std::size_t n) {
    if (n * sizeof(T) < kLargePageBytes) {
      ::operator delete(p);
    } else {
      std::free(p);
    }
  }

  template <class U>
  bool operator==(const LargePageAllocator<U>&) const {
    return true;
  }
};

// Doubles in such blocks.
using LargeBuffer = std::vector<double, LargePageAllocator<double>>;

}  // namespace identify
