// The covariance step and the picture of a population fit: the simulated
// population's truth within two standard errors, the theophylline standard
// errors against an independent computation of the same sandwich
// (tools/population_covariance.py), the fallback to S when R is not
// positive definite, and the command line: the parameter table's columns,
// --covariance, --plot.
#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "fit/population/covariance_step.h"
#include "input/yaml_problem_file.h"
#include "output/population_plot.h"
#include "output/population_tables.h"
#include "population_inputs.h"
#include "run_binary.h"

namespace identify {
namespace {

using testing::example;

// x̂ = (fitted fixed effects on their scales, u).
std::vector<double> outer_estimate(const FitProblem& problem,
                                   const PopulationFit& fit) {
  std::vector<double> x;
  for (int k : fit.fitted) {
    x.push_back(to_scaled(problem.parameters[k].scale, fit.theta[k]));
  }
  x.insert(x.end(), fit.omega_u.begin(), fit.omega_u.end());
  return x;
}

TEST(PopulationCovariance, SimulatedTruthWithinTwoStandardErrors) {
  const FitProblem problem = example("population_simulated");
  PopulationSettings settings;
  settings.threads = 2;
  const PopulationFit fit = fit_population(problem, settings);
  const CovarianceStep c =
      covariance_step(problem, fit, CovarianceKind::kSandwich, 2);
  ASSERT_TRUE(c.available);
  EXPECT_FALSE(c.r_not_positive);
  EXPECT_EQ(c.used, CovarianceKind::kSandwich);
  // tools/simulate_population.py: CL 5, V1 20, Q 3, V2 40, b 0.1, SDs 0.3
  // and 0.2 (log CL, log V1, log Q, log V2, ln b, ln SDs).
  const double truth[] = {std::log(5.0),  std::log(20.0), std::log(3.0),
                          std::log(40.0), std::log(0.1),  std::log(0.3),
                          std::log(0.2)};
  const std::vector<double> x = outer_estimate(problem, fit);
  ASSERT_EQ(x.size(), 7u);
  for (int k = 0; k < 7; ++k) {
    const double se = std::sqrt(c.covariance(k, k));
    EXPECT_GT(se, 0.0) << k;
    EXPECT_LT(std::abs(x[k] - truth[k]), 2.0 * se) << k;
  }
}

TEST(PopulationCovariance, KindsAndTheFallbackToS) {
  const FitProblem problem = example("theophylline_population");
  const PopulationFit fit = fit_population(problem, PopulationSettings());
  const CovarianceStep sandwich =
      covariance_step(problem, fit, CovarianceKind::kSandwich, 1);
  const CovarianceStep r = covariance_step(problem, fit, CovarianceKind::kR, 1);
  const CovarianceStep s = covariance_step(problem, fit, CovarianceKind::kS, 1);
  // tools/population_covariance.py at this fit's estimate: standard errors
  // of x = (tka, tcl, tke, ln a, ln sd_ka, ln sd_cl). Its R comes from
  // second differences of its own OFV, so R⁻¹ and the sandwich agree to
  // about 1%; S⁻¹ uses first derivatives only and agrees closely.
  const double kSandwich[] = {0.19866231, 0.08216902, 0.06317195,
                              0.12644921, 0.26382093, 0.20236593};
  const double kR[] = {0.19759372, 0.05949302, 0.05109471,
                       0.06804202, 0.22789981, 0.21639527};
  const double kS[] = {0.28717320, 0.06475252, 0.10124449,
                       0.04830650, 0.34620305, 0.42419196};
  const struct {
    const CovarianceStep* step;
    const double* reference;
    double tolerance;
  } kinds[] = {{&sandwich, kSandwich, 0.02}, {&r, kR, 0.02}, {&s, kS, 1e-4}};
  for (const auto& kind : kinds) {
    const CovarianceStep& c = *kind.step;
    ASSERT_TRUE(c.available);
    EXPECT_FALSE(c.r_not_positive);
    EXPECT_TRUE(c.covariance.allFinite());
    EXPECT_GT(c.condition, 1.0);
    for (int k = 0; k < 6; ++k) {
      EXPECT_NEAR(std::sqrt(c.covariance(k, k)), kind.reference[k],
                  kind.tolerance * kind.reference[k])
          << covariance_kind_name(c.used) << " " << k;
    }
  }
  EXPECT_EQ(s.used, CovarianceKind::kS);
  // A start point far from the optimum, where the OFV is not convex: R is
  // indefinite and the step falls back to S, saying so.
  PopulationFit away = fit;
  away.theta[0] = 3.0;  // tka
  away.omega_u = {std::log(0.05), std::log(0.6)};
  away.omega = Eigen::Vector2d(0.0025, 0.36).asDiagonal();
  const CovarianceStep fallback =
      covariance_step(problem, away, CovarianceKind::kSandwich, 1);
  EXPECT_TRUE(fallback.r_not_positive);
  EXPECT_EQ(fallback.used, CovarianceKind::kS);
  for (const SubjectMode& m : fit.modes) EXPECT_FALSE(m.stalled);
  EXPECT_EQ(population_report(problem, fit, sandwich).find("warning"),
            std::string::npos);
  away.modes[2].stalled = away.modes[6].stalled = true;
  const std::string report = population_report(problem, away, fallback);
  EXPECT_NE(report.find("not positive definite"), std::string::npos);
  EXPECT_NE(report.find("warning\tthe conditional modes of subject3, subject7 "
                        "stopped short of stationarity"),
            std::string::npos)
      << report;
  if (fallback.available) {
    EXPECT_TRUE(fallback.covariance.allFinite());
  }
}

TEST(PopulationCovariance, NormalQuantile) {
  EXPECT_NEAR(normal_quantile(0.5), 0.0, 1e-15);
  EXPECT_NEAR(normal_quantile(0.975), 1.959963984540054, 1e-12);
  EXPECT_NEAR(normal_quantile(0.001), -3.090232306167813, 1e-12);
}

TEST(PopulationCovariance, CommandLine) {
  testing::ScratchDir dir("theophylline_population");
  const testing::RunResult ok = dir.run("problem.yaml --plot fit.png");
  ASSERT_EQ(ok.exit_code, 0) << ok.err;
  EXPECT_NE(ok.out.find("covariance step\tsandwich R^-1 S R^-1, condition "),
            std::string::npos)
      << ok.out;
  const std::string table = dir.read("problem.parameters.tsv");
  EXPECT_EQ(table.substr(0, table.find('\n')),
            "parameter\tkind\testimate\tvariance\tcv_percent\tse\trse_percent"
            "\tlower95\tupper95");
  EXPECT_EQ(dir.read("fit.png").substr(1, 3), "PNG");
  const testing::RunResult bad = dir.run("problem.yaml --covariance x");
  EXPECT_EQ(bad.exit_code, 2);
  EXPECT_EQ(bad.err,
            "identify: --covariance: expected one of sandwich, r, s, found "
            "\"x\"\n");
}

}  // namespace
}  // namespace identify
