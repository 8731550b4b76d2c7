// Nothing is allocated inside the descent loop: the heap is counted through
// a replaced global operator new (heap_counter.h), and a long run must
// allocate exactly as often as a short one.
#include <gtest/gtest.h>

#include <initializer_list>
#include <sstream>

#include "fit/descent.h"
#include "heap_counter.h"
#include "model/exact/exact_model.h"
#include "model/grid/grid_model.h"
#include "test_problems.h"

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
  const long before = testing::heap_allocations();
  const IdentifyResult r =
      identify_matrix(c.problem, c.obs, model, A, stop, out);
  const long used = testing::heap_allocations() - before;
  EXPECT_EQ(r.iterations, iterations);
  return used;
}

// Three components, several series on one of them, fixed and bounded
// entries, sources, and noisy data that no matrix fits exactly.
TEST(Allocation, DescentLoopAllocatesNothingPerIteration) {
  const testing::RandomCase c(3, testing::Layout::kSharedComponent, 1);
  GridModel fast(c.problem, c.obs), plain(c.problem, c.obs, Kernels::kPlain);
  ExactModel exact(c.problem, c.obs);
  EXPECT_GT(allocations_of_run(fast, c, 1), 0);  // the counter counts
  for (MatrixModel* model :
       std::initializer_list<MatrixModel*>{&fast, &plain, &exact}) {
    EXPECT_EQ(allocations_of_run(*model, c, 2),
              allocations_of_run(*model, c, 40));
  }
}

}  // namespace
}  // namespace identify
