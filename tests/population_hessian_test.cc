// The exact Hessian of the FOCE-I objective: the summed subject Hessians
// against central differences of the exact gradient (the derivative they
// differentiate) for the theophylline population and for the simulated one
// with proportional error, a correlated block of Ω and single-sample
// subjects; the dual jets' tangents (third derivatives of the elementary
// functions) against differences of plain jets.
#include <gtest/gtest.h>

#include <Eigen/Dense>
#include <cmath>
#include <functional>
#include <string>

#include "fit/population/dual_jet.h"
#include "fit/population/focei_objective.h"
#include "fit/population/outer_hessian.h"
#include "fit/population/population_fit.h"
#include "input/yaml_problem_file.h"
#include "population_inputs.h"

namespace identify {
namespace {

using testing::example;

struct Outer {
  FitProblem problem;
  std::vector<int> fitted = population_fixed_effects(problem);
  OmegaParameters omega{problem.population};
  FoceiObjective objective{problem, 2};
  std::vector<double> theta = problem.values();

  // The modes at x (from η = 0) and the point there.
  OuterPoint solve(const std::vector<double>& x) {
    const OuterPoint point = outer_point(problem, fitted, omega, x, theta);
    objective.reset_modes();
    objective.evaluate(
        theta, omega.factor(std::span<const double>(x).subspan(fitted.size())));
    return point;
  }
  Eigen::VectorXd gradient(const std::vector<double>& x) {
    const OuterPoint point = solve(x);
    Eigen::VectorXd total;
    std::vector<Eigen::VectorXd> scores;
    EXPECT_TRUE(objective.gradient(point, total, scores));
    return total;
  }
  Eigen::MatrixXd hessian(const std::vector<double>& x) {
    const OuterPoint point = solve(x);
    Eigen::MatrixXd h;
    EXPECT_TRUE(objective.hessian(
        point, outer_curvature(problem, fitted, omega, x), h));
    return h;
  }
};

// ∇²OFV at x against Richardson-extrapolated central differences of the
// exact gradient (steps 2e-3 and 1e-3, truncation O(h⁴)).
void check_hessian(FitProblem problem, const std::vector<double>& x,
                   double tolerance) {
  Outer outer{std::move(problem)};
  ASSERT_TRUE(outer.objective.enable_gradient(outer.fitted));
  ASSERT_EQ(x.size(), outer.fitted.size() + outer.omega.size());
  const Eigen::MatrixXd exact = outer.hessian(x);
  const auto central = [&](std::size_t k, double h) {
    std::vector<double> up = x, down = x;
    up[k] += h;
    down[k] -= h;
    return Eigen::VectorXd((outer.gradient(up) - outer.gradient(down)) /
                           (2.0 * h));
  };
  const double scale = exact.cwiseAbs().maxCoeff();
  for (std::size_t k = 0; k < x.size(); ++k) {
    const Eigen::VectorXd difference =
        (4.0 * central(k, 1e-3) - central(k, 2e-3)) / 3.0;
    for (std::size_t r = 0; r < x.size(); ++r) {
      EXPECT_NEAR(exact(r, k), difference[r], tolerance * scale)
          << "entry (" << r << ", " << k << ")";
    }
  }
  EXPECT_LT((exact - exact.transpose()).norm(), 1e-6 * scale);
}

TEST(PopulationHessian, TheophyllineMatchesDifferencesOfTheGradient) {
  // tka, tcl, tke, ln a, ln sd(eta_ka), ln sd(eta_cl).
  check_hessian(
      example("theophylline_population"),
      {0.45, -3.2, -2.45, std::log(0.7), std::log(0.6), std::log(0.2)}, 1e-6);
}

TEST(PopulationHessian, ProportionalErrorAndCorrelatedBlock) {
  FitProblem problem = example("population_simulated");
  problem.population.correlated = {{0, 1}};
  problem.experiments.resize(12);  // s1-s10, two single-sample subjects
  problem.experiments[10] = example("population_simulated").experiments[92];
  problem.experiments[11] = example("population_simulated").experiments[99];
  // tcl, tv1, tq, tv2, ln b, ln sd(eta_cl), ln sd(eta_v1), L(v1, cl).
  check_hessian(
      problem,
      {1.5, 3.1, 1.0, 3.6, std::log(0.12), std::log(0.3), std::log(0.25), 0.05},
      1e-6);
}

TEST(PopulationHessian, InfusionsBolusesAndSources) {
  check_hessian(
      testing::theophylline_with_inputs(),
      {0.45, -3.2, -2.45, std::log(0.7), std::log(0.6), std::log(0.2)}, 1e-6);
}

// Each elementary function of a dual jet: its tangent along δ against
// central differences of the plain jet along δ (value, gradient and
// Hessian columns), for a two-variable inner expression u(z).
TEST(DualJet, TangentsMatchDifferencesOfJets) {
  using JetFn = std::function<Jet(const Jet&)>;
  using DualFn = std::function<DualJet(const DualJet&)>;
  const struct {
    const char* name;
    JetFn jet;
    DualFn dual;
  } cases[] = {
      {"exp", [](const Jet& u) { return exp(u); },
       [](const DualJet& u) { return exp(u); }},
      {"log", [](const Jet& u) { return log(u); },
       [](const DualJet& u) { return log(u); }},
      {"sqrt", [](const Jet& u) { return sqrt(u); },
       [](const DualJet& u) { return sqrt(u); }},
      {"reciprocal", [](const Jet& u) { return reciprocal(u); },
       [](const DualJet& u) { return reciprocal(u); }},
      {"pow 2.5", [](const Jet& u) { return pow(u, Jet(2.5)); },
       [](const DualJet& u) { return pow(u, DualJet(2.5)); }},
      {"pow jet", [](const Jet& u) { return pow(u, u * u); },
       [](const DualJet& u) { return pow(u, u * u); }},
      {"quotient", [](const Jet& u) { return (u + Jet(1.0)) / (u * u); },
       [](const DualJet& u) { return (u + DualJet(1.0)) / (u * u); }},
  };
  const double z0 = 0.7, z1 = 1.3, d0 = 0.4, d1 = -0.9;
  // u = z0·z1 + z0², all of whose derivatives are nonzero somewhere.
  const auto inner = [](const auto& a, const auto& b) { return a * b + a * a; };
  const auto jet_at = [&](const JetFn& f, double t) {
    return f(inner(Jet::variable(z0 + t * d0, 0, 2, 2),
                   Jet::variable(z1 + t * d1, 1, 2, 2)));
  };
  const double h = 1e-5;
  for (const auto& c : cases) {
    const DualJet a{Jet::variable(z0, 0, 2, 2), Jet(d0, 2, 2)};
    const DualJet b{Jet::variable(z1, 1, 2, 2), Jet(d1, 2, 2)};
    const DualJet r = c.dual(inner(a, b));
    const Jet up = jet_at(c.jet, h), down = jet_at(c.jet, -h);
    const Jet plain = jet_at(c.jet, 0.0);
    EXPECT_EQ(r.v.v, plain.v) << c.name;
    EXPECT_NEAR(r.d.v, (up.v - down.v) / (2 * h), 1e-7) << c.name;
    EXPECT_NEAR((r.d.g - (up.g - down.g) / (2 * h)).norm(), 0.0, 1e-7)
        << c.name;
    EXPECT_NEAR((r.d.h - (up.h - down.h) / (2 * h)).norm(), 0.0, 1e-6)
        << c.name;
  }
}

TEST(DualJet, PlainNumbersMeetWithoutSizes) {
  // Constants of an expression are jets of size 0; their sums stay plain.
  const Jet sum = Jet(2.0) + Jet(3.0);
  EXPECT_EQ(sum.v, 5.0);
  EXPECT_EQ(sum.size(), 0);
  const DualJet dual = DualJet(2.0) * DualJet(3.0) + DualJet(1.0);
  EXPECT_EQ(dual.v.v, 7.0);
  EXPECT_EQ(dual.d.v, 0.0);
}

}  // namespace
}  // namespace identify
