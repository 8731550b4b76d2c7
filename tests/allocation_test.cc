// Nothing is allocated inside the descent loop: the heap is counted through
// a replaced global operator new, and a long run must allocate exactly as
// often as a short one.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <initializer_list>
#include <new>
#include <sstream>

#include "fit/descent.h"
#include "model/exact/exact_matrix_model.h"
#include "model/grid/grid_model.h"
#include "test_problems.h"

namespace {
std::atomic<long> g_allocations{0};

void* counted(std::size_t size, std::size_t align) {
  g_allocations.fetch_add(1, std::memory_order_relaxed);
  if (size == 0) size = 1;
  void* p = align <= alignof(std::max_align_t)
                ? std::malloc(size)
                : std::aligned_alloc(align, (size + align - 1) / align * align);
  if (p == nullptr) throw std::bad_alloc();
  return p;
}
}  // namespace

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
void operator delete(void* p, const std::nothrow_t&) noexcept { std::free(p); }
void operator delete[](void* p, const std::nothrow_t&) noexcept {
  std::free(p);
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, std::size_t) noexcept { std::free(p); }
void operator delete[](void* p, std::size_t) noexcept { std::free(p); }
void operator delete(void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete[](void* p, std::align_val_t) noexcept { std::free(p); }
void operator delete(void* p, std::size_t, std::align_val_t) noexcept {
  std::free(p);
}
void operator delete[](void* p, std::size_t, std::align_val_t) noexcept {
  std::free(p);
}

namespace identify {
namespace {

long allocations_of_run(MatrixModel& model, const testing::RandomCase& c,
                        std::int64_t iterations) {
  StopSettings stop;
  stop.max_iter = iterations;
  stop.quiet = true;
  // A small trace, so that it thins itself out during the run.
  NormTrace trace(8);
  stop.trace = &trace;
  std::ostringstream out;
  Matrix A = make_matrix(c.problem.dim);
  const long before = g_allocations.load();
  const IdentifyResult r =
      identify_matrix(c.problem, c.obs, model, A, stop, out);
  const long used = g_allocations.load() - before;
  EXPECT_EQ(r.iterations, iterations);
  return used;
}

// Three components, several series on one of them, fixed and bounded
// entries, sources, and noisy data that no matrix fits exactly.
TEST(Allocation, DescentLoopAllocatesNothingPerIteration) {
  const testing::RandomCase c(3, testing::Layout::kSharedComponent, 1);
  GridModel fast(c.problem, c.obs), plain(c.problem, c.obs, Kernels::kPlain);
  ExactMatrixModel exact(c.problem, c.obs);
  EXPECT_GT(allocations_of_run(fast, c, 1), 0);  // the counter counts
  for (MatrixModel* model :
       std::initializer_list<MatrixModel*>{&fast, &plain, &exact}) {
    EXPECT_EQ(allocations_of_run(*model, c, 2),
              allocations_of_run(*model, c, 40));
  }
}

}  // namespace
}  // namespace identify
