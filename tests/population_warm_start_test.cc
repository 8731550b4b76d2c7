// Starting the inner problems from the first-order prediction of the modes:
// the prediction's slope dη̂/dx against central differences of the modes,
// and the modes and OFV reached from it against those from η = 0.
#include <gtest/gtest.h>

#include <Eigen/Dense>
#include <cmath>
#include <string>

#include "fit/population/focei_objective.h"
#include "fit/population/outer_gradient.h"
#include "fit/population/population_fit.h"
#include "input/yaml_problem_file.h"

namespace identify {
namespace {

struct Theophylline {
  Theophylline()
      : problem(read_yaml_problem(std::string(IDENTIFY_EXAMPLES_DIR) +
                                  "/theophylline_population/problem.yaml")
                    .problem),
        fitted(population_fixed_effects(problem)),
        omega(problem.population),
        objective(problem, 2) {
    objective.enable_gradient(fitted);
  }
  // The OFV at x, the modes from where they are now.
  double evaluate(const std::vector<double>& x) {
    std::vector<double> theta = problem.values();
    outer_point(problem, fitted, omega, x, theta);
    return objective.evaluate(
        theta, omega.factor(std::span<const double>(x).subspan(fitted.size())));
  }
  // The OFV at x with the modes from η = 0.
  double cold(const std::vector<double>& x) {
    objective.reset_modes();
    return evaluate(x);
  }
  // The gradient at x, after evaluate(x).
  void gradient(const std::vector<double>& x) {
    std::vector<double> theta = problem.values();
    const OuterPoint point = outer_point(problem, fitted, omega, x, theta);
    Eigen::VectorXd total;
    std::vector<Eigen::VectorXd> scores;
    ASSERT_TRUE(objective.gradient(point, total, scores));
  }
  std::vector<Eigen::VectorXd> modes() const {
    std::vector<Eigen::VectorXd> out;
    for (const SubjectMode& m : objective.modes()) out.push_back(m.eta);
    return out;
  }

  FitProblem problem;
  std::vector<int> fitted;
  OmegaParameters omega;
  FoceiObjective objective;
};

// tka, tcl, tke, ln a, ln sd(eta_ka), ln sd(eta_cl).
const std::vector<double> kX{0.45,          -3.2,          -2.45,
                             std::log(0.7), std::log(0.6), std::log(0.2)};

TEST(PopulationWarmStart, ModeSlopeMatchesCentralDifferences) {
  Theophylline t;
  t.cold(kX);
  const std::vector<Eigen::VectorXd> at = t.modes();
  // Richardson-extrapolated central differences (steps 2e-3 and 1e-3):
  // steps large against the inner tolerance, truncation O(h⁴).
  const auto central = [&](std::size_t k, double h) {
    std::vector<double> up = kX, down = kX;
    up[k] += h;
    down[k] -= h;
    t.cold(up);
    const std::vector<Eigen::VectorXd> modes_up = t.modes();
    t.cold(down);
    std::vector<Eigen::VectorXd> d = t.modes();
    for (std::size_t i = 0; i < d.size(); ++i) {
      d[i] = (modes_up[i] - d[i]) / (2.0 * h);
    }
    return d;
  };
  for (std::size_t k = 0; k < kX.size(); ++k) {
    t.cold(kX);
    t.gradient(kX);
    Eigen::VectorXd unit = Eigen::VectorXd::Zero(kX.size());
    unit[k] = 1.0;
    t.objective.predict_modes(unit);
    const std::vector<Eigen::VectorXd> predicted = t.modes();
    const std::vector<Eigen::VectorXd> coarse = central(k, 2e-3),
                                       fine = central(k, 1e-3);
    for (std::size_t i = 0; i < at.size(); ++i) {
      const Eigen::VectorXd slope = predicted[i] - at[i];
      const Eigen::VectorXd central = (4.0 * fine[i] - coarse[i]) / 3.0;
      EXPECT_LT((slope - central).lpNorm<Eigen::Infinity>(),
                1e-5 * (1.0 + central.lpNorm<Eigen::Infinity>()))
          << "subject " << i << ", entry " << k;
    }
  }
}

TEST(PopulationWarmStart, PredictedStartsReachTheColdModes) {
  Theophylline t;
  std::vector<double> next = kX;
  const std::vector<double> dx{0.05, -0.04, 0.03, 0.1, -0.08, 0.06};
  Eigen::VectorXd step(dx.size());
  for (std::size_t k = 0; k < dx.size(); ++k) {
    next[k] += dx[k];
    step[k] = dx[k];
  }
  const double cold = t.cold(next);
  const std::vector<Eigen::VectorXd> cold_modes = t.modes();
  t.cold(kX);
  const std::vector<Eigen::VectorXd> previous = t.modes();
  t.gradient(kX);
  t.objective.predict_modes(step);
  const std::vector<Eigen::VectorXd> predicted = t.modes();
  const double warm = t.evaluate(next);
  EXPECT_NEAR(warm, cold, 1e-9 * std::abs(cold));
  double previous_gap = 0.0, predicted_gap = 0.0;
  for (std::size_t i = 0; i < cold_modes.size(); ++i) {
    EXPECT_LT((t.modes()[i] - cold_modes[i]).lpNorm<Eigen::Infinity>(), 1e-7);
    previous_gap += (previous[i] - cold_modes[i]).norm();
    predicted_gap += (predicted[i] - cold_modes[i]).norm();
  }
  // The prediction is well inside the distance the modes moved.
  EXPECT_LT(predicted_gap, 0.2 * previous_gap);
  // An evaluate() in between makes the slopes stale: no prediction then.
  t.cold(kX);
  const std::vector<Eigen::VectorXd> unmoved = t.modes();
  t.objective.predict_modes(step);
  for (std::size_t i = 0; i < unmoved.size(); ++i) {
    EXPECT_EQ(t.modes()[i], unmoved[i]);
  }
}

}  // namespace
}  // namespace identify
