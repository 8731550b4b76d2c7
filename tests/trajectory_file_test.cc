// The fitted trajectory: both models' solutions at the grid times and the
// CSV that carries them.
#include "output/trajectory_file.h"

#include <gtest/gtest.h>

#include <cmath>

#include "model/exact/exact_model.h"
#include "model/grid/forward_sweep.h"
#include "model/grid/grid_model.h"
#include "test_problems.h"

namespace identify {
namespace {

using testing::legacy_fit;
using testing::make_observations;
using testing::make_problem;
using testing::matrix_of;
using testing::theta_of;

TEST(Trajectory, ModelsGiveTheirSolutionAtEveryGridTime) {
  // T = 375, dt = 0.125 exactly: t = 281.25 is node 2250, so the exact
  // model's sample there and its state at that grid time come from the
  // same products.
  ProblemRecord problem = make_problem({1.0, 0.0}, {0.0, 0.5}, {0.0, -0.002});
  problem.T = 375.0;
  ObservationRecord obs = make_observations(2, {1}, {{0.0, 281.25}});
  const std::vector<double> A = {-0.003, 0.0, 0.004, -0.001};
  const std::vector<double> times = grid_times(problem.T);
  ASSERT_EQ(times.size(), static_cast<std::size_t>(kNodeCount));
  EXPECT_EQ(times[0], 0.0);
  EXPECT_EQ(times[2250], 281.25);
  EXPECT_EQ(times[3000], 375.0);

  ExactModel exact(legacy_fit(problem, obs));
  Evaluation at;
  exact.evaluate(A, at);
  Table X;
  exact.states(A, 0, times, X);
  EXPECT_EQ(X[0][0], 1.0);
  EXPECT_EQ(X[1][0], 0.0);
  EXPECT_EQ(X[1][2250], at.y[1]);
  // x1 = exp(−0.003 t) on its own.
  for (int k : {1, 1000, 3000}) {
    EXPECT_NEAR(X[0][k], std::exp(-0.003 * times[k]), 1e-14) << k;
  }
}

// The grid model's states at the grid times are its forward sweep, node for
// node, also where (t/T)·3000 rounds below the node of a grid time t
// (T = 24.37: 1278 of the 3001 times); a measurement time between nodes is
// read at the node before it.
TEST(Trajectory, GridStatesAtTheGridTimesAreTheSweep) {
  ProblemRecord problem = make_problem({1.0, 0.5}, {0.0, 0.5}, {0.0, -0.2});
  problem.T = 24.37;
  const ObservationRecord obs = make_observations(2, {1}, {{0.0, 24.37}});
  const Matrix A = matrix_of({{-0.3, 0.1}, {0.2, -0.4}});
  const double dt = problem.T / kStepCount;
  Trajectory sweep(2, kNodeCount);
  SweepScratch scratch(2);
  solve_forward(2, problem.T, dt, problem.init_val.data(), A,
                problem.exp_coef.data(), problem.exp_par.data(), sweep,
                scratch);
  for (Kernels kernels : {Kernels::kFast, Kernels::kPlain}) {
    GridModel grid(legacy_fit(problem, obs), kernels);
    Table X;
    grid.states(theta_of(A), 0, grid_times(problem.T), X);
    EXPECT_TRUE(X == sweep);
    const double between[] = {0.5 * dt, 2.5 * dt};
    grid.states(theta_of(A), 0, between, X);
    EXPECT_EQ(X[1][0], sweep[1][0]);
    EXPECT_EQ(X[1][1], sweep[1][2]);
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
