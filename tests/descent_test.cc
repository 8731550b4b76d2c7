// The descent loop: its console lines, the fixed and bounded entries, and the
// no-progress window.
#include "fit/descent.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>

#include "fit/run_monitor.h"
#include "model/grid/grid_model.h"
#include "test_problems.h"

namespace identify {
namespace {

using testing::bound_entry;
using testing::fix_entry;
using testing::make_observations;
using testing::make_problem;

// N = 1, T = 1, x0 = 1, amp = 0; one series with 0.6 at t = 0.5, 0.4 at 1.
struct ScalarCase {
  ScalarCase() {
    problem.T = 1.0;
    problem.opt_par = 0.1;
  }
  IdentifyResult run(Matrix& A, StopSettings stop = {}) {
    GridModel model(problem, obs);
    return identify_matrix(problem, obs, model, A, stop, console);
  }
  ProblemRecord problem = make_problem({1.0}, {0.0}, {0.0});
  ObservationRecord obs =
      make_observations(1, {0}, {{0.0, 0.5, 1.0}}, {{1.0, 0.6, 0.4}});
  std::ostringstream console;
};

TEST(IdentifyMatrix, ConsoleLines) {
  {  // The first line shows the misfit of the start matrix: sqrt(0.52).
    ScalarCase c;
    Matrix A = make_matrix(1);
    StopSettings stop;
    stop.max_iter = 2;
    const IdentifyResult r = c.run(A, stop);
    EXPECT_EQ(r.reason, StopReason::kIterationLimit);
    EXPECT_EQ(r.iterations, 2);
    EXPECT_EQ(c.console.str().rfind("0.72111:   COUNT = 0\n", 0), 0u);
    EXPECT_NE(
        c.console.str().find(":   COUNT = 1\n\n\nITERATION NUMBER = 2\n\n"),
        std::string::npos);
  }
  {  // A norm exactly equal to epsilon stops the loop before any line.
    ScalarCase c;
    c.obs.add_data[0][1] = 1.0;
    c.obs.add_data[0][2] = 4.0;  // residuals 0, 0, -3: norm exactly 3
    c.problem.epsilon = 3.0;
    Matrix A = make_matrix(1);
    EXPECT_EQ(c.run(A).reason, StopReason::kConverged);
    EXPECT_EQ(c.console.str(), "\n\nITERATION NUMBER = 0\n\n");
  }
}

TEST(IdentifyMatrix, FixedAndBoundedEntries) {
  ProblemRecord p = make_problem({0.0, 0.0}, {0.0, 0.0}, {0.0, 0.0});
  fix_entry(p, 0, 1, 0.5);
  fix_entry(p, 0, 1, 0.75);
  bound_entry(p, 1, 0, -1.0, 1.0);
  bound_entry(p, 1, 1, 2.0, 3.0);
  bound_entry(p, 0, 0, -1.0, 0.0);
  Matrix saved = make_matrix(2);
  saved[1][1] = 7.0;
  Matrix A = make_matrix(2);
  A[1][0] = 1.0;  // on the bound: inside
  A[1][1] = 3.5;  // outside: back to the saved value, not clamped
  A[0][0] = std::numeric_limits<double>::quiet_NaN();  // NaN stays
  apply_fixed_entries(p, A);
  restore_bounded_entries(p, saved, A);
  EXPECT_EQ(A[0][1], 0.75);  // the last mention wins
  EXPECT_EQ(A[1][0], 1.0);
  EXPECT_EQ(A[1][1], 7.0);
  EXPECT_TRUE(std::isnan(A[0][0]));
}

// Every step is put back, so the run stalls at once with A = 0: an entry
// fixed outside its bounds keeps its start value, and a bounded entry whose
// start lies outside its interval stays there until a step lands inside
// (the data want A < 0).
TEST(IdentifyMatrix, EntriesThatCannotMoveStallTheRun) {
  for (const bool fixed : {true, false}) {
    ScalarCase c;
    if (fixed) {
      fix_entry(c.problem, 0, 0, 5.0);
      bound_entry(c.problem, 0, 0, -1.0, 1.0);
    } else {
      bound_entry(c.problem, 0, 0, 0.5, 1.0);
    }
    Matrix A = make_matrix(1);
    const IdentifyResult r = c.run(A);
    EXPECT_EQ(r.reason, StopReason::kStalled) << fixed;
    EXPECT_EQ(r.iterations, 1) << fixed;
    EXPECT_EQ(A[0][0], 0.0) << fixed;
  }
}

TEST(RunMonitor, NoProgressWindow) {
  StopSettings s;
  s.patience = 3;
  s.min_improvement = 0.1;
  s.quiet = true;
  std::ostringstream out;
  RunMonitor m(s, out, 1);
  Matrix A = make_matrix(1);
  const double norms[] = {10.0, 9.5, 9.2, 8.9, 8.0, 7.9, 7.8, 7.7, 7.6};
  std::vector<std::int64_t> fired;
  for (int it = 0; it < 9; ++it) {
    A[0][0] = it;
    m.observe(it, norms[it], A);
    if (m.check(it + 1) == StopReason::kNoProgress) fired.push_back(it);
  }
  // 10 → 8.9 is a drop of more than 10% at iteration 3, 8.9 → 8.0 at 4;
  // 7.9 .. 7.6 are each less than 10% below 8.0, so three iterations after
  // iteration 4 the window has run out.
  EXPECT_EQ(fired, (std::vector<std::int64_t>{7, 8}));
  Matrix best = make_matrix(1);
  EXPECT_EQ(m.stop_with_best(StopReason::kNoProgress, best).norm, 7.6);
  EXPECT_EQ(best[0][0], 8.0);
}

TEST(RunMonitor, SteadyDescentNeverTripsNoProgress) {
  StopSettings s;  // the defaults: 10000 iterations, relative 1e-9
  s.quiet = true;
  std::ostringstream out;
  RunMonitor m(s, out, 1);
  Matrix A = make_matrix(1);
  double norm = 1.0;
  for (std::int64_t it = 0; it < 200000; ++it) {
    m.observe(it, norm, A);
    ASSERT_FALSE(m.check(it + 1).has_value()) << it;
    norm *= 1.0 - 1e-12;  // 1e-8 per window of 10000: slow but steady
  }
}

}  // namespace
}  // namespace identify
