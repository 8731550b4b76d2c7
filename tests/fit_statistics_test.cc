// Fit statistics on problems with known answers: exact data (zero residuals
// and standard errors), noisy data against an independent finite-difference
// covariance, parameter statuses, log-scaled parameters, and the unresolved
// directions of rank-deficient and ill-conditioned problems.
#include "fit/fit_statistics.h"

#include <gtest/gtest.h>

#include <Eigen/Dense>
#include <cmath>
#include <limits>
#include <numbers>
#include <utility>
#include <vector>

#include "model/exact/exact_model.h"
#include "problem/problem_builder.h"
#include "test_problems.h"

namespace identify {
namespace {

using testing::bound_entry;
using testing::fix_entry;
using testing::legacy_fit;
using testing::make_observations;
using testing::make_problem;
using testing::parameter;

// The model's values at θ, in measurement order.
std::vector<double> values_at(const FitProblem& problem,
                              const std::vector<double>& theta) {
  ExactModel model(problem);
  Evaluation at;
  model.evaluate(theta, at);
  return at.y;
}

FitStatistics statistics(const FitProblem& problem,
                         const std::vector<double>& theta) {
  ExactModel model(problem);
  return compute_fit_statistics(problem, model, theta);
}

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
  std::vector<double> truth = {-0.5, 0.2, 0.1, -0.3};
  Observed() {
    fix_entry(problem, 0, 1, 0.2);
    bound_entry(problem, 1, 0, 0.0, 1.0);
    bound_entry(problem, 1, 1, -0.3, -0.3);
    const std::vector<double> y = values_at(legacy_fit(problem, obs), truth);
    std::copy(y.begin(), y.end(), obs.add_data.data());
  }
  FitProblem fit() const { return legacy_fit(problem, obs); }
};

TEST(FitStatistics, ExactDataHasZeroResidualsAndZeroStandardErrors) {
  Observed c;
  const FitStatistics st = statistics(c.fit(), c.truth);
  EXPECT_EQ(st.residuals, 20);  // the two points at t = 0 are not counted
  EXPECT_EQ(st.free_parameters, 2);
  EXPECT_EQ(st.dof, 18);
  EXPECT_EQ(st.ssr, 0.0);
  EXPECT_NEAR(st.t_quantile, 2.100922, 1e-6);
  EXPECT_EQ(st.aic, -std::numeric_limits<double>::infinity());
  const ParameterStatus expected[] = {
      ParameterStatus::kFree, ParameterStatus::kFixed, ParameterStatus::kFree,
      ParameterStatus::kFixed};
  for (int q = 0; q < 4; ++q) {
    const ParameterEstimate& e = st.parameters[q];
    EXPECT_EQ(e.status, expected[q]) << q;
    if (e.status != ParameterStatus::kFree) continue;
    EXPECT_TRUE(e.determined);
    EXPECT_EQ(e.standard_error, 0.0);
  }
  EXPECT_EQ(st.rank, 2);
  EXPECT_TRUE(st.flat.empty());

  // On its bounds a bounded entry is not free and gets no standard error.
  for (const auto& [value, status] :
       {std::pair(0.0, ParameterStatus::kOnLowerBound),
        std::pair(1.0, ParameterStatus::kOnUpperBound)}) {
    std::vector<double> theta = c.truth;
    theta[2] = value;
    const FitStatistics on = statistics(c.fit(), theta);
    EXPECT_EQ(on.parameters[2].status, status) << value;
    EXPECT_EQ(on.free_parameters, 1);
    EXPECT_EQ(on.dof, 19);
    EXPECT_TRUE(std::isnan(on.parameters[2].standard_error));
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
  const FitProblem problem = c.fit();
  const FitStatistics st = statistics(problem, c.truth);
  // The sum of squares over the 20 samples after t = 0, and the information
  // criteria of 20 residuals and three parameters (two entries and sigma).
  const std::vector<double> y = values_at(problem, c.truth);
  double ssr = 0.0;  // t = 0 adds nothing
  for (std::size_t m = 0; m < y.size(); ++m) {
    ssr += std::pow(y[m] - c.obs.add_data.data()[m], 2);
  }
  EXPECT_NEAR(st.ssr, ssr, 1e-15);
  EXPECT_NEAR(st.rms, std::sqrt(ssr / 20), 1e-15);
  const double m2logl =
      20 * (std::log(2 * std::numbers::pi) + std::log(ssr / 20) + 1);
  EXPECT_NEAR(st.aic, m2logl + 6, 1e-9);
  EXPECT_NEAR(st.bic, m2logl + std::log(20.0) * 3, 1e-9);

  // Covariance s²(JᵀJ)⁻¹, s² = ssr / 18, with J from central differences of
  // the samples after t = 0 in the free entries' columns.
  const int free[] = {0, 2};
  Eigen::MatrixXd J(20, 2);
  for (int c2 = 0; c2 < 2; ++c2) {
    const double h = 1e-6;
    std::vector<double> up = c.truth, down = c.truth;
    up[free[c2]] += h;
    down[free[c2]] -= h;
    const std::vector<double> y_up = values_at(problem, up);
    const std::vector<double> y_down = values_at(problem, down);
    for (int row = 0; row < 20; ++row) {
      const int m = row + 1 + row / 10;  // past each series' point at t = 0
      J(row, c2) = (y_up[m] - y_down[m]) / (2 * h);
    }
  }
  const Eigen::MatrixXd cov = (ssr / 18) * (J.transpose() * J).inverse();
  for (int c2 = 0; c2 < 2; ++c2) {
    const ParameterEstimate& e = st.parameters[free[c2]];
    const double se = std::sqrt(cov(c2, c2));
    EXPECT_NEAR(e.standard_error, se, 1e-6 * se) << c2;
    EXPECT_NEAR(e.upper95 - e.value, st.t_quantile * se, 1e-6 * se);
    EXPECT_NEAR(e.value - e.lower95, st.t_quantile * se, 1e-6 * se);
  }
}

// Statistics at A of x0 = (1, 1) without sources, observed in x1 at
// t = 0..10 with the model's values at A (plus `bump` at t = 4); a21 is
// fixed at 0, and a22 too if `fix_a22`.
FitStatistics x1_statistics(const std::vector<double>& A, bool fix_a22,
                            double bump) {
  ProblemRecord problem = make_problem({1.0, 1.0}, {0.0, 0.0}, {0.0, 0.0});
  fix_entry(problem, 1, 0, 0.0);
  if (fix_a22) fix_entry(problem, 1, 1, 0.0);
  ObservationRecord obs = make_observations(2, {0}, {unit_times(10)});
  const std::vector<double> y = values_at(legacy_fit(problem, obs), A);
  std::copy(y.begin(), y.end(), obs.add_data.data());
  obs.add_data[0][4] += bump;
  return statistics(legacy_fit(problem, obs), A);
}

// x0 = (1, 1) and A = 0: a11 and a12 act on x1 only through x1 + x2 to
// first order, and a22 does not reach x1 while a12 = 0.
TEST(FitStatistics, RankDeficientProblemNamesTheFlatCombination) {
  const FitStatistics st = x1_statistics({0, 0, 0, 0}, false, 0.0);
  EXPECT_EQ(st.free_parameters, 3);
  EXPECT_EQ(st.rank, 1);
  EXPECT_TRUE(std::isinf(st.condition));
  ASSERT_EQ(st.flat.size(), 2u);
  // The entry without effect first, alone.
  EXPECT_EQ(st.flat[0].parameters, std::vector<int>{3});
  EXPECT_EQ(st.flat[0].ratio, 0.0);
  // Then a11 − a12 (in either order), exactly balanced.
  const FlatDirection& f = st.flat[1];
  ASSERT_EQ(f.parameters.size(), 2u);
  EXPECT_EQ(f.parameters[0] + f.parameters[1], 1);
  EXPECT_EQ(f.coefficients[0], 1.0);
  EXPECT_NEAR(f.coefficients[1], -1.0, 1e-12);
  EXPECT_EQ(f.ratio, 0.0);
  for (int q : {0, 1, 3}) EXPECT_FALSE(st.parameters[q].determined) << q;
  EXPECT_TRUE(st.correlated.empty());
}

// x0 = (1, 1), x2 constant, a11 = 1e-9: the columns of a11 (t·exp(a11·t))
// and a12 ((exp(a11·t) − 1)/a11) differ in shape by about a11·t²/2, so the
// problem has full rank but is far beyond the conditioning limit, and the
// two entries are correlated to −1.
TEST(FitStatistics, IllConditionedProblemNamesTheDirectionAndTheCorrelation) {
  const FitStatistics st = x1_statistics({1e-9, 0.0, 0.0, 0.0}, true, 1e-3);
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
  EXPECT_TRUE(st.parameters[0].determined);
  EXPECT_GT(st.parameters[0].standard_error, 1e3);
}

TEST(FitStatistics, FewerResidualsThanEntriesLeaveNoDegreesOfFreedom) {
  ProblemRecord problem = make_problem({1.0, 2.0}, {0.0, 0.0}, {0.0, 0.0});
  ObservationRecord obs = make_observations(2, {0}, {{0.0, 5.0}});
  const FitStatistics st =
      statistics(legacy_fit(problem, obs), {-1.0, 0.0, 0.0, 0.0});
  EXPECT_EQ(st.residuals, 1);
  EXPECT_EQ(st.dof, -3);
  EXPECT_TRUE(std::isnan(st.residual_standard_error));
  EXPECT_TRUE(std::isnan(st.t_quantile));
  EXPECT_EQ(st.rank, 1);
  for (const ParameterEstimate& e : st.parameters) {
    EXPECT_TRUE(std::isnan(e.standard_error));
  }
}

// y = A·exp(−k·t) with x0 = A, measured at t = 1..n near A = 2, k = 0.3;
// A and k in [lower, 100] (k in [lower, k_upper]) on `scale`.
FitProblem decay(Scale scale, const char* sigma, int n, double lower,
                 double k_upper = 100.0) {
  ProblemBuilder b({"x"});
  b.add_parameter(parameter("A", 2.0, lower, 100.0, scale));
  b.add_parameter(parameter("k", 0.3, lower, k_upper, scale));
  b.set_entry("x", "x", "-k");
  b.add_observable("y", {{"x", "1"}}, "0", sigma);
  const int e = b.add_experiment("e");
  b.set_x0(e, "x", "A");
  for (int q = 1; q <= n; ++q) {
    b.add_measurement(e, 0, q, 2.0 * std::exp(-0.3 * q) + 0.02 * std::sin(q));
  }
  return b.build();
}

// The decay with A and k on a log or log10 scale, sigma 0.5:
// the standard errors come in the parameters' own units, equal to those of
// the same fit posed on a linear scale, and the intervals are the
// log-scale ones mapped back (positive, and wider above than below).
TEST(FitStatistics, LogScaledParametersGetErrorsInTheirOwnUnits) {
  const std::vector<double> theta = {2.0, 0.3};
  const FitStatistics lin =
      statistics(decay(Scale::kLin, "0.5", 8, 1e-3), theta);
  for (const Scale scale : {Scale::kLog, Scale::kLog10}) {
    const FitStatistics st = statistics(decay(scale, "0.5", 8, 1e-3), theta);
    EXPECT_NEAR(st.ssr, lin.ssr, 1e-15);
    for (int k = 0; k < 2; ++k) {
      const ParameterEstimate& e = st.parameters[k];
      SCOPED_TRACE(e.name);
      ASSERT_TRUE(e.determined);
      EXPECT_NEAR(e.standard_error, lin.parameters[k].standard_error,
                  1e-9 * e.standard_error);
      const double x = std::log(e.value);
      const double t_se = st.t_quantile * e.standard_error / e.value;
      EXPECT_NEAR(e.lower95, std::exp(x - t_se), 1e-12 * e.value);
      EXPECT_NEAR(e.upper95, std::exp(x + t_se), 1e-12 * e.value);
      EXPECT_GT(e.upper95 - e.value, e.value - e.lower95);
    }
  }
}

// y = A·exp(−k·t) at t = 1..n with the same data posed with unit sigma
// and with sigma 0.05: with sigma given the errors are not scaled by s, so
// the standard errors differ by 0.05/s; S/0.05² is chi-square, with the
// closed-form tail of χ² on 6 degrees of freedom and the normal quantile;
// standard errors exist without degrees of freedom; and an interval beyond
// a bound is cut there and marked.
TEST(FitStatistics, GivenSigmaIsTakenAsKnownAndIntervalsStopAtBounds) {
  const std::vector<double> theta = {2.0, 0.3};
  const FitStatistics unit = statistics(decay(Scale::kLin, "1", 8, 0.0), theta);
  const FitStatistics given =
      statistics(decay(Scale::kLin, "0.05", 8, 0.0), theta);
  EXPECT_FALSE(unit.sigma_given);
  ASSERT_TRUE(given.sigma_given);
  EXPECT_NEAR(given.ssr, unit.ssr / 0.0025, 1e-14);
  const double s = unit.residual_standard_error;
  for (int k = 0; k < 2; ++k) {
    EXPECT_NEAR(given.parameters[k].standard_error,
                unit.parameters[k].standard_error * 0.05 / s,
                1e-9 * given.parameters[k].standard_error);
  }
  EXPECT_NEAR(given.t_quantile, 1.959963984540054, 1e-12);
  const double h = given.ssr / 2.0;
  EXPECT_NEAR(given.chi_square_p, std::exp(-h) * (1.0 + h + h * h / 2.0),
              1e-12);
  EXPECT_NEAR(given.aic,
              given.ssr + 8.0 * std::log(2.0 * std::numbers::pi * 0.0025) + 4.0,
              1e-12);

  const FitStatistics two =
      statistics(decay(Scale::kLin, "0.05", 2, 0.0), theta);
  EXPECT_EQ(two.dof, 0);
  EXPECT_TRUE(std::isnan(two.chi_square_p));
  EXPECT_GT(two.parameters[1].standard_error, 0.0);

  const FitProblem tight = decay(Scale::kLin, "0.05", 8, 0.0, 0.3001);
  FitStatistics cut = statistics(tight, theta);
  ASSERT_GT(cut.parameters[1].upper95, 0.3001);
  cut_at_bounds(tight, cut);
  EXPECT_EQ(cut.parameters[1].upper95, 0.3001);
  EXPECT_TRUE(cut.parameters[1].upper_cut);
  EXPECT_FALSE(cut.parameters[1].lower_cut || cut.parameters[0].upper_cut);
  EXPECT_EQ(cut.parameters[0].upper95, given.parameters[0].upper95);
}

}  // namespace
}  // namespace identify
