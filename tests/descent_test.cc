// The descent loop: its console lines, the fixed and bounded entries, and the
// no-progress window.
#include "fit/descent.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <csignal>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "fit/run_monitor.h"
#include "model/grid/grid_matrix_model.h"
#include "test_problems.h"

namespace identify {
namespace {

using testing::bound_entry;
using testing::fix_entry;
using testing::make_observations;
using testing::make_problem;
using testing::matrix_of;

// N = 1, T = 1, x0 = 1, amp = 0; one series with 0.6 at t = 0.5, 0.4 at 1.
struct ScalarCase {
  ScalarCase() {
    problem.T = 1.0;
    problem.opt_par = 0.1;
  }
  IdentifyResult run(Matrix& A, StopSettings stop = {}) {
    GridMatrixModel model(problem, obs);
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

// A signal during a model call: the call's (NaN) output is never used, no
// step is taken from it, and the run ends with the best matrix of the
// iterations that finished, or the start if none did.
TEST(IdentifyMatrix, InterruptDropsTheModelCallUnderWay) {
  // The matrix and norm after one step, from a run that is not interrupted.
  ScalarCase reference;
  Matrix stepped = matrix_of({{-0.25}});
  StopSettings two;
  two.max_iter = 2;
  two.quiet = true;
  const IdentifyResult after_one = reference.run(stepped, two);
  ASSERT_EQ(after_one.best_iteration, 1);
  std::ostringstream norm;
  norm << after_one.norm;

  // x = exp(-t/4): residuals 0.2825 at t = 0.5 and 0.3788 at t = 1.
  const std::string start_norm = "0.472541";
  const struct {
    int at;  // the call cut short: 1 evaluate, 2 gradient, 3 evaluate, ...
    std::int64_t iterations;
    double a;
    std::string verdict;
  } cases[] = {
      {1, 0, -0.25,
       "before the first iteration finished; the start matrix is written"},
      {2, 1, -0.25,
       "after 1 iteration; best residual norm " + start_norm +
           " (iteration 0) written"},
      {3, 1, -0.25,
       "after 1 iteration; best residual norm " + start_norm +
           " (iteration 0) written"},
      {5, 2, stepped[0][0],
       "after 2 iterations; best residual norm " + norm.str() +
           " (iteration 1) written"},
  };
  for (const auto& c : cases) {
    ScalarCase scalar;
    GridMatrixModel grid(scalar.problem, scalar.obs);
    std::atomic<int> flag{0};
    testing::InterruptedModel model(grid, flag, c.at);
    StopSettings stop;
    stop.interrupt = &flag;
    Matrix A = matrix_of({{-0.25}});
    const IdentifyResult r = identify_matrix(scalar.problem, scalar.obs, model,
                                             A, stop, scalar.console);
    EXPECT_EQ(r.reason, StopReason::kInterrupted) << c.at;
    EXPECT_EQ(r.iterations, c.iterations) << c.at;
    EXPECT_EQ(A[0][0], c.a) << c.at;
    EXPECT_EQ(r.verdict, "interrupted by signal 15 " + c.verdict) << c.at;
    EXPECT_EQ(model.calls(), c.at) << c.at;  // nothing after the signal
    EXPECT_NE(scalar.console.str().find("\n\nITERATION NUMBER = " +
                                        std::to_string(c.iterations)),
              std::string::npos)
        << c.at;
    EXPECT_EQ(grid.stop_flag(), nullptr);  // the fit's flag is handed back
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

// Every verdict in one line with its numbers: counts agree with their nouns,
// a tolerance of -0 reads 0, a start that is not finite blames no step
// size, and a run in which no iteration finished names no best norm.
TEST(RunMonitor, VerdictWording) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const struct {
    const char* name;
    std::vector<double> norms;  // observed at iterations 0, 1, ...
    StopReason reason;
    std::int64_t steps;
    double step_size;
    std::string verdict;
  } cases[] = {
      {"one iteration",
       {0.5},
       StopReason::kIterationLimit,
       1,
       0.1,
       "iteration limit reached: 1 iteration; best residual norm 0.5 "
       "(iteration 0) > epsilon 0"},
      {"no progress in one",
       {0.5, 0.6},
       StopReason::kNoProgress,
       2,
       0.1,
       "no progress: the best residual norm 0.5 (iteration 0) has not "
       "improved by a relative 1e-09 in 1 iteration; epsilon 0 not reached"},
      {"start not finite",
       {inf},
       StopReason::kDiverged,
       1,
       0.1,
       "diverged: the residual norm of the start matrix is not finite, so no "
       "step was tried: the model overflows there (check T, x0, amp and "
       "rate); the start matrix is written"},
      {"start not finite, library",
       {nan},
       StopReason::kDiverged,
       1,
       0.0,
       "diverged: the residual norm of the start matrix is not finite, so no "
       "step was tried: the model overflows there (check T, x0, amp and "
       "rate, and the fixed and bounded entries); the start matrix is "
       "written"},
      {"a step too large",
       {1.5, inf},
       StopReason::kDiverged,
       2,
       1000,
       "diverged: the residual norm is not finite at iteration 1; best "
       "residual norm 1.5 (iteration 0) written; try a smaller descent step "
       "than 1000"},
      {"interrupted at once",
       {},
       StopReason::kInterrupted,
       0,
       0.1,
       "interrupted by signal 15 before the first iteration finished; the "
       "start matrix is written"},
      {"library, nothing finished",
       {},
       StopReason::kMethodConverged,
       0,
       0.0,
       "no iteration finished; the start matrix (residual norm 2.5) is "
       "written"},
  };
  for (const auto& c : cases) {
    const std::atomic<int> flag{SIGTERM};
    StopSettings s;
    s.quiet = true;
    s.interrupt = &flag;
    std::ostringstream out;
    RunMonitor m(s, out, 1);
    Matrix A = matrix_of({{0.75}});
    m.set_start(A, 2.5);
    for (std::size_t it = 0; it < c.norms.size(); ++it) {
      A[0][0] = static_cast<double>(it);
      m.observe(static_cast<std::int64_t>(it), c.norms[it], A);
    }
    EXPECT_EQ(m.verdict(c.reason, c.steps, -0.0, c.step_size), c.verdict)
        << c.name;
    Matrix written = make_matrix(1);
    const IdentifyResult r = m.stop_with_best(c.reason, written);
    EXPECT_EQ(written[0][0], c.norms.empty() ? 0.75 : 0.0) << c.name;
    const double best = c.norms.empty() ? 2.5 : c.norms[0];
    EXPECT_TRUE(r.norm == best || (std::isnan(best) && std::isnan(r.norm)))
        << c.name;
  }
  IdentifyResult converged;
  converged.norm = 0.0;
  converged.best_iteration = 4;
  EXPECT_EQ(converged_text(converged, -0.0),
            "converged: residual norm 0 <= epsilon 0 at iteration 4");
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
