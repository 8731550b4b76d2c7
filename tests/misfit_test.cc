// Residual norm, stopping test and the trapezoid arrangement; and the
// derivatives of both models against central differences.
#include "fit/misfit.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <limits>
#include <random>
#include <vector>

#include "model/exact/exact_matrix_model.h"
#include "model/grid/grid_matrix_model.h"
#include "model/grid/quadrature.h"
#include "test_problems.h"

namespace identify {
namespace {

using testing::central_jacobian;
using testing::kLayouts;
using testing::Layout;
using testing::RandomCase;
using testing::relative_gap;
using testing::samples_of;

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
  EXPECT_NEAR(gradient_entry(1.0, 3001, ones.data(), ramp.data()), 0.5, 1e-15);
  const double a2[] = {1, 3}, b2[] = {2, 5};
  EXPECT_EQ(gradient_entry(2.0, 2, a2, b2), 17.0);
  const double a3[] = {0.7, 0.2, 1.0}, b3[] = {1, 1, 1};
  EXPECT_EQ(gradient_entry(2.0, 3, a3, b3), 1.0499999999999998);
}

// For both models in every layout: every Jacobian column against central
// differences of the samples, and the adjoint gradient for random weights H
// against Jᵀ·H. The gradient is linear in H, so together these check the
// gradient of the sum of squares (H = 2·residuals) too. The grid model's
// derivatives are those of the continuous problem, within O(dt) of the grid
// samples' own; the exact model's samples at t = 0 do not depend on A.
TEST(ModelDerivatives, JacobianAndGradientMatchCentralDifferences) {
  unsigned seed = 1;
  for (int n : {1, 2, 3, 5}) {
    for (Layout layout : kLayouts) {
      const RandomCase c(n, layout, ++seed);
      const Table& data = c.obs.add_data;
      GridMatrixModel grid(c.problem, c.obs);
      ExactMatrixModel exact(c.problem, c.obs);
      for (MatrixModel* model :
           std::initializer_list<MatrixModel*>{&grid, &exact}) {
        const bool is_grid = model == &grid;
        SCOPED_TRACE(::testing::Message()
                     << (is_grid ? "grid" : "exact") << ", N = " << n
                     << ", layout " << static_cast<int>(layout));
        samples_of(*model, c.truth, data);
        Table J;
        model->jacobian(c.truth, J);
        ASSERT_EQ(J.rows(), data.size());
        ASSERT_EQ(J.cols(), c.truth.size());
        std::mt19937 rng(seed);
        std::uniform_real_distribution<double> uniform(-1.0, 1.0);
        Table H = data;
        for (std::size_t s = 0; s < H.size(); ++s) H.data()[s] = uniform(rng);
        Matrix G = make_matrix(n), projected = make_matrix(n);
        model->gradient(c.truth, H, G);
        for (std::size_t s = 0; s < J.rows(); ++s) {
          for (std::size_t e = 0; e < J.cols(); ++e) {
            projected.data()[e] += J[s][e] * H.data()[s];
          }
        }
        EXPECT_LT(relative_gap(projected, G), 1e-10);
        EXPECT_LT(
            relative_gap(J, central_jacobian(*model, c.truth, data, 1e-5)),
            is_grid ? 2e-3 : 1e-8);
        for (std::size_t s = 0; s < data.size() && !is_grid; ++s) {
          if (c.obs.data_time.data()[s] != 0.0) continue;
          for (std::size_t e = 0; e < J.cols(); ++e) EXPECT_EQ(J[s][e], 0.0);
        }
      }
    }
  }
}

}  // namespace
}  // namespace identify
