// Problems posed in C++ with ProblemBuilder and fitted by the library
// methods on the closed-form model, against published optima: the five-rate
// alpha-pinene model (Box et al. 1973; Bates & Watts 1988, the data of
// examples/alpha_pinene_5rate), theophylline subject 1 in the
// pharmacokinetic form (R's nls on datasets::Theoph, in
// tools/reference/theophylline_nls.txt), and a synthetic two-experiment
// system recovered from its own exact values (examples/two_experiments).
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "fit/fit_statistics.h"
#include "fit/method.h"
#include "model/exact/exact_model.h"
#include "problem/problem_builder.h"
#include "test_problems.h"

namespace identify {
namespace {

using testing::parameter;

// The problem fitted by `method` from its values; the summary.
Summary fit(const FitProblem& problem, Method method) {
  ExactModel model(problem);
  std::ostringstream out;
  const MonitorSettings settings;
  Monitor monitor(settings, out, problem.parameters.size());
  return solve(method, problem, model, {}, monitor, out);
}

double sum_of_squares(const Summary& s) { return s.norm * s.norm; }

// Percent of the initial charge at eight times (minutes), one column per
// species: alpha-pinene, dipentene, alloocimene, pyronene, dimer.
constexpr double kAlphaPinene[8][6] = {
    {1230, 88.35, 7.3, 2.3, 0.4, 1.75},  {3060, 76.4, 15.6, 4.5, 0.7, 2.8},
    {4920, 65.1, 23.1, 5.3, 1.1, 5.8},   {7800, 50.4, 32.9, 6.0, 1.5, 9.3},
    {10680, 37.5, 42.7, 6.0, 1.9, 12.0}, {15030, 25.9, 49.1, 5.9, 2.2, 17.0},
    {22620, 14.0, 57.4, 5.1, 2.6, 21.0}, {36420, 4.5, 63.1, 3.8, 2.9, 25.7},
};

FitProblem alpha_pinene() {
  const std::vector<std::string> species = {"alpha_pinene", "dipentene",
                                            "alloocimene", "pyronene", "dimer"};
  ProblemBuilder b(species);
  for (const char* k : {"k1", "k2", "k3", "k4", "k5"}) {
    b.add_parameter(parameter(k, 1e-4, 0.0, 1.0));
  }
  b.set_entry("alpha_pinene", "alpha_pinene", "-(k1 + k2)");
  b.set_entry("dipentene", "alpha_pinene", "k1");
  b.set_entry("alloocimene", "alpha_pinene", "k2");
  b.set_entry("alloocimene", "alloocimene", "-(k3 + k4)");
  b.set_entry("alloocimene", "dimer", "k5");
  b.set_entry("pyronene", "alloocimene", "k3");
  b.set_entry("dimer", "alloocimene", "k4");
  b.set_entry("dimer", "dimer", "-k5");
  for (const std::string& s : species) b.add_observable(s, {{s, "1"}});
  const int e = b.add_experiment("run");
  b.set_x0(e, "alpha_pinene", "100");
  for (const auto& row : kAlphaPinene) {
    for (int o = 0; o < 5; ++o) b.add_measurement(e, o, row[0], row[o + 1]);
  }
  return b.build();
}

TEST(PublishedFits, AlphaPineneFiveRates) {
  const FitProblem problem = alpha_pinene();
  const double published[] = {5.926, 2.963, 2.047, 27.45, 3.998};  // ×1e-5
  for (const Method method : {Method::kLm, Method::kLbfgsb}) {
    SCOPED_TRACE(method_name(method));
    const Summary s = fit(problem, method);
    EXPECT_EQ(s.termination, Termination::kOptimumReached) << verdict(s);
    EXPECT_NEAR(sum_of_squares(s), 19.872, 1e-3);
    for (int k = 0; k < 5; ++k) {
      EXPECT_NEAR(s.theta[k] * 1e5, published[k], 5e-4 * published[k]) << k;
    }
  }
}

// Serum concentration (mg/L) of subject 1 after an oral dose of 4.02 mg/kg.
constexpr double kTheophylline[11][2] = {
    {0, 0.74},    {0.25, 2.84},  {0.57, 6.57},  {1.12, 10.50},
    {2.02, 9.66}, {3.82, 8.58},  {5.10, 8.36},  {7.03, 7.47},
    {9.05, 6.89}, {12.12, 5.94}, {24.37, 3.28},
};

FitProblem theophylline() {
  ProblemBuilder b({"gut", "central"});
  b.add_parameter(parameter("ka", 1.0, 0.01, 20.0, Scale::kLog));
  b.add_parameter(parameter("ke", 0.1, 0.001, 5.0, Scale::kLog));
  b.add_parameter(parameter("V", 0.5, 0.01, 10.0, Scale::kLog));
  b.set_entry("gut", "gut", "-ka");
  b.set_entry("central", "gut", "ka");
  b.set_entry("central", "central", "-ke");
  b.add_observable("concentration", {{"central", "1/V"}});
  const int e = b.add_experiment("subject1");
  b.set_x0(e, "gut", "4.02");
  for (const auto& [t, c] : kTheophylline) b.add_measurement(e, 0, t, c);
  return b.build();
}

// R's fit in log parameters: lKe = −2.9196, lKa = 0.5752, lCl = −3.9159
// with CL = ke·V, to the four decimals R prints.
TEST(PublishedFits, TheophyllineSubjectOne) {
  const FitProblem problem = theophylline();
  for (const Method method : {Method::kLm, Method::kLbfgsb}) {
    SCOPED_TRACE(method_name(method));
    const Summary s = fit(problem, method);
    EXPECT_EQ(s.termination, Termination::kOptimumReached) << verdict(s);
    EXPECT_NEAR(sum_of_squares(s), 4.28601, 1e-5);
    const double ka = s.theta[0], ke = s.theta[1], V = s.theta[2];
    EXPECT_NEAR(std::log(ka), 0.5752, 1e-4);
    EXPECT_NEAR(std::log(ke), -2.9196, 1e-4);
    EXPECT_NEAR(std::log(ke * V), -3.9159, 1e-4);
  }
}

// The optimum to 50 digits (tools/theophylline_optimum.py, kept in
// tools/reference/theophylline_optimum.txt): the estimates and their
// standard errors to 1e-9 relative, which the cost test alone misses by
// 1.6e-7.
TEST(PublishedFits, TheophyllineToTheLastDigits) {
  const FitProblem problem = theophylline();
  const Summary s = fit(problem, Method::kLm);
  ASSERT_EQ(s.termination, Termination::kOptimumReached) << verdict(s);
  EXPECT_NE(verdict(s).find("Gauss–Newton"), std::string::npos) << verdict(s);
  ExactModel model(problem);
  const FitStatistics st = compute_fit_statistics(problem, model, s.theta);
  const double estimate[] = {1.7774137460847517116, 0.053954546961929354528,
                             0.36926424635769143942};
  const double error[] = {0.30716472622332014743, 0.0092201735703724247184,
                          0.022238089678025854446};
  for (int k = 0; k < 3; ++k) {
    SCOPED_TRACE(problem.parameters[k].name);
    EXPECT_NEAR(s.theta[k], estimate[k], 1e-9 * estimate[k]);
    EXPECT_NEAR(st.parameters[k].standard_error, error[k], 1e-9 * error[k]);
  }
  EXPECT_NEAR(st.ssr, 4.2860090242986159503, 1e-12);
}

// x' = −(k1 + k2)·x: only the sum is determined, and the Jacobian has rank
// 1. The polish takes no step there and says why.
TEST(PublishedFits, RankDeficientStopsOnTheNoise) {
  ProblemBuilder b({"x"});
  b.add_parameter(parameter("k1", 0.2, 0.0, 10.0));
  b.add_parameter(parameter("k2", 0.1, 0.0, 10.0));
  b.set_entry("x", "x", "-(k1 + k2)");
  b.add_observable("y", {{"x", "1"}});
  const int e = b.add_experiment("decay");
  b.set_x0(e, "x", "10");
  const double noise[] = {0.05, -0.08, 0.02, 0.07, -0.04, -0.03, 0.06, -0.01};
  for (int q = 0; q < 8; ++q) {
    b.add_measurement(e, 0, q + 1.0,
                      10.0 * std::exp(-0.5 * (q + 1)) + noise[q]);
  }
  const Summary s = fit(b.build(), Method::kLm);
  ASSERT_EQ(s.termination, Termination::kOptimumReached) << verdict(s);
  EXPECT_NE(verdict(s).find(", the Jacobian has rank 1 of 2: stopped where a "
                            "Gauss–Newton step would lower the objective by "),
            std::string::npos)
      << verdict(s);
  EXPECT_NEAR(s.theta[0] + s.theta[1], 0.5, 0.01);
}

// x1' = −k1·x1 + k2·x2, x2' = k1·x1 − (k2 + k3)·x2, x3' = k3·x2 − k4·x3,
// seen through y = x1 + 2·x3 from x(0) = (5, 0, 0) and (0, 3, x3_0).
FitProblem two_experiments(bool with_data) {
  ProblemBuilder b({"x1", "x2", "x3"});
  for (const auto& [name, start] : {std::pair("k1", 1.0),
                                    {"k2", 0.5},
                                    {"k3", 0.2},
                                    {"k4", 0.1},
                                    {"x3_0", 1.0}}) {
    b.add_parameter(parameter(name, start, 0.0, 10.0));
  }
  b.set_entry("x1", "x1", "-k1");
  b.set_entry("x1", "x2", "k2");
  b.set_entry("x2", "x1", "k1");
  b.set_entry("x2", "x2", "-(k2 + k3)");
  b.set_entry("x3", "x2", "k3");
  b.set_entry("x3", "x3", "-k4");
  b.add_observable("y", {{"x1", "1"}, {"x3", "2"}});
  const int first = b.add_experiment("from_x1");
  b.set_x0(first, "x1", "5");
  const int second = b.add_experiment("from_x2");
  b.set_x0(second, "x2", "3");
  b.set_x0(second, "x3", "x3_0");
  const double times[] = {0.25, 0.5, 1, 1.5, 2, 3, 4, 6, 8, 10, 12, 15};
  const std::vector<double> truth = {0.8, 0.3, 0.5, 0.15, 1.5};
  std::vector<double> y(24, 0.0);
  if (with_data) {
    ExactModel model(two_experiments(false));
    Evaluation at;
    model.evaluate(truth, at);
    y = at.y;
  }
  for (int e = 0; e < 2; ++e) {
    for (int q = 0; q < 12; ++q)
      b.add_measurement(e, 0, times[q], y[e * 12 + q]);
  }
  return b.build();
}

TEST(PublishedFits, TwoExperimentsRecoveredFromExactData) {
  const FitProblem problem = two_experiments(true);
  const double truth[] = {0.8, 0.3, 0.5, 0.15, 1.5};
  for (const Method method : {Method::kLm, Method::kLbfgsb}) {
    SCOPED_TRACE(method_name(method));
    const Summary s = fit(problem, method);
    // An optimum, or a sum of squares of exactly 0 (epsilon 0 reached).
    EXPECT_TRUE(s.termination == Termination::kOptimumReached ||
                s.termination == Termination::kToleranceReached)
        << verdict(s);
    EXPECT_LT(sum_of_squares(s), 1e-20) << verdict(s);
    for (int k = 0; k < 5; ++k) {
      EXPECT_NEAR(s.theta[k], truth[k], 1e-8 * truth[k]) << k;
    }
  }
}

}  // namespace
}  // namespace identify
