// The monitor's stops and best θ, the verdict of every end of a run, and
// the exit code each end gives.
#include "fit/monitor.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <csignal>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "api/exit_codes.h"
#include "fit/summary.h"

namespace identify {
namespace {

// −2 ln L below 0: no tolerance to reach (epsilon 0 is not a target), and
// the no-progress window measures improvement relative to |value|, so a
// flat negative objective stops after `patience` iterations; the verdict
// names −2 ln L without epsilon.
TEST(Monitor, NegativeLikelihoodHasNoToleranceAndAFlatWindowStops) {
  MonitorSettings s;
  s.patience = 3;
  s.quiet = true;
  std::ostringstream out;
  Monitor m(s, out, 1);
  m.set_likelihood(true);
  const double theta = 0.0;
  int fired = -1;
  for (int it = 0; it < 8 && fired < 0; ++it) {
    EXPECT_TRUE(m.iterate(-12.5, {&theta, 1}, false) ||
                m.reason() == Termination::kNoProgress);
    if (m.reason()) fired = it;
  }
  EXPECT_EQ(fired, 3);
  EXPECT_EQ(m.reason(), Termination::kNoProgress);
  const Summary r = m.summary(Termination::kOptimumReached, "");
  EXPECT_EQ(verdict(r),
            "no progress: the best -2 ln L -12.5 (iteration 0) has not "
            "improved by a relative 1e-09 in 3 iterations");
}

TEST(Monitor, NoProgressWindow) {
  MonitorSettings s;
  s.patience = 3;
  s.min_improvement = 0.1;
  s.quiet = true;
  std::ostringstream out;
  Monitor m(s, out, 1);
  const double norms[] = {10.0, 9.5, 9.2, 8.9, 8.0, 7.9, 7.8, 7.7, 7.6};
  int fired = -1;
  for (int it = 0; it < 9; ++it) {
    const double theta = it;
    m.observe(norms[it], {&theta, 1});
    m.end_iteration(norms[it]);
    if (m.reason() == Termination::kNoProgress && fired < 0) fired = it;
  }
  // 10 → 8.9 is a drop of more than 10% at iteration 3, 8.9 → 8.0 at 4;
  // 7.9 .. 7.6 are each less than 10% below 8.0, so three iterations after
  // iteration 4 the window has run out (and the first stop stays).
  EXPECT_EQ(fired, 7);
  const Summary r = m.summary(Termination::kOptimumReached, "ignored");
  EXPECT_EQ(r.termination, Termination::kNoProgress);
  EXPECT_EQ(r.message, "");
  EXPECT_EQ(r.norm, 7.6);
  EXPECT_EQ(r.best_iteration, 8);
  EXPECT_EQ(r.theta, std::vector<double>{8.0});
  EXPECT_EQ(r.stale_iterations, 4);
}

TEST(Monitor, SteadyDescentNeverTripsNoProgress) {
  MonitorSettings s;  // the defaults: 10000 iterations, relative 1e-9
  s.quiet = true;
  std::ostringstream out;
  Monitor m(s, out, 1);
  const double theta = 0.0;
  double norm = 1.0;
  for (std::int64_t it = 0; it < 200000; ++it) {
    m.observe(norm, {&theta, 1});
    ASSERT_TRUE(m.end_iteration(norm)) << it;
    norm *= 1.0 - 1e-12;  // 1e-8 per window of 10000: slow but steady
  }
}

// Progress lines, history lines with 17 digits, the best norm shown for a
// method that asks for it, the tolerance ending the run with its own θ,
// and a NaN norm losing to any finite one.
TEST(Monitor, LinesHistoryBestAndTolerance) {
  std::ostringstream out, history;
  MonitorSettings s;
  s.epsilon = 0.5;
  s.history = &history;
  Monitor m(s, out, 2);
  const double start[] = {9.0, 9.0};
  m.set_start(start, 4.0);
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double a[] = {1.0, 2.0}, b[] = {3.0, 4.0}, c[] = {5.0, 6.0};
  EXPECT_TRUE(m.iterate(nan, a, true));
  EXPECT_TRUE(m.iterate(2.0, b, true));
  EXPECT_TRUE(m.iterate(3.0, a, true));
  EXPECT_FALSE(m.iterate(0.5, c, true));  // within epsilon: no line
  EXPECT_EQ(out.str(), "nan:   COUNT = 0\n2:   COUNT = 1\n2:   COUNT = 2\n");
  EXPECT_EQ(history.str(), "0,nan\n1,2\n2,2\n");
  const Summary r = m.summary(Termination::kLibraryFailure, "");
  EXPECT_EQ(r.termination, Termination::kToleranceReached);
  EXPECT_EQ(r.theta, (std::vector<double>{5.0, 6.0}));
  EXPECT_EQ(r.norm, 0.5);
  EXPECT_EQ(r.best_iteration, 3);
  EXPECT_EQ(stop_text(r),
            "converged: residual norm 0.5 <= epsilon 0.5 at iteration 3");

  // No iteration observed: the start, with its norm.
  Monitor fresh(s, out, 2);
  fresh.set_start(start, 4.0);
  const Summary none = fresh.summary(Termination::kLibraryFailure, "x");
  EXPECT_FALSE(none.has_best);
  EXPECT_EQ(none.norm, 4.0);
  EXPECT_EQ(none.theta, (std::vector<double>{9.0, 9.0}));
}

// Every end in one line with its numbers, and its exit code: counts agree
// with their nouns, a tolerance of -0 reads 0, a start that is not finite
// blames no step, a run in which no iteration finished names no best norm,
// and a library's optimum is success.
TEST(Verdict, EveryEndHasItsLineAndExitCode) {
  const double inf = std::numeric_limits<double>::infinity();
  const auto summary = [](Termination t, std::int64_t iterations,
                          bool has_best) {
    Summary s;
    s.termination = t;
    s.iterations = iterations;
    s.has_best = has_best;
    s.norm = has_best ? 0.5 : 2.5;
    s.start_norm = 2.5;
    s.epsilon = -0.0;
    s.min_improvement = 1e-9;
    s.step = 0.1;
    s.signal = SIGTERM;
    return s;
  };
  const auto library = [&](Termination t, std::int64_t iterations,
                           bool has_best, const char* message) {
    Summary s = summary(t, iterations, has_best);
    s.method = "lm";
    s.library = true;
    s.step = 0.0;
    s.message = message;
    s.counts.evaluations = 3;
    s.counts.jacobians = 1;
    return s;
  };
  Summary stale = summary(Termination::kNoProgress, 2, true);
  stale.stale_iterations = 1;
  Summary big_step = summary(Termination::kDiverged, 2, true);
  big_step.step = 1000;
  Summary sigint = summary(Termination::kInterrupted, 5, true);
  sigint.signal = SIGINT;
  const struct {
    const char* name;
    Summary s;
    int code;
    std::string verdict;
  } cases[] = {
      {"tolerance", summary(Termination::kToleranceReached, 3, true), 0, ""},
      {"one iteration", summary(Termination::kIterationLimit, 1, true), 8,
       "iteration limit reached: 1 iteration; best residual norm 0.5 "
       "(iteration 0) > epsilon 0"},
      {"no progress in one", stale, 7,
       "no progress: the best residual norm 0.5 (iteration 0) has not "
       "improved by a relative 1e-09 in 1 iteration; epsilon 0 not reached"},
      {"stalled", summary(Termination::kStalled, 2, true), 6,
       "stalled: the step of iteration 1 left the matrix unchanged; best "
       "residual norm 0.5 (iteration 0) > epsilon 0"},
      {"start not finite", summary(Termination::kDiverged, 1, true), 5,
       "diverged: the residual norm of the start matrix is not finite, so no "
       "step was tried: the model overflows there (check T, x0, amp and "
       "rate); the start matrix is written"},
      {"a step too large", big_step, 5,
       "diverged: the residual norm is not finite at iteration 1; best "
       "residual norm 0.5 (iteration 0) written; try a smaller descent step "
       "than 1000"},
      {"interrupted at once", summary(Termination::kInterrupted, 0, false), 143,
       "interrupted by signal 15 before the first iteration finished; the "
       "start matrix is written"},
      {"interrupted by Ctrl-C", sigint, 130,
       "interrupted by signal 2 after 5 iterations; best residual norm 0.5 "
       "(iteration 0) written"},
      {"library optimum",
       library(Termination::kOptimumReached, 17, true,
               "function tolerance reached: |cost_change|/cost: 3e-13 <= "
               "1e-12"),
       0,
       "converged: lm: function tolerance reached: |cost_change|/cost: 3e-13 "
       "<= 1e-12, sum of squares 0.25 after 17 iterations; 3 model "
       "evaluations, 1 Jacobian"},
      {"library failure, nothing finished",
       library(Termination::kLibraryFailure, 0, false,
               "the solver stopped without converging"),
       9,
       "lm: the solver stopped without converging; no iteration finished; "
       "the start matrix (residual norm 2.5) is written; 3 model "
       "evaluations, 1 Jacobian"},
      {"library, start not finite",
       library(Termination::kDiverged, 1, true, "ignored"), 5,
       "lm: diverged: the residual norm of the start matrix is not finite, "
       "so no step was tried: the model overflows there (check T, x0, amp "
       "and rate, and the fixed and bounded entries); the start matrix is "
       "written; 3 model evaluations, 1 Jacobian"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(verdict(c.s), c.verdict) << c.name;
    EXPECT_EQ(exit_code(c.s), c.code) << c.name;
  }
  Summary start_inf = summary(Termination::kLibraryFailure, 0, false);
  start_inf.start_norm = inf;
  start_inf.message = "m";
  EXPECT_EQ(verdict(start_inf),
            "m; no iteration finished; the start matrix is written");

  ObjectiveCounts counts;
  counts.evaluations = counts.jacobians = counts.gradients = 1;
  EXPECT_EQ(counts_text(counts),
            "; 1 model evaluation, 1 Jacobian, 1 gradient");
  counts = ObjectiveCounts();
  counts.evaluations = 2;
  EXPECT_EQ(counts_text(counts), "; 2 model evaluations, 0 Jacobians");
  // An output that failed wins over the code of a fit that ran.
  EXPECT_EQ(with_output_failure(0), kExitOutputError);
  EXPECT_EQ(with_output_failure(143), kExitOutputError);
  EXPECT_EQ(with_output_failure(kExitInputError), kExitInputError);
}

}  // namespace
}  // namespace identify
