// The fitted trajectory: both models' solutions at the grid times and the
// CSV that carries them.
#include "output/trajectory_file.h"

#include <gtest/gtest.h>

#include <cmath>

#include "model/exact/exact_matrix_model.h"
#include "model/grid/grid_matrix_model.h"
#include "test_problems.h"

namespace identify {
namespace {

using testing::make_observations;
using testing::make_problem;
using testing::matrix_of;

TEST(Trajectory, ModelsGiveTheirSolutionAtEveryGridTime) {
  // T = 375, dt = 0.125 exactly: t = 281.25 is node 2250, so the exact
  // model's sample there and its trajectory node come from the same products.
  ProblemRecord problem = make_problem({1.0, 0.0}, {0.0, 0.5}, {0.0, -0.002});
  problem.T = 375.0;
  ObservationRecord obs = make_observations(2, {1}, {{0.0, 281.25}});
  const Matrix A = matrix_of({{-0.003, 0.0}, {0.004, -0.001}});
  const std::vector<double> times = grid_times(problem.T);
  ASSERT_EQ(times.size(), static_cast<std::size_t>(kNodeCount));
  EXPECT_EQ(times[0], 0.0);
  EXPECT_EQ(times[2250], 281.25);
  EXPECT_EQ(times[3000], 375.0);

  // The grid model's trajectory is the forward sweep of its evaluation.
  for (Kernels kernels : {Kernels::kFast, Kernels::kPlain}) {
    GridMatrixModel grid(problem, obs, kernels);
    Table M(1, 2);
    grid.evaluate(A, M);
    Trajectory X;
    grid.trajectory(A, X);
    EXPECT_EQ(X.rows() * X.cols(), 2u * kNodeCount);
    EXPECT_TRUE(X == grid.forward_trajectory());
  }

  ExactMatrixModel exact(problem, obs);
  Table M;
  exact.evaluate(A, M);
  Trajectory X;
  exact.trajectory(A, X);
  EXPECT_EQ(X[0][0], 1.0);
  EXPECT_EQ(X[1][0], 0.0);
  EXPECT_EQ(X[1][2250], M[0][1]);
  // x1 = exp(−0.003 t) on its own.
  for (int k : {1, 1000, 3000}) {
    EXPECT_NEAR(X[0][k], std::exp(-0.003 * times[k]), 1e-14) << k;
  }
}

TEST(Trajectory, CsvHasAHeaderAndRoundTripDigits) {
  Table X(2, 2);
  X[0][0] = 1.0;
  X[0][1] = 0.1;
  X[1][0] = -2.5e-300;
  X[1][1] = 1.0 / 3.0;
  EXPECT_EQ(format_trajectory({0.0, 0.5}, X),
            "t,x1,x2\n"
            "0,1,-2.5e-300\n"
            "0.5,0.10000000000000001,0.33333333333333331\n");
  EXPECT_EQ(format_trajectory({0.0}, Table(0, 1)), "t\n0\n");
}

}  // namespace
}  // namespace identify
