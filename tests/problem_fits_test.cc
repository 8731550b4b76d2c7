// Fits of every experiment on its own: each on the problem of its
// experiment alone, and results that do not depend on the number of
// threads, to the last bit.
#include "app/problem_fits.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "input/yaml_problem_file.h"

namespace identify {
namespace {

LoadedProblem example(const std::string& name) {
  return read_yaml_problem(std::string(IDENTIFY_EXAMPLES_DIR) + "/" + name +
                           "/problem.yaml");
}

TEST(ProblemFits, AnExperimentAloneEstimatesOnlyWhatItUses) {
  const FitProblem problem = example("two_experiments").problem;
  std::vector<int> used;
  const FitProblem one = experiment_problem(problem, 0, used);
  EXPECT_EQ(used, (std::vector<int>{0, 1, 2, 3}));  // k1..k4, not x3_0
  ASSERT_EQ(one.experiments.size(), 1u);
  EXPECT_EQ(one.experiments[0].id, "from_x1");
  EXPECT_EQ(one.measurement_count(), 12u);
  EXPECT_TRUE(one.parameters[3].estimated);
  EXPECT_FALSE(one.parameters[4].estimated);
  experiment_problem(problem, 1, used);
  EXPECT_EQ(used, (std::vector<int>{0, 1, 2, 3, 4}));
}

TEST(ProblemFits, ResultsDoNotDependOnTheNumberOfThreads) {
  const FitProblem problem = example("theophylline_12").problem;
  MonitorSettings settings;
  std::vector<ProblemFit> runs[3];
  for (int threads = 1; threads <= 3; ++threads) {
    std::vector<ProblemFit>& fits = runs[threads - 1];
    fits = plan_fits(problem, ModelKind::kExact, true);
    ASSERT_EQ(fits.size(), 12u);
    std::ostringstream out;
    run_fits(fits, Method::kLm, settings, true, threads, out);
    EXPECT_EQ(out.str(), "");  // parallel fits keep their own lines
  }
  for (int threads = 2; threads <= 3; ++threads) {
    for (std::size_t f = 0; f < 12; ++f) {
      const ProblemFit& a = runs[0][f];
      const ProblemFit& b = runs[threads - 1][f];
      EXPECT_EQ(b.experiment, "subject" + std::to_string(f + 1));
      EXPECT_EQ(a.summary.theta, b.summary.theta) << b.experiment;
      EXPECT_EQ(a.console, b.console) << b.experiment;
      EXPECT_EQ(a.summary.iterations, b.summary.iterations);
    }
  }
  EXPECT_NE(runs[0][0].console.find(":   COUNT = 0\n"), std::string::npos);
}

}  // namespace
}  // namespace identify
