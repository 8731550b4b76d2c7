// Residual norm, stopping test and the trapezoid arrangement; and the grid
// model's adjoint gradient checked against central finite differences.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>

#include "identify/misfit.h"
#include "model/grid_model.h"

namespace identify {
namespace {

TEST(Misfit, NormAndStoppingTest) {
  Table M(2, 3), d(2, 3);
  EXPECT_EQ(residual_norm(M, d), 0.0);
  EXPECT_TRUE(misfit_converged(0.0, M, d));
  EXPECT_FALSE(misfit_converged(-1e-300, M, d));
  M[0][1] = 3.0;
  d[1][2] = -4.0;
  EXPECT_EQ(residual_norm(M, d), 5.0);
  EXPECT_TRUE(misfit_converged(5.0, M, d));
  EXPECT_FALSE(misfit_converged(4.999, M, d));
  M[1][0] = std::numeric_limits<double>::quiet_NaN();
  EXPECT_FALSE(misfit_converged(1e300, M, d));
  EXPECT_EQ(residual_norm(Table(0, 5), Table(0, 5)), 0.0);
}

TEST(Misfit, TrapezoidArrangement) {
  std::vector<double> ones(3001, 1.0), ramp(3001);
  for (int i = 0; i <= 3000; ++i) ramp[i] = i / 3000.0;
  EXPECT_EQ(gradient_entry(3.0, 3001, ones.data(), ones.data()), 3.0);
  EXPECT_NEAR(gradient_entry(1.0, 3001, ones.data(), ramp.data()), 0.5,
              1e-15);
  const double a2[] = {1, 3}, b2[] = {2, 5};
  EXPECT_EQ(gradient_entry(2.0, 2, a2, b2), 17.0);
  const double a3[] = {0.7, 0.2, 1.0}, b3[] = {1, 1, 1};
  EXPECT_EQ(gradient_entry(2.0, 3, a3, b3), 1.0499999999999998);
}

// Builds a random stable system with `k` series observing the components
// listed, at `p` random times in (0, T].
struct RandomCase {
  RandomCase(int n, std::vector<int> observed, int p, unsigned seed)
      : A(make_matrix(n)) {
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> u(-1.0, 1.0);
    problem.dim = n;
    problem.T = 2.0;
    for (int i = 0; i < n; ++i) {
      problem.init_val.push_back(u(rng));
      problem.exp_coef.push_back(0.5 * u(rng));
      problem.exp_par.push_back(u(rng));
      for (int j = 0; j < n; ++j) A[i][j] = (i == j ? -1.5 : 0.0) + 0.5 * u(rng);
    }
    const int K = static_cast<int>(observed.size());
    obs.data_num = K;
    obs.is_data_exist = observed;
    obs.data_dim.assign(n, p + 1);
    obs.data_time = Table(K, p + 1);
    obs.add_data = Table(K, p + 1);
    for (int k = 0; k < K; ++k) {
      obs.add_data[k][0] = problem.init_val[observed[k]];
      for (int s = 1; s <= p; ++s) {
        obs.data_time[k][s] = problem.T * (0.5 * u(rng) + 0.5);
        obs.add_data[k][s] = u(rng);
      }
    }
    obs.data_time[0][p] = problem.T;  // one sample at the final node
  }
  ProblemRecord problem;
  ObservationRecord obs;
  Matrix A;
};

double squared_norm(Model& model, const ObservationRecord& obs,
                    const Matrix& A) {
  Table M(obs.add_data.rows(), obs.add_data.cols());
  model.evaluate(A, M);
  const double r = residual_norm(M, obs.add_data);
  return r * r;
}

TEST(GridModel, AdjointGradientMatchesFiniteDifferences) {
  const std::vector<std::pair<int, std::vector<int>>> layouts = {
      {2, {0, 1}}, {2, {1}}, {3, {0, 1, 2}}, {3, {2, 0}}, {3, {1, 1, 0, 2}}};
  unsigned seed = 1;
  for (const auto& [n, observed] : layouts) {
    for (int p : {1, 4, 7}) {
      RandomCase c(n, observed, p, seed++);
      GridModel model(c.problem, c.obs);
      Table M(c.obs.add_data.rows(), c.obs.add_data.cols());
      model.evaluate(c.A, M);
      Table H(M.rows(), M.cols());
      for (std::size_t q = 0; q < M.size(); ++q)
        H.data()[q] = (M.data()[q] - c.obs.add_data.data()[q]) * 2.0;
      Matrix G = make_matrix(n);
      model.gradient(c.A, H, G);
      for (int i = 0; i < n; ++i) {
        for (int j = 0; j < n; ++j) {
          const double h = 1e-6;
          Matrix up = c.A, down = c.A;
          up[i][j] += h;
          down[i][j] -= h;
          const double fd = (squared_norm(model, c.obs, up) -
                             squared_norm(model, c.obs, down)) /
                            (2 * h);
          EXPECT_NEAR(G[i][j], fd, 1e-3 * std::max(1.0, std::abs(fd)))
              << "n=" << n << " p=" << p << " entry " << i << "," << j;
        }
      }
    }
  }
}

TEST(GridModel, JacobianRowsAreUnitJumpGradients) {
  RandomCase c(2, {1, 0}, 3, 42);
  GridModel model(c.problem, c.obs);
  Table M(2, 4);
  model.evaluate(c.A, M);
  Table J(8, 4);
  model.jacobian(c.A, J);
  // J·h for h = 2·residuals equals the gradient.
  Table H(2, 4);
  for (std::size_t q = 0; q < M.size(); ++q)
    H.data()[q] = (M.data()[q] - c.obs.add_data.data()[q]) * 2.0;
  Matrix G = make_matrix(2);
  model.gradient(c.A, H, G);
  for (int e = 0; e < 4; ++e) {
    double s = 0.0;
    for (int q = 0; q < 8; ++q) s += J[q][e] * H.data()[q];
    EXPECT_NEAR(s, G.data()[e], 1e-9 * std::max(1.0, std::abs(s)));
  }
}

}  // namespace
}  // namespace identify
