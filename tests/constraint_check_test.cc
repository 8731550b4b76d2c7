// The warnings about parameters of the θ written that break their fixed
// values or bounds: which ones, the wording and the reason given, and the
// lines the built program prints after a run.
#include "fit/constraint_check.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "run_binary.h"
#include "test_problems.h"

namespace identify {
namespace {

using testing::bound_entry;
using testing::fix_entry;
using testing::make_observations;
using testing::make_problem;

Summary ended_after(std::int64_t iterations, std::int64_t best) {
  Summary r;
  r.iterations = iterations;
  r.best_iteration = best;
  return r;
}

TEST(ConstraintWarnings, OneLinePerEntryOffItsValueOrBounds) {
  const double nan = std::nan("");
  const struct {
    const char* name;
    double a12, a21;
    Summary result;
    std::vector<std::string> lines;
  } cases[] = {
      {"all kept", 0.75, 1.0, ended_after(5, 3), {}},
      {"stopped at iteration 0",
       0.0,
       0.0,
       ended_after(0, 0),
       {"a12 is 0, not its fixed value 0.75 (the run stopped before the "
        "first step)",
        "a21 is 0, outside its bounds [1, 2] (the run stopped before the "
        "first step)"}},
      {"the start was the best",
       0.0,
       1.5,
       ended_after(3, 0),
       {"a12 is 0, not its fixed value 0.75 (the matrix written is the "
        "start, from before the first step)"}},
      {"never stepped into its interval",
       0.75,
       -0.0,
       ended_after(9, 8),
       {"a21 is 0, outside its bounds [1, 2]"}},
      {"the first of two fixed values",
       0.5,
       2.0,
       ended_after(9, 8),
       {"a12 is 0.5, not its fixed value 0.75"}},
      {"NaN",
       0.75,
       nan,
       ended_after(9, 8),
       {"a21 is nan, outside its bounds [1, 2]"}},
      {"off in the last digits",
       0.75 + 1e-12,
       2.0 + 4e-16,
       ended_after(9, 8),
       {"a12 is 0.75000000000099998, not its fixed value 0.75",
        "a21 is 2.0000000000000004, outside its bounds [1, 2]"}},
  };
  ProblemRecord p = make_problem({1.0, 0.0}, {0.0, 0.0}, {0.0, 0.0});
  fix_entry(p, 0, 1, 0.5);
  fix_entry(p, 0, 1, 0.75);  // the last value counts
  bound_entry(p, 1, 0, -1.0, 1.0);
  bound_entry(p, 1, 0, 1.0, 2.0);   // the last interval counts
  fix_entry(p, 1, 1, 5.0);          // fixed and bounded: fixed wins, and
  bound_entry(p, 1, 1, -1.0, 1.0);  // 5 is kept below
  // a11 is free without bounds: even NaN is no fault of it.
  const FitProblem problem =
      testing::legacy_fit(p, make_observations(2, {}, {}));
  for (const auto& c : cases) {
    const std::vector<double> theta = {nan, c.a12, c.a21, 5.0};
    EXPECT_EQ(constraint_warnings(problem, theta, c.result), c.lines) << c.name;
  }
  // An entry fixed outside its own bounds stays 0 under the descent.
  EXPECT_EQ(
      constraint_warnings(problem, std::vector<double>{0.0, 0.75, 1.0, 0.0},
                          ended_after(4, 2)),
      std::vector<std::string>{"a22 is 0, not its fixed value 5"});
}

}  // namespace

namespace testing {
namespace {

// A tolerance the start already meets: the run stops before its first step
// and writes the zero matrix as it always has, and says what that breaks.
TEST(ConstraintWarnings, PrintedAfterTheRun) {
  ScratchDir dir("worked");
  std::string problem = dir.read("input.txt");
  problem.replace(problem.find("0.45"), 4, "1000");
  problem.replace(problem.find("2 1 -1 1"), 8, "2 1 1 2");
  dir.write("input.txt", problem);
  const RunResult r = dir.run("-q");
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_EQ(r.err,
            "identify: warning: a12 is 0, not its fixed value 0.5 (the run "
            "stopped before the first step)\n"
            "identify: warning: a21 is 0, outside its bounds [1, 2] (the run "
            "stopped before the first step)\n");
  EXPECT_EQ(dir.read("output.txt"), "0    0    \n0    0    \n");
}

}  // namespace
}  // namespace testing
}  // namespace identify
