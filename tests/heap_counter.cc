// Replaced global operator new and delete that count allocations and track
// the bytes in use and their peak (see heap_counter.h).
#include "heap_counter.h"

#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace identify::testing {
namespace {

std::atomic<long> g_allocations{0};
std::atomic<std::size_t> g_in_use{0};
std::atomic<std::size_t> g_peak{0};

void* counted(std::size_t size, std::size_t align) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (size == 0) size = 1;
  void* p = align <= alignof(std::max_align_t)
                ? std::malloc(size)
                : std::aligned_alloc(align, (size + align - 1) / align * align);
  if (p == nullptr) throw std::bad_alloc();
  const std::size_t now =
      g_in_use.fetch_add(malloc_usable_size(p), std::memory_order_relaxed) +
      malloc_usable_size(p);
  std::size_t peak = g_peak.load(std::memory_order_relaxed);
  while (now > peak && !g_peak.compare_exchange_weak(peak, now)) {
  }
  return p;
}

void released(void* p) {
  if (p == nullptr) return;
  g_in_use.fetch_sub(malloc_usable_size(p), std::memory_order_relaxed);
  std::free(p);
}

}  // namespace

long heap_allocations() { return g_allocations.load(); }
std::size_t heap_bytes_in_use() { return g_in_use.load(); }
std::size_t heap_peak_bytes() { return g_peak.load(); }
void reset_heap_peak() { g_peak.store(g_in_use.load()); }

}  // namespace identify::testing

using identify::testing::counted;
using identify::testing::released;

void* operator new(std::size_t size) { return counted(size, 0); }
void* operator new[](std::size_t size) { return counted(size, 0); }
void* operator new(std::size_t size, std::align_val_t a) {
  return counted(size, static_cast<std::size_t>(a));
}
void* operator new[](std::size_t size, std::align_val_t a) {
  return counted(size, static_cast<std::size_t>(a));
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  try {
    return counted(size, 0);
  } catch (const std::bad_alloc&) {
    return nullptr;
  }
}
void* operator new[](std::size_t size, const std::nothrow_t& tag) noexcept {
  return operator new(size, tag);
}
void operator delete(void* p, const std::nothrow_t&) noexcept { released(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept { released(p); }
void operator delete(void* p) noexcept { released(p); }
void operator delete[](void* p) noexcept { released(p); }
void operator delete(void* p, std::size_t) noexcept { released(p); }
void operator delete[](void* p, std::size_t) noexcept { released(p); }
void operator delete(void* p, std::align_val_t) noexcept { released(p); }
void operator delete[](void* p, std::align_val_t) noexcept { released(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
  released(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
  released(p);
}
