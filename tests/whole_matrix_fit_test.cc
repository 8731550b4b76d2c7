// The whole matrix A of a 20-state system (400 free entries from 0) from
// ten experiments with different initial states: the fit that takes the
// Jacobian's sample rows from B's eigendecomposition and the step from the
// normal equations reaches the optimum that SciPy's least_squares (trf,
// exact Jacobian) finds, to 1e-9 relative in the sum of squares.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <string>

#include "identify/identify.h"
#include "input/yaml_problem_file.h"
#include "model/exact/exact_model.h"
#include "model_contract.h"

namespace identify {
namespace {

// tools/whole_matrix_scipy.py on tests/data/whole_matrix_wp20 (the case
// wp20 of the well-posed whole-matrix data, seed 7).
constexpr double kScipyOptimum = 3.5246468191986395e-05;

TEST(WholeMatrixFit, ReachesTheReferenceOptimum) {
  FitOptions o;
  o.method = "lm";
  o.model = "exact";
  o.starts = 1;
  const Result r = fit(Problem::from_file(std::string(IDENTIFY_TEST_DATA_DIR) +
                                          "/whole_matrix_wp20/problem.yaml"),
                       o);
  EXPECT_EQ(r.exit_code, 0);
  EXPECT_TRUE(r.converged);
  EXPECT_NEAR(r.objective, kScipyOptimum, 1e-9 * kScipyOptimum);
}

// The Jacobian whose sample rows come from the eigendecomposition (400
// parameters in B) against central differences, at A = 0.5·G/√20 − I:
// non-normal, with complex eigenvalues.
TEST(WholeMatrixFit, EigenformJacobianKeepsTheModelContract) {
  FitProblem problem = read_yaml_problem(std::string(IDENTIFY_TEST_DATA_DIR) +
                                         "/whole_matrix_wp20/problem.yaml")
                           .problem;
  std::mt19937 rng(3);
  std::normal_distribution<double> normal;
  const int n = 20;
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      problem.parameters[i * n + j].value =
          0.5 * normal(rng) / std::sqrt(double(n)) - (i == j ? 1.0 : 0.0);
    }
  }
  testing::check_model_contract(
      problem,
      [](const FitProblem& p) { return std::make_unique<ExactModel>(p); }, {},
      1);
}

}  // namespace
}  // namespace identify
