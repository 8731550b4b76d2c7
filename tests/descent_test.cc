// The descent on θ: its console lines, the rules' fixed and bounded
// parameters, the stalls they cause, and a signal during a model call.
#include "fit/descent.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "fit/method.h"
#include "input/legacy_problem.h"
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
  // The descent from a = start on `model` (the grid model if null).
  Summary run(double start, MonitorSettings settings = {},
              Model* model = nullptr) {
    LegacyProblem legacy = legacy_problem(problem, obs);
    legacy.descent.start = {start};
    GridModel grid(legacy.problem);
    settings.epsilon = problem.epsilon;
    Monitor monitor(settings, console, 1);
    return solve(Method::kDescent, legacy.problem,
                 model != nullptr ? *model : grid,
                 {legacy.descent, problem.opt_par}, monitor, console);
  }
  ProblemRecord problem = make_problem({1.0}, {0.0}, {0.0});
  ObservationRecord obs =
      make_observations(1, {0}, {{0.0, 0.5, 1.0}}, {{1.0, 0.6, 0.4}});
  std::ostringstream console;
};

TEST(Descent, ConsoleLines) {
  {  // The first line shows the misfit of the start: sqrt(0.52).
    ScalarCase c;
    MonitorSettings settings;
    settings.max_iter = 2;
    const Summary r = c.run(0.0, settings);
    EXPECT_EQ(r.termination, Termination::kIterationLimit);
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
    const Summary r = c.run(0.0);
    EXPECT_EQ(r.termination, Termination::kToleranceReached);
    EXPECT_EQ(r.norm, 3.0);
    EXPECT_EQ(c.console.str(), "\n\nITERATION NUMBER = 0\n\n");
  }
}

TEST(Descent, StepSetsFixedAndPutsBackBoundedParameters) {
  DescentRules rules;
  rules.fixed = {{1, 0.5}, {1, 0.75}};  // the last one wins
  rules.bounded = {{2, -1.0, 1.0}, {3, 2.0, 3.0}, {0, -1.0, 0.0}};
  const double nan = std::numeric_limits<double>::quiet_NaN();
  std::vector<double> theta = {nan, 0.0, 1.5, 7.0}, before(4);
  // a21 lands on its bound (inside); a22 outside: back to its value from
  // before the step, not clamped; NaN stays.
  const std::vector<double> g = {1.0, 1.0, 1.0, 7.0};
  EXPECT_FALSE(descent_step(rules, 0.5, g, before, theta));
  EXPECT_TRUE(std::isnan(theta[0]));
  EXPECT_EQ(theta[1], 0.75);
  EXPECT_EQ(theta[2], 1.0);
  EXPECT_EQ(theta[3], 7.0);
  EXPECT_EQ(before[3], 7.0);
  // A step that changes nothing, to the last bit, is reported.
  std::vector<double> still = {-0.5, 0.75, 0.0, 2.5};
  const std::vector<double> zero = {0.0, 0.0, -0.0, 0.0};
  EXPECT_TRUE(descent_step(rules, 0.5, zero, before, still));
}

// Every step is put back, so the run stalls at once with a = 0: an entry
// fixed outside its bounds keeps its start value, and a bounded entry whose
// start lies outside its interval stays there until a step lands inside
// (the data want a < 0).
TEST(Descent, EntriesThatCannotMoveStallTheRun) {
  for (const bool fixed : {true, false}) {
    ScalarCase c;
    if (fixed) {
      fix_entry(c.problem, 0, 0, 5.0);
      bound_entry(c.problem, 0, 0, -1.0, 1.0);
    } else {
      bound_entry(c.problem, 0, 0, 0.5, 1.0);
    }
    const Summary r = c.run(0.0);
    EXPECT_EQ(r.termination, Termination::kStalled) << fixed;
    EXPECT_EQ(r.iterations, 1) << fixed;
    EXPECT_EQ(r.theta, std::vector<double>{0.0}) << fixed;
  }
}

// A signal during a model call: the call's (NaN) output is never used, no
// step is taken from it, and the run ends with the best θ of the
// iterations that finished, or the start if none did.
TEST(Descent, InterruptDropsTheModelCallUnderWay) {
  // The entry and norm after one step, from a run that is not interrupted.
  ScalarCase reference;
  MonitorSettings two;
  two.max_iter = 2;
  two.quiet = true;
  const Summary after_one = reference.run(-0.25, two);
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
      {5, 2, after_one.theta[0],
       "after 2 iterations; best residual norm " + norm.str() +
           " (iteration 1) written"},
  };
  for (const auto& c : cases) {
    ScalarCase scalar;
    GridModel grid(legacy_problem(scalar.problem, scalar.obs).problem);
    std::atomic<int> flag{0};
    testing::InterruptedModel model(grid, flag, c.at);
    MonitorSettings settings;
    settings.interrupt = &flag;
    const Summary r = scalar.run(-0.25, settings, &model);
    EXPECT_EQ(r.termination, Termination::kInterrupted) << c.at;
    EXPECT_EQ(r.iterations, c.iterations) << c.at;
    EXPECT_EQ(r.theta[0], c.a) << c.at;
    EXPECT_EQ(verdict(r), "interrupted by signal 15 " + c.verdict) << c.at;
    EXPECT_EQ(model.calls(), c.at) << c.at;  // nothing after the signal
    EXPECT_NE(scalar.console.str().find("\n\nITERATION NUMBER = " +
                                        std::to_string(c.iterations)),
              std::string::npos)
        << c.at;
    EXPECT_EQ(model.stop_flag(), nullptr);  // the fit's flag is handed back
  }
}

}  // namespace
}  // namespace identify
