// The normal-equations Levenberg–Marquardt loop against Ceres' own run with
// the settings lm uses for small problems (dense QR, identity damping): the
// same optimum, on and off the bounds, and the callback's control of the run.
#include "fit/normal_lm.h"

#include <ceres/ceres.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace identify {
namespace {

constexpr int kSamples = 40;
constexpr int kUnknowns = 4;

// y(t) = p0·e^{−p1 t} + p2·e^{−p3 t} against data from (2, 1.5, 0.7, 0.2)
// with a fixed deterministic perturbation.
bool two_exponentials(const double* p, double* r, double* jacobian) {
  for (int i = 0; i < kSamples; ++i) {
    const double t = 0.1 * i;
    const double data = 2.0 * std::exp(-1.5 * t) + 0.7 * std::exp(-0.2 * t) +
                        1e-3 * std::sin(7.0 * i);
    const double e1 = std::exp(-p[1] * t), e2 = std::exp(-p[3] * t);
    r[i] = p[0] * e1 + p[2] * e2 - data;
    if (jacobian != nullptr) {
      double* row = jacobian + kUnknowns * i;
      row[0] = e1;
      row[1] = -t * p[0] * e1;
      row[2] = e2;
      row[3] = -t * p[2] * e2;
    }
  }
  return true;
}

class TwoExponentials : public ceres::SizedCostFunction<kSamples, kUnknowns> {
 public:
  bool Evaluate(double const* const* p, double* r,
                double** jacobians) const override {
    return two_exponentials(p[0], r,
                            jacobians == nullptr ? nullptr : jacobians[0]);
  }
};

class Counting : public ceres::IterationCallback {
 public:
  explicit Counting(int stop_at = -1) : stop_at_(stop_at) {}
  ceres::CallbackReturnType operator()(
      const ceres::IterationSummary& step) override {
    ++calls;
    return step.iteration == stop_at_ ? ceres::SOLVER_TERMINATE_SUCCESSFULLY
                                      : ceres::SOLVER_CONTINUE;
  }
  int calls = 0;

 private:
  int stop_at_;
};

double ssr(const std::vector<double>& p) {
  std::vector<double> r(kSamples);
  two_exponentials(p.data(), r.data(), nullptr);
  double s = 0.0;
  for (double v : r) s += v * v;
  return s;
}

// The first trust-region radius of the normal-equations loop at p:
// 1/(1e-3·max diag JᵀJ).
double first_radius(const std::vector<double>& p) {
  std::vector<double> r(kSamples), jacobian(kSamples * kUnknowns);
  two_exponentials(p.data(), r.data(), jacobian.data());
  double largest = 0.0;
  for (int k = 0; k < kUnknowns; ++k) {
    double d = 0.0;
    for (int i = 0; i < kSamples; ++i) {
      d += jacobian[kUnknowns * i + k] * jacobian[kUnknowns * i + k];
    }
    largest = std::max(largest, d);
  }
  return 1.0 / (1e-3 * largest);
}

// Ceres' run as lm sets it up for problems below the normal-equations size,
// from the first radius of the normal-equations loop so that both take the
// same path (from Ceres' own first radius, 1e4, the bounded case reaches a
// different local optimum).
std::vector<double> ceres_fit(std::vector<double> p, double upper1) {
  TwoExponentials cost;
  ceres::Problem::Options problem_options;
  problem_options.cost_function_ownership = ceres::DO_NOT_TAKE_OWNERSHIP;
  ceres::Problem problem(problem_options);
  problem.AddResidualBlock(&cost, nullptr, p.data());
  if (std::isfinite(upper1))
    problem.SetParameterUpperBound(p.data(), 1, upper1);
  ceres::Solver::Options options;
  options.linear_solver_type = ceres::DENSE_QR;
  options.jacobi_scaling = false;
  options.min_lm_diagonal = 1.0;
  options.max_lm_diagonal = 1.0;
  options.max_num_line_search_step_size_iterations = 0;
  options.function_tolerance = 1e-12;
  options.parameter_tolerance = 1e-10;
  options.gradient_tolerance = 0.0;
  options.max_num_iterations = 1000;
  options.initial_trust_region_radius = first_radius(p);
  options.logging_type = ceres::SILENT;
  ceres::Solver::Summary summary;
  ceres::Solve(options, &problem, &summary);
  EXPECT_EQ(summary.termination_type, ceres::CONVERGENCE);
  return p;
}

ceres::Solver::Summary normal_fit(std::vector<double>& p, double upper1,
                                  ceres::IterationCallback& callback) {
  const double inf = std::numeric_limits<double>::infinity();
  const std::vector<double> lower(kUnknowns, -inf);
  std::vector<double> upper(kUnknowns, inf);
  upper[1] = upper1;
  NormalLmSettings settings;
  settings.function_tolerance = 1e-12;
  settings.parameter_tolerance = 1e-10;
  ceres::Solver::Summary summary;
  normal_lm(two_exponentials, kSamples, p, lower, upper, settings, callback,
            summary);
  return summary;
}

TEST(NormalLm, ReachesCeresOptimumOnAndOffTheBounds) {
  const double inf = std::numeric_limits<double>::infinity();
  for (const double upper1 : {inf, 1.0}) {
    SCOPED_TRACE(upper1);
    const std::vector<double> start = {1.0, 0.5, 1.0, 0.05};
    const std::vector<double> reference = ceres_fit(start, upper1);
    std::vector<double> p = start;
    Counting callback;
    const ceres::Solver::Summary summary = normal_fit(p, upper1, callback);
    EXPECT_EQ(summary.termination_type, ceres::CONVERGENCE) << summary.message;
    EXPECT_NEAR(ssr(p), ssr(reference), 1e-10 * ssr(reference));
    EXPECT_LE(p[1], upper1);
    // One callback per recorded step, starting with iteration 0.
    EXPECT_EQ(callback.calls, static_cast<int>(summary.iterations.size()));
    EXPECT_EQ(summary.iterations.front().iteration, 0);
  }
}

TEST(NormalLm, CallbackEndsTheRunAtItsIteration) {
  std::vector<double> p = {1.0, 0.5, 1.0, 0.05};
  Counting callback(2);
  const ceres::Solver::Summary summary =
      normal_fit(p, std::numeric_limits<double>::infinity(), callback);
  EXPECT_EQ(summary.termination_type, ceres::USER_SUCCESS);
  EXPECT_EQ(callback.calls, 3);
  EXPECT_EQ(summary.iterations.back().iteration, 2);
}

TEST(NormalLm, FailedStartEvaluationIsAFailure) {
  std::vector<double> p = {1.0, 0.5, 1.0, 0.05};
  Counting callback;
  ceres::Solver::Summary summary;
  const std::vector<double> lower(kUnknowns, -1e300), upper(kUnknowns, 1e300);
  normal_lm([](const double*, double*, double*) { return false; }, kSamples, p,
            lower, upper, NormalLmSettings{}, callback, summary);
  EXPECT_EQ(summary.termination_type, ceres::FAILURE);
  EXPECT_EQ(callback.calls, 0);
}

}  // namespace
}  // namespace identify
