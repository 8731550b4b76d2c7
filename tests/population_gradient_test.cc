// The exact outer gradient of the FOCE-I objective: each subject's gradient
// against central differences of its own OFV_i, for the theophylline
// population (additive error, diagonal Ω) and for the simulated population
// with proportional error (σ depends on η through the model value) and a
// correlated block of Ω; the jet matrix exponential against the plain one.
#include <gtest/gtest.h>

#include <Eigen/Dense>
#include <cmath>
#include <string>
#include <unsupported/Eigen/MatrixFunctions>

#include "fit/population/focei_objective.h"
#include "fit/population/jet_exponential.h"
#include "fit/population/outer_gradient.h"
#include "fit/population/population_fit.h"
#include "input/yaml_problem_file.h"
#include "population_inputs.h"

namespace identify {
namespace {

using testing::example;

// Per-subject OFV_i at x, each inner problem from η = 0.
std::vector<double> subject_ofvs(FoceiObjective& objective,
                                 const FitProblem& problem,
                                 const std::vector<int>& fitted,
                                 const OmegaParameters& omega,
                                 const std::vector<double>& x) {
  std::vector<double> theta = problem.values();
  outer_point(problem, fitted, omega, x, theta);
  objective.reset_modes();
  objective.evaluate(
      theta, omega.factor(std::span<const double>(x).subspan(fitted.size())));
  std::vector<double> out;
  for (const SubjectMode& m : objective.modes()) out.push_back(m.ofv);
  return out;
}

// Every subject's exact gradient at x against central differences.
void check_scores(FitProblem problem, const std::vector<double>& x) {
  const std::vector<int> fitted = population_fixed_effects(problem);
  const OmegaParameters omega(problem.population);
  ASSERT_EQ(x.size(), fitted.size() + omega.size());
  FoceiObjective objective(problem, 2);
  ASSERT_TRUE(objective.enable_gradient(fitted));
  subject_ofvs(objective, problem, fitted, omega, x);
  std::vector<double> theta = problem.values();
  const OuterPoint point = outer_point(problem, fitted, omega, x, theta);
  Eigen::VectorXd total;
  std::vector<Eigen::VectorXd> scores;
  ASSERT_TRUE(objective.gradient(point, total, scores));
  // Richardson-extrapolated central differences (steps 2e-3 and 1e-3):
  // steps large against the inner problem's tolerance, truncation O(h⁴).
  const auto central = [&](std::size_t k, double h) {
    std::vector<double> up = x, down = x;
    up[k] += h;
    down[k] -= h;
    const std::vector<double> fu =
        subject_ofvs(objective, problem, fitted, omega, up);
    const std::vector<double> fd =
        subject_ofvs(objective, problem, fitted, omega, down);
    std::vector<double> d;
    for (std::size_t i = 0; i < fu.size(); ++i) {
      d.push_back((fu[i] - fd[i]) / (2.0 * h));
    }
    return d;
  };
  for (std::size_t k = 0; k < x.size(); ++k) {
    const std::vector<double> coarse = central(k, 2e-3),
                              fine = central(k, 1e-3);
    double sum = 0.0;
    for (int i = 0; i < objective.subject_count(); ++i) {
      const double difference = (4.0 * fine[i] - coarse[i]) / 3.0;
      EXPECT_NEAR(scores[i][k], difference, 1e-5 * (1.0 + std::abs(difference)))
          << "subject " << i << ", entry " << k;
      sum += scores[i][k];
    }
    EXPECT_DOUBLE_EQ(total[k], sum);
  }
}

TEST(PopulationGradient, TheophyllineSubjectsMatchCentralDifferences) {
  // tka, tcl, tke, ln a, ln sd(eta_ka), ln sd(eta_cl).
  check_scores(
      example("theophylline_population"),
      {0.45, -3.2, -2.45, std::log(0.7), std::log(0.6), std::log(0.2)});
}

TEST(PopulationGradient, ProportionalErrorAndCorrelatedBlock) {
  FitProblem problem = example("population_simulated");
  problem.population.correlated = {{0, 1}};
  // tcl, tv1, tq, tv2, ln b, ln sd(eta_cl), ln sd(eta_v1), L(v1, cl).
  problem.experiments.resize(12);  // s1-s10, two single-sample subjects
  problem.experiments[10] = example("population_simulated").experiments[92];
  problem.experiments[11] = example("population_simulated").experiments[99];
  check_scores(problem, {1.5, 3.1, 1.0, 3.6, std::log(0.12), std::log(0.3),
                         std::log(0.25), 0.05});
}

TEST(PopulationGradient, InfusionsBolusesAndSources) {
  // tka, tcl, tke, ln a (a is also the infusions' duration and the
  // sources' amplitude), ln sd(eta_ka), ln sd(eta_cl).
  check_scores(
      testing::theophylline_with_inputs(),
      {0.45, -3.2, -2.45, std::log(0.7), std::log(0.6), std::log(0.2)});
}

// Which experiments the closed-form jet model covers: inputs yes; steady
// states, pre-equilibration and a matrix that changes over time not (those
// fit without the outer gradient rather than with a wrong one).
TEST(PopulationGradient, CoveredExperiments) {
  const FitProblem base = testing::theophylline_with_inputs();
  const std::vector<int> fitted = population_fixed_effects(base);
  const struct {
    const char* name;
    void (*change)(Experiment&);
    bool covered;
  } cases[] = {
      {"inputs", [](Experiment&) {}, true},
      {"steady dose", [](Experiment& e) { e.doses[0].steady_interval = 12.0; },
       false},
      {"matrix phase",
       [](Experiment& e) {
         e.phases.push_back({5.0, e.matrix});
       },
       false},
      {"steady start", [](Experiment& e) { e.steady_start = SteadyStart(); },
       false},
      {"pre-equilibration",
       [](Experiment& e) { e.pre_equilibration = PreEquilibration(); }, false},
  };
  for (const auto& c : cases) {
    FitProblem problem = base;
    c.change(problem.experiments[3]);
    EXPECT_EQ(SubjectJets::covers(problem, fitted), c.covered) << c.name;
  }
}

TEST(JetExponential, MatchesThePlainExponentialAndItsDerivatives) {
  // A(z) = [[-z0, 0], [z0, -z1]]·τ, τ = 3 (norm large enough to square).
  const int m = 2;
  const Jet k0 = Jet::variable(1.3, 0, m, m), k1 = Jet::variable(0.2, 1, m, m);
  JetMatrix a{2, {-k0, Jet(0.0, m, m), k0, -k1}};
  for (Jet& e : a.a) e = 3.0 * e;
  const JetMatrix e = jet_exponential(a);
  const auto plain = [](double z0, double z1) {
    Eigen::Matrix2d A;
    A << -z0, 0.0, z0, -z1;
    return Eigen::Matrix2d((3.0 * A).exp());
  };
  const Eigen::Matrix2d at = plain(1.3, 0.2);
  const double h = 1e-4;
  for (int r = 0; r < 2; ++r) {
    for (int c = 0; c < 2; ++c) {
      EXPECT_NEAR(e(r, c).v, at(r, c), 1e-14);
      const double d0 =
          (plain(1.3 + h, 0.2)(r, c) - plain(1.3 - h, 0.2)(r, c)) / (2 * h);
      const double d00 = (plain(1.3 + h, 0.2)(r, c) - 2 * at(r, c) +
                          plain(1.3 - h, 0.2)(r, c)) /
                         (h * h);
      EXPECT_NEAR(e(r, c).g[0], d0, 1e-8);
      EXPECT_NEAR(e(r, c).h(0, 0), d00, 1e-5);
    }
  }
  // The closed form of the absorption entry: k0(e^{-3 k1} − e^{-3 k0})/(k0 −
  // k1).
  const Jet closed = k0 * (exp(-3.0 * k1) - exp(-3.0 * k0)) / (k0 - k1);
  EXPECT_NEAR(e(1, 0).v, closed.v, 1e-14);
  EXPECT_NEAR((e(1, 0).g - closed.g).norm(), 0.0, 1e-13);
  EXPECT_NEAR((e(1, 0).h - closed.h).norm(), 0.0, 1e-12);
}

}  // namespace
}  // namespace identify
