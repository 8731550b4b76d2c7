// Fits of every experiment on its own: each on the problem of its
// experiment alone, and results that do not depend on the number of
// threads, to the last bit.
#include "api/problem_fits.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "app/options.h"
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

// One start each: the experiments in parallel. Three starts and a profile:
// the experiments one after another, the threads inside each fit.
TEST(ProblemFits, ResultsDoNotDependOnTheNumberOfThreads) {
  const FitProblem problem = example("theophylline_12").problem;
  MonitorSettings settings;
  Options single;
  single.starts = 1;
  Options search;
  search.starts = 3;
  search.profile = true;
  search.profile_names = {"ka"};
  for (const Options* base : {&single, &search}) {
    SCOPED_TRACE(*base->starts);
    std::vector<ProblemFit> runs[2];
    for (int threads = 1; threads <= 2; ++threads) {
      Options opt = *base;
      opt.threads = threads;
      const RunChoice choice{ModelKind::kExact, Method::kLm, *opt.starts};
      std::vector<ProblemFit>& fits = runs[threads - 1];
      fits = plan_fits(problem, ModelKind::kExact, true);
      ASSERT_EQ(fits.size(), 12u);
      std::ostringstream out, err;
      run_fits(fits, fit_plan(opt, choice), settings, true, threads, out, err);
      EXPECT_EQ(out.str(), "");  // several fits keep their own lines
      EXPECT_EQ(err.str(), "");
    }
    for (std::size_t f = 0; f < 12; ++f) {
      const ProblemFit& a = runs[0][f];
      const ProblemFit& b = runs[1][f];
      EXPECT_EQ(b.experiment, "subject" + std::to_string(f + 1));
      EXPECT_EQ(a.summary.theta, b.summary.theta) << b.experiment;
      EXPECT_EQ(a.console, b.console) << b.experiment;
      EXPECT_EQ(a.messages, b.messages) << b.experiment;
      EXPECT_EQ(a.summary.iterations, b.summary.iterations);
      EXPECT_EQ(a.search.profiles.has_value(), base->profile);
      EXPECT_EQ(a.search.starts.has_value(), *base->starts > 1);
      if (!a.search.profiles) continue;
      ASSERT_EQ(a.search.profiles->rows.size(), 1u);
      EXPECT_EQ(a.search.profiles->rows[0].lower,
                b.search.profiles->rows[0].lower);
      EXPECT_EQ(a.search.profiles->rows[0].upper,
                b.search.profiles->rows[0].upper);
    }
    EXPECT_NE(runs[0][0].console.find(*base->starts == 1
                                          ? ":   COUNT = 0\n"
                                          : "\nstart 3 of 3: objective "),
              std::string::npos)
        << runs[0][0].console;
  }
}

}  // namespace
}  // namespace identify
