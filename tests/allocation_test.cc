// Nothing is allocated inside the descent loop: the heap is counted through
// a replaced global operator new, and a long run must allocate exactly as
// often as a short one.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <new>
#include <sstream>

#include "identify/identify_matrix.h"
#include "model/exact_model.h"
#include "model/grid_model.h"

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

// Three components, two of them observed (one twice), a fixed and a bounded
// entry, a source on every component; data that no matrix fits exactly.
struct Case {
  Case() {
    problem.dim = 3;
    problem.T = 2.0;
    problem.opt_par = 1e-3;
    problem.init_val = {1.0, 0.5, 0.0};
    problem.exp_coef = {0.1, 0.0, 0.2};
    problem.exp_par = {-0.5, 0.0, 0.3};
    problem.fix_par_num = {{0, 2}};
    problem.fix_par_val = {0.25};
    problem.par_borders_num = {{1, 1}};
    problem.par_borders_val = {{-1.0, 0.0}};
    obs.data_num = 3;
    obs.is_data_exist = {0, 2, 0};
    obs.data_dim = {5, 5, 5};
    obs.data_time = Table(3, 5);
    obs.add_data = Table(3, 5);
    for (int k = 0; k < 3; ++k) {
      obs.add_data[k][0] = problem.init_val[obs.is_data_exist[k]];
      for (int n = 1; n < 5; ++n) {
        obs.data_time[k][n] = 0.45 * n + 0.05 * k;
        obs.add_data[k][n] = 0.3 * n - 0.2 * k + 0.1;
      }
    }
  }
  ProblemRecord problem;
  ObservationRecord obs;
};

long allocations_of_run(Model& model, const Case& c, std::int64_t iterations) {
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

TEST(Allocation, DescentLoopAllocatesNothingPerIteration) {
  Case c;
  {
    GridModel model(c.problem, c.obs);
    EXPECT_GT(allocations_of_run(model, c, 1), 0);  // the counter counts
    EXPECT_EQ(allocations_of_run(model, c, 2), allocations_of_run(model, c, 40));
  }
  {
    GridModel model(c.problem, c.obs, Kernels::kPlain);
    EXPECT_EQ(allocations_of_run(model, c, 2), allocations_of_run(model, c, 40));
  }
  {
    ExactModel model(c.problem, c.obs);
    EXPECT_EQ(allocations_of_run(model, c, 2), allocations_of_run(model, c, 40));
  }
}

}  // namespace
}  // namespace identify
