// The problem-file examples pose the problems their READMEs describe: each
// reads, and its sum of squares at the published (or true) parameters,
// computed here independently of the program's models with Eigen's matrix
// exponential, is the published one. The dosing examples, whose data come
// from known parameters, give their generator's noise-free values through
// the closed-form model.
#include <gtest/gtest.h>

#include <Eigen/Core>
#include <cmath>
#include <fstream>
#include <string>
#include <unsupported/Eigen/MatrixFunctions>
#include <vector>

#include "input/yaml_problem_file.h"
#include "model/exact/exact_model.h"

namespace identify {
namespace {

LoadedProblem example(const std::string& name) {
  return read_yaml_problem(std::string(IDENTIFY_EXAMPLES_DIR) + "/" + name +
                           "/problem.yaml");
}

// θ in the problem's parameter order from values by name.
std::vector<double> theta_of(
    const FitProblem& p,
    const std::vector<std::pair<std::string, double>>& values) {
  std::vector<double> theta = p.values();
  for (const auto& [name, v] : values) {
    const int k = p.parameter_index(name);
    EXPECT_GE(k, 0) << name;
    if (k >= 0) theta[k] = v;
  }
  return theta;
}

// Sum over measurements of ((y − value)/sigma)², y from x(t) = exp(A t)·x0
// (problems without sources or doses).
double sum_of_squares(const FitProblem& p, const std::vector<double>& theta) {
  std::vector<double> scratch;
  const auto value = [&](const auto& e) {
    return e.value(theta, scratch);
  };
  const int n = p.state_count();
  double sum = 0.0;
  for (const Experiment& e : p.experiments) {
    EXPECT_TRUE(e.sources.empty() && e.doses.empty());
    Eigen::MatrixXd A = Eigen::MatrixXd::Zero(n, n);
    for (const MatrixTerm& t : e.matrix) A(t.row, t.col) = value(t.value);
    Eigen::VectorXd x0(n);
    for (int i = 0; i < n; ++i) x0(i) = value(e.x0[i]);
    for (const Measurement& m : e.measurements) {
      const Eigen::MatrixXd At = A * m.time;
      const Eigen::VectorXd x = At.exp() * x0;
      const ObservableTerms& o = e.observables[m.observable];
      double y = value(o.offset);
      for (const auto& [state, c] : o.coefficients) y += value(c) * x(state);
      const double r = (y - m.value) / value(m.sigma);
      sum += r * r;
    }
  }
  return sum;
}

TEST(ProblemExamples, AlphaPineneFiveRatesGiveThePublishedOptimum) {
  const LoadedProblem l = example("alpha_pinene_5rate");
  EXPECT_EQ(l.problem.measurement_count(), 40u);
  EXPECT_EQ(l.data_files[0].missing, 0u);
  const std::vector<double> theta = theta_of(l.problem, {{"k1", 5.926e-5},
                                                         {"k2", 2.963e-5},
                                                         {"k3", 2.047e-5},
                                                         {"k4", 27.45e-5},
                                                         {"k5", 3.998e-5}});
  // 19.8721 at the optimum; the rates are published to four digits.
  EXPECT_NEAR(sum_of_squares(l.problem, theta), 19.8721, 5e-4);
}

TEST(ProblemExamples, TheophyllineGivesThePublishedOptimum) {
  const LoadedProblem l = example("theophylline_pk");
  EXPECT_EQ(l.problem.measurement_count(), 11u);  // the t = 0 sample counts
  EXPECT_EQ(l.problem.counted_measurement_count(), 11u);
  const double ke = std::exp(-2.9196);
  const double clearance = std::exp(-3.9159);
  const std::vector<double> theta = theta_of(
      l.problem, {{"ka", std::exp(0.5752)}, {"ke", ke}, {"V", clearance / ke}});
  EXPECT_NEAR(sum_of_squares(l.problem, theta), 4.28601, 1e-5);
}

TEST(ProblemExamples, TwoExperimentsHoldTheExactSolutionAtTheTruth) {
  const LoadedProblem l = example("two_experiments");
  EXPECT_EQ(l.problem.measurement_count(), 24u);
  const std::vector<double> truth = theta_of(
      l.problem,
      {{"k1", 0.8}, {"k2", 0.3}, {"k3", 0.5}, {"k4", 0.15}, {"x3_0", 1.5}});
  // Rounding only: each residual within a few ulps of values near 4.
  EXPECT_LT(sum_of_squares(l.problem, truth), 24 * std::pow(4e-15, 2));
  EXPECT_GT(sum_of_squares(l.problem, l.problem.values()), 1.0);
}

// (time, value) rows of an example's noise_free.csv: "#" comment lines, a
// header, then time,conc.
std::vector<std::pair<double, double>> noise_free(const std::string& name) {
  std::ifstream in(std::string(IDENTIFY_EXAMPLES_DIR) + "/" + name +
                   "/noise_free.csv");
  std::vector<std::pair<double, double>> rows;
  std::string line;
  bool header = true;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    if (header) {
      EXPECT_EQ(line, "time,conc");
      header = false;
      continue;
    }
    const std::size_t comma = line.find(',');
    rows.emplace_back(std::stod(line.substr(0, comma)),
                      std::stod(line.substr(comma + 1)));
  }
  return rows;
}

// Values from tools/dosing_examples.py (mpmath, superposed closed forms,
// 30 digits) at the true parameters stated in each README.
TEST(ProblemExamples, DosingExamplesGiveTheirNoiseFreeValues) {
  const struct {
    const char* name;
    std::vector<std::pair<std::string, double>> truth;
    std::size_t doses;
  } cases[] = {
      {"multiple_dose",
       {{"ka", 1.2},
        {"CL", 3.5},
        {"V", 30},
        {"Q", 6},
        {"V2", 60},
        {"tlag", 0.4}},
       5},
      {"infusion", {{"CL", 5}, {"V", 20}, {"Q", 8}, {"V2", 40}}, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const LoadedProblem l = example(c.name);
    EXPECT_EQ(l.problem.experiments[0].doses.size(), c.doses);
    const auto expected = noise_free(c.name);
    ASSERT_EQ(l.problem.measurement_count(), expected.size());
    ExactModel model(l.problem);
    Evaluation at;
    model.evaluate(theta_of(l.problem, c.truth), at);
    for (std::size_t m = 0; m < expected.size(); ++m) {
      const auto [t, y] = expected[m];
      EXPECT_EQ(l.problem.experiments[0].measurements[m].time, t);
      EXPECT_NEAR(at.y[m], y, 1e-12 * y) << "t = " << t;
    }
  }
}

}  // namespace
}  // namespace identify
