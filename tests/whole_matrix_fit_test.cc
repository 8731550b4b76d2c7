// The whole matrix A of a 20-state system (400 free entries from 0) from
// ten experiments with different initial states: the fit that takes the
// Jacobian's sample rows from B's eigendecomposition and the step from the
// normal equations reaches the optimum that SciPy's least_squares (trf,
// exact Jacobian) finds, to 1e-9 relative in the sum of squares.
#include <gtest/gtest.h>

#include <string>

#include "identify/identify.h"

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

}  // namespace
}  // namespace identify
