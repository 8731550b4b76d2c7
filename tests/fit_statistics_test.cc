// Fit statistics on problems with known answers: exact data (zero residuals
// and standard errors), noisy data against an independent finite-difference
// covariance, entry statuses, and the unresolved directions of rank-deficient
// and ill-conditioned problems.
#include "identify/fit_statistics.h"

#include <gtest/gtest.h>

#include <Eigen/Dense>
#include <cmath>
#include <numbers>

#include "model/exact_model.h"
#include "test_problems.h"

namespace identify {
namespace {

using testing::make_observations;
using testing::make_problem;
using testing::matrix_of;

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
    problem.fix_par_dim = 1;
    problem.fix_par_num = {{0, 1}};
    problem.fix_par_val = {0.2};
    problem.par_borders_dim = 2;
    problem.par_borders_num = {{1, 0}, {1, 1}};
    problem.par_borders_val = {{0.0, 1.0}, {-0.3, -0.3}};
    ExactModel model(problem, obs);
    model.evaluate(truth, obs.add_data);
  }
};

TEST(FitStatistics, ExactDataHasZeroResidualsAndZeroStandardErrors) {
  Observed c;
  ExactModel model(c.problem, c.obs);
  const FitStatistics st = compute_fit_statistics(c.problem, c.obs, model,
                                                  c.truth);
  EXPECT_EQ(st.residuals, 20);  // the two points at t = 0 are not counted
  EXPECT_EQ(st.free_entries, 2);
  EXPECT_EQ(st.dof, 18);
  EXPECT_EQ(st.ssr, 0.0);
  EXPECT_EQ(st.residual_standard_error, 0.0);
  EXPECT_NEAR(st.t_quantile, 2.100922, 1e-6);
  EXPECT_EQ(st.aic, -std::numeric_limits<double>::infinity());
  const EntryStatus expected[] = {EntryStatus::kFree, EntryStatus::kFixed,
                                  EntryStatus::kFree, EntryStatus::kFixed};
  for (int q = 0; q < 4; ++q) {
    const EntryEstimate& e = st.entries[q];
    EXPECT_EQ(e.status, expected[q]) << q;
    EXPECT_EQ(e.value, c.truth.data()[q]);
    if (e.status != EntryStatus::kFree) continue;
    EXPECT_TRUE(e.determined);
    EXPECT_EQ(e.standard_error, 0.0);
    EXPECT_EQ(e.lower95, e.value);
    EXPECT_EQ(e.upper95, e.value);
  }
  EXPECT_EQ(st.rank, 2);
  EXPECT_TRUE(st.flat.empty());

  // On its bounds a bounded entry is not free and gets no standard error.
  Matrix low = c.truth;
  low[1][0] = 0.0;
  EXPECT_EQ(compute_fit_statistics(c.problem, c.obs, model, low)
                .entries[2]
                .status,
            EntryStatus::kOnLowerBound);
  low[1][0] = 1.0;
  const FitStatistics up = compute_fit_statistics(c.problem, c.obs, model, low);
  EXPECT_EQ(up.entries[2].status, EntryStatus::kOnUpperBound);
  EXPECT_EQ(up.free_entries, 1);
  EXPECT_EQ(up.dof, 19);
  EXPECT_TRUE(std::isnan(up.entries[2].standard_error));
}

TEST(FitStatistics, NoisyDataMatchesAFiniteDifferenceCovariance) {
  Observed c;
  // A fixed, sign-alternating disturbance of about 1e-2.
  for (int k = 0; k < 2; ++k) {
    for (int s = 1; s <= 10; ++s) {
      c.obs.add_data[k][s] += 0.01 * std::sin(3.0 * s + k);
    }
  }
  ExactModel model(c.problem, c.obs);
  const FitStatistics st = compute_fit_statistics(c.problem, c.obs, model,
                                                  c.truth);
  // Residuals, sum of squares and the information criteria by hand.
  Table M;
  model.evaluate(c.truth, M);
  double ssr = 0.0;
  for (int k = 0; k < 2; ++k) {
    for (int s = 1; s <= 10; ++s) {
      ssr += (M[k][s] - c.obs.add_data[k][s]) * (M[k][s] - c.obs.add_data[k][s]);
    }
  }
  EXPECT_NEAR(st.ssr, ssr, 1e-15);
  EXPECT_NEAR(st.rms, std::sqrt(ssr / 20), 1e-15);
  EXPECT_NEAR(st.residual_standard_error, std::sqrt(ssr / 18), 1e-15);
  const double m2logl =
      20 * (std::log(2 * std::numbers::pi) + std::log(ssr / 20) + 1);
  EXPECT_NEAR(st.aic, m2logl + 6, 1e-9);
  EXPECT_NEAR(st.bic, m2logl + std::log(20.0) * 3, 1e-9);

  // Covariance s²(JᵀJ)⁻¹ with J from central differences of the samples.
  const int free[] = {0, 2};
  Eigen::MatrixXd J(20, 2);
  for (int c2 = 0; c2 < 2; ++c2) {
    const double h = 1e-6;
    Matrix plus = c.truth, minus = c.truth;
    plus.data()[free[c2]] += h;
    minus.data()[free[c2]] -= h;
    Table Mp, Mm;
    model.evaluate(plus, Mp);
    model.evaluate(minus, Mm);
    for (int k = 0; k < 2; ++k) {
      for (int s = 1; s <= 10; ++s) {
        J(k * 10 + s - 1, c2) = (Mp[k][s] - Mm[k][s]) / (2 * h);
      }
    }
  }
  const Eigen::MatrixXd cov = (ssr / 18) * (J.transpose() * J).inverse();
  for (int c2 = 0; c2 < 2; ++c2) {
    const EntryEstimate& e = st.entries[free[c2]];
    const double se = std::sqrt(cov(c2, c2));
    EXPECT_NEAR(e.standard_error, se, 1e-6 * se) << c2;
    EXPECT_NEAR(e.upper95 - e.value, st.t_quantile * se, 1e-6 * se);
  }
}

// x0 = (1, 1) and A = 0: a11 and a12 act on x1 only through x1 + x2 to
// first order, and a22 does not reach x1 while a12 = 0.
TEST(FitStatistics, RankDeficientProblemNamesTheFlatCombination) {
  ProblemRecord problem = make_problem({1.0, 1.0}, {0.0, 0.0}, {0.0, 0.0});
  problem.fix_par_dim = 1;
  problem.fix_par_num = {{1, 0}};
  problem.fix_par_val = {0.0};
  ObservationRecord obs = make_observations(2, {0}, {unit_times(10)});
  ExactModel model(problem, obs);
  const Matrix A = matrix_of({{0.0, 0.0}, {0.0, 0.0}});
  model.evaluate(A, obs.add_data);
  const FitStatistics st = compute_fit_statistics(problem, obs, model, A);
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
  ProblemRecord problem =
      make_problem({1.0, 1.0}, {0.0, 0.0}, {0.0, 0.0});
  problem.fix_par_dim = 2;
  problem.fix_par_num = {{1, 0}, {1, 1}};
  problem.fix_par_val = {0.0, 0.0};
  ObservationRecord obs = make_observations(2, {0}, {unit_times(10)});
  ExactModel model(problem, obs);
  const Matrix A = matrix_of({{1e-9, 0.0}, {0.0, 0.0}});
  model.evaluate(A, obs.add_data);
  obs.add_data[0][4] += 1e-3;
  const FitStatistics st = compute_fit_statistics(problem, obs, model, A);
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
  ExactModel model(problem, obs);
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
