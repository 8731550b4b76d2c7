// Fit statistics on problems with known answers: exact data (zero residuals
// and standard errors), noisy data against an independent finite-difference
// covariance, entry statuses, and the unresolved directions of rank-deficient
// and ill-conditioned problems.
#include "fit/fit_statistics.h"

#include <gtest/gtest.h>

#include <Eigen/Dense>
#include <cmath>
#include <limits>
#include <numbers>
#include <utility>
#include <vector>

#include "model/exact/exact_matrix_model.h"
#include "test_problems.h"

namespace identify {
namespace {

using testing::bound_entry;
using testing::central_jacobian;
using testing::fix_entry;
using testing::make_observations;
using testing::make_problem;
using testing::matrix_of;
using testing::sum_of_squares;

std::vector<double> unit_times(int last) {
  std::vector<double> t;
  for (int k = 0; k <= last; ++k) t.push_back(k);
  return t;
}

// Two components observed at t = 0..10; a12 fixed, a21 in [0, 1], a22
// confined to the single point -0.3, a11 free.
struct Observed {
  ProblemRecord problem = make_problem({1.0, 0.5}, {0.0, 0.2}, {0.0, -0.1});
  ObservationRecord obs =
      make_observations(2, {0, 1}, {unit_times(10), unit_times(10)});
  Matrix truth = matrix_of({{-0.5, 0.2}, {0.1, -0.3}});
  Observed() {
    fix_entry(problem, 0, 1, 0.2);
    bound_entry(problem, 1, 0, 0.0, 1.0);
    bound_entry(problem, 1, 1, -0.3, -0.3);
    ExactMatrixModel model(problem, obs);
    model.evaluate(truth, obs.add_data);
  }
};

TEST(FitStatistics, ExactDataHasZeroResidualsAndZeroStandardErrors) {
  Observed c;
  ExactMatrixModel model(c.problem, c.obs);
  const FitStatistics st =
      compute_fit_statistics(c.problem, c.obs, model, c.truth);
  EXPECT_EQ(st.residuals, 20);  // the two points at t = 0 are not counted
  EXPECT_EQ(st.free_entries, 2);
  EXPECT_EQ(st.dof, 18);
  EXPECT_EQ(st.ssr, 0.0);
  EXPECT_NEAR(st.t_quantile, 2.100922, 1e-6);
  EXPECT_EQ(st.aic, -std::numeric_limits<double>::infinity());
  const EntryStatus expected[] = {EntryStatus::kFree, EntryStatus::kFixed,
                                  EntryStatus::kFree, EntryStatus::kFixed};
  for (int q = 0; q < 4; ++q) {
    const EntryEstimate& e = st.entries[q];
    EXPECT_EQ(e.status, expected[q]) << q;
    if (e.status != EntryStatus::kFree) continue;
    EXPECT_TRUE(e.determined);
    EXPECT_EQ(e.standard_error, 0.0);
  }
  EXPECT_EQ(st.rank, 2);
  EXPECT_TRUE(st.flat.empty());

  // On its bounds a bounded entry is not free and gets no standard error.
  for (const auto& [value, status] :
       {std::pair(0.0, EntryStatus::kOnLowerBound),
        std::pair(1.0, EntryStatus::kOnUpperBound)}) {
    Matrix A = c.truth;
    A[1][0] = value;
    const FitStatistics on = compute_fit_statistics(c.problem, c.obs, model, A);
    EXPECT_EQ(on.entries[2].status, status) << value;
    EXPECT_EQ(on.free_entries, 1);
    EXPECT_EQ(on.dof, 19);
    EXPECT_TRUE(std::isnan(on.entries[2].standard_error));
  }
}

TEST(FitStatistics, NoisyDataMatchesAFiniteDifferenceCovariance) {
  Observed c;
  // A fixed, sign-alternating disturbance of about 1e-2.
  for (int k = 0; k < 2; ++k) {
    for (int s = 1; s <= 10; ++s) {
      c.obs.add_data[k][s] += 0.01 * std::sin(3.0 * s + k);
    }
  }
  ExactMatrixModel model(c.problem, c.obs);
  const FitStatistics st =
      compute_fit_statistics(c.problem, c.obs, model, c.truth);
  // The sum of squares over the 20 samples after t = 0, and the information
  // criteria of 20 residuals and three parameters (two entries and sigma).
  const double ssr =
      sum_of_squares(model, c.truth, c.obs.add_data);  // t = 0 adds nothing
  EXPECT_NEAR(st.ssr, ssr, 1e-15);
  EXPECT_NEAR(st.rms, std::sqrt(ssr / 20), 1e-15);
  const double m2logl =
      20 * (std::log(2 * std::numbers::pi) + std::log(ssr / 20) + 1);
  EXPECT_NEAR(st.aic, m2logl + 6, 1e-9);
  EXPECT_NEAR(st.bic, m2logl + std::log(20.0) * 3, 1e-9);

  // Covariance s²(JᵀJ)⁻¹, s² = ssr / 18, with J from central differences of
  // the samples after t = 0 in the free entries' columns.
  const int free[] = {0, 2};
  const Table fd = central_jacobian(model, c.truth, c.obs.add_data, 1e-6);
  Eigen::MatrixXd J(20, 2);
  for (int row = 0; row < 20; ++row) {
    J(row, 0) = fd[row + 1 + row / 10][free[0]];
    J(row, 1) = fd[row + 1 + row / 10][free[1]];
  }
  const Eigen::MatrixXd cov = (ssr / 18) * (J.transpose() * J).inverse();
  for (int c2 = 0; c2 < 2; ++c2) {
    const EntryEstimate& e = st.entries[free[c2]];
    const double se = std::sqrt(cov(c2, c2));
    EXPECT_NEAR(e.standard_error, se, 1e-6 * se) << c2;
    EXPECT_NEAR(e.upper95 - e.value, st.t_quantile * se, 1e-6 * se);
    EXPECT_NEAR(e.value - e.lower95, st.t_quantile * se, 1e-6 * se);
  }
}

// Statistics at A of x0 = (1, 1) without sources, observed in x1 at
// t = 0..10 with the model's values at A (plus `bump` at t = 4); a21 is
// fixed at 0, and a22 too if `fix_a22`.
FitStatistics x1_statistics(const Matrix& A, bool fix_a22, double bump) {
  ProblemRecord problem = make_problem({1.0, 1.0}, {0.0, 0.0}, {0.0, 0.0});
  fix_entry(problem, 1, 0, 0.0);
  if (fix_a22) fix_entry(problem, 1, 1, 0.0);
  ObservationRecord obs = make_observations(2, {0}, {unit_times(10)});
  ExactMatrixModel model(problem, obs);
  model.evaluate(A, obs.add_data);
  obs.add_data[0][4] += bump;
  return compute_fit_statistics(problem, obs, model, A);
}

// x0 = (1, 1) and A = 0: a11 and a12 act on x1 only through x1 + x2 to
// first order, and a22 does not reach x1 while a12 = 0.
TEST(FitStatistics, RankDeficientProblemNamesTheFlatCombination) {
  const FitStatistics st = x1_statistics(make_matrix(2), false, 0.0);
  EXPECT_EQ(st.free_entries, 3);
  EXPECT_EQ(st.rank, 1);
  EXPECT_TRUE(std::isinf(st.condition));
  ASSERT_EQ(st.flat.size(), 2u);
  // The entry without effect first, alone.
  EXPECT_EQ(st.flat[0].entries, std::vector<int>{3});
  EXPECT_EQ(st.flat[0].ratio, 0.0);
  // Then a11 − a12 (in either order), exactly balanced.
  const FlatDirection& f = st.flat[1];
  ASSERT_EQ(f.entries.size(), 2u);
  EXPECT_EQ(f.entries[0] + f.entries[1], 1);
  EXPECT_EQ(f.coefficients[0], 1.0);
  EXPECT_NEAR(f.coefficients[1], -1.0, 1e-12);
  EXPECT_EQ(f.ratio, 0.0);
  for (int q : {0, 1, 3}) EXPECT_FALSE(st.entries[q].determined) << q;
  EXPECT_TRUE(st.correlated.empty());
}

// x0 = (1, 1), x2 constant, a11 = 1e-9: the columns of a11 (t·exp(a11·t))
// and a12 ((exp(a11·t) − 1)/a11) differ in shape by about a11·t²/2, so the
// problem has full rank but is far beyond the conditioning limit, and the
// two entries are correlated to −1.
TEST(FitStatistics, IllConditionedProblemNamesTheDirectionAndTheCorrelation) {
  const FitStatistics st =
      x1_statistics(matrix_of({{1e-9, 0.0}, {0.0, 0.0}}), true, 1e-3);
  EXPECT_EQ(st.rank, 2);
  EXPECT_GT(st.condition, kIllConditioned);
  ASSERT_EQ(st.flat.size(), 1u);
  EXPECT_GT(st.flat[0].ratio, 0.0);
  EXPECT_LT(st.flat[0].ratio, 1.0 / kIllConditioned);
  EXPECT_NEAR(st.flat[0].coefficients[1], -1.0, 1e-6);
  ASSERT_EQ(st.correlated.size(), 1u);
  EXPECT_EQ(st.correlated[0].first, 0);
  EXPECT_EQ(st.correlated[0].second, 1);
  EXPECT_LT(st.correlated[0].value, -0.95);
  EXPECT_TRUE(st.entries[0].determined);
  EXPECT_GT(st.entries[0].standard_error, 1e3);
}

TEST(FitStatistics, FewerResidualsThanEntriesLeaveNoDegreesOfFreedom) {
  ProblemRecord problem = make_problem({1.0, 2.0}, {0.0, 0.0}, {0.0, 0.0});
  ObservationRecord obs = make_observations(2, {0}, {{0.0, 5.0}});
  ExactMatrixModel model(problem, obs);
  const FitStatistics st =
      compute_fit_statistics(problem, obs, model, matrix_of({{-1, 0}, {0, 0}}));
  EXPECT_EQ(st.residuals, 1);
  EXPECT_EQ(st.dof, -3);
  EXPECT_TRUE(std::isnan(st.residual_standard_error));
  EXPECT_TRUE(std::isnan(st.t_quantile));
  EXPECT_EQ(st.rank, 1);
  for (const EntryEstimate& e : st.entries) {
    EXPECT_TRUE(std::isnan(e.standard_error));
  }
}

}  // namespace
}  // namespace identify
