// Nothing is allocated inside the descent loop: the heap is counted through
// a replaced global operator new (heap_counter.h), and a long run must
// allocate exactly as often as a short one. The same for the calls of the model
// on θ, where malloc itself is counted as well.
#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <initializer_list>
#include <sstream>

#include "fit/method.h"
#include "heap_counter.h"
#include "input/legacy_problem.h"
#include "model/exact/exact_model.h"
#include "model/grid/grid_model.h"
#include "test_problems.h"

namespace {
std::atomic<long> g_mallocs{0};
}  // namespace

// Eigen takes its storage from malloc, past operator new. Outside the
// address and thread sanitizers (which own malloc) malloc and its relatives
// are replaced too, counted and handed to glibc's own allocator.
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kMallocCounted = false;
#else
constexpr bool kMallocCounted = true;
extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* p, std::size_t size);
void* __libc_memalign(std::size_t align, std::size_t size);
void __libc_free(void* p);

void* malloc(std::size_t size) noexcept {
  g_mallocs.fetch_add(1, std::memory_order_relaxed);
  return __libc_malloc(size);
}
void* calloc(std::size_t count, std::size_t size) noexcept {
  g_mallocs.fetch_add(1, std::memory_order_relaxed);
  return __libc_calloc(count, size);
}
void* realloc(void* p, std::size_t size) noexcept {
  g_mallocs.fetch_add(1, std::memory_order_relaxed);
  return __libc_realloc(p, size);
}
void* aligned_alloc(std::size_t align, std::size_t size) noexcept {
  g_mallocs.fetch_add(1, std::memory_order_relaxed);
  return __libc_memalign(align, size);
}
int posix_memalign(void** out, std::size_t align, std::size_t size) noexcept {
  g_mallocs.fetch_add(1, std::memory_order_relaxed);
  void* p = __libc_memalign(align, size);
  if (p == nullptr) return ENOMEM;
  *out = p;
  return 0;
}
void free(void* p) noexcept { __libc_free(p); }
}
#endif

namespace identify {
namespace {

long allocations_of_run(Model& model, const testing::RandomCase& c,
                        std::int64_t iterations) {
  LegacyProblem legacy = legacy_problem(c.problem, c.obs);
  legacy.descent.start = testing::theta_of(c.start);
  const DescentSetup descent{legacy.descent, c.problem.opt_par};
  MonitorSettings settings;
  settings.max_iter = iterations;
  settings.quiet = true;
  // A small trace, so that it thins itself out during the run.
  NormTrace trace(8);
  settings.trace = &trace;
  std::ostringstream out;
  Monitor monitor(settings, out, c.fit.parameters.size());
  const long before = testing::heap_allocations();
  const Summary r =
      solve(Method::kDescent, c.fit, model, descent, monitor, out);
  const long used = testing::heap_allocations() - before;
  EXPECT_EQ(r.iterations, iterations);
  return used;
}

// Three components, several series on one of them, fixed and bounded
// entries, sources, and noisy data that no matrix fits exactly.
TEST(Allocation, DescentLoopAllocatesNothingPerIteration) {
  const testing::RandomCase c(3, testing::Layout::kSharedComponent, 1);
  GridModel fast(c.fit), plain(c.fit, Kernels::kPlain);
  ExactModel exact(c.fit);
  EXPECT_GT(allocations_of_run(fast, c, 1), 0);  // the counter counts
  for (Model* model : std::initializer_list<Model*>{&fast, &plain, &exact}) {
    EXPECT_EQ(allocations_of_run(*model, c, 2),
              allocations_of_run(*model, c, 40));
  }
}

// The model on θ: once the Evaluation, the Jacobian and the gradient have
// their shapes, evaluate(), jacobian() and gradient() allocate nothing, at
// any θ and for any earlier Evaluation. Three problems: the random one on θ
// (three experiments of different augmented sizes), the random one with
// doses and lags (repeated intervals, whose exponentials and directional
// derivatives are kept) and legacy records of eight states posed with one
// parameter per free entry.
TEST(Allocation, ExactModelAllocatesNothingPerCall) {
  const testing::RandomCase legacy(8, testing::Layout::kFewSeries, 4);
  for (const FitProblem& problem :
       {testing::random_fit_problem(2), testing::random_dosed_problem(3),
        testing::pose_records(legacy.problem, legacy.obs, legacy.start)
            .problem}) {
    ExactModel model(problem);
    const std::vector<double> theta1 = problem.values();
    std::vector<double> theta2 = theta1;
    for (double& v : theta2) v *= 1.01;
    std::vector<double> w(problem.measurement_count(), 0.5);
    std::vector<double> g(theta1.size());
    Evaluation at1, at2;
    Table J;
    model.evaluate(theta1, at1);
    model.evaluate(theta2, at2);
    model.jacobian(at1, J);
    model.gradient(at1, w, g);
    const long before = testing::heap_allocations(), mallocs = g_mallocs.load();
    for (int round = 0; round < 3; ++round) {
      model.evaluate(theta2, at2);
      model.evaluate(theta1, at1);
      model.jacobian(at2, J);
      model.gradient(at1, w, g);
      model.jacobian(at1, J);
      model.gradient(at2, w, g);
    }
    EXPECT_EQ(testing::heap_allocations() - before, 0);
    if (kMallocCounted) {
      EXPECT_EQ(g_mallocs.load() - mallocs, 0);
    }
  }
}

}  // namespace
}  // namespace identify
