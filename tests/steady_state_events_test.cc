// Steady-state dose records (SS 1 and 2) through the whole path: an event
// table read into a problem, whose closed-form model gives the
// one-compartment steady-state concentrations to 1e-13, and whose
// derivatives keep the model contract (central differences).
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>

#include "input/yaml_problem_file.h"
#include "model/exact/exact_model.h"
#include "model_contract.h"
#include "run_binary.h"

namespace identify {
namespace {

using testing::ScratchDir;

constexpr double kKa = 1.2, kKe = 0.15, kV = 10.0, kD = 100.0, kTau = 12.0;

LoadedProblem read(const ScratchDir& dir, const std::string& extra,
                   const std::string& table) {
  dir.write("p.yaml",
            "states: [gut, central]\n"
            "parameters:\n"
            "  ka: {lower: 0.1, upper: 10, value: 1.2}\n"
            "  ke: {lower: 0.01, upper: 1, value: 0.15}\n"
            "  V: {lower: 1, upper: 100, value: 10}\n"
            "matrix:\n"
            "  gut: {gut: -ka}\n"
            "  central: {gut: ka, central: -ke}\n"
            "observables:\n"
            "  conc: {states: {central: 1/V}}\n" +
                extra + "events: e.csv\n");
  dir.write("e.csv", table);
  return read_yaml_problem(dir.file("p.yaml"));
}

TEST(SteadyStateEvents, ConcentrationsMatchTheClosedForms) {
  const double q = std::exp(-kKe * kTau), p = std::exp(-kKa * kTau);
  const double T = 2.0, R = kD / T;
  const double trough = R / kKe * (1.0 - std::exp(-kKe * T)) *
                        std::exp(-kKe * (kTau - T)) / (1.0 - q);
  const struct {
    const char* what;
    std::string extra, table;
    double (*closed)(double t, double q, double p, double trough);
  } cases[] = {
      {"SS 1 bolus into the central state: (D/V)·e^{−ke·t}/(1 − e^{−ke·τ})", "",
       "ID,TIME,DV,AMT,CMT,II,SS\n1,0,.,100,2,12,1\n1,1,1,0,2,0,0\n"
       "1,6,1,0,2,0,0\n",
       [](double t, double q, double, double) {
         return kD / kV * std::exp(-kKe * t) / (1.0 - q);
       }},
      {"SS 1 oral", "",
       "ID,TIME,DV,AMT,CMT,II,SS\n1,0,.,100,1,12,1\n1,1,1,0,2,0,0\n"
       "1,6,1,0,2,0,0\n",
       [](double t, double q, double p, double) {
         return kD * kKa / (kV * (kKa - kKe)) *
                (std::exp(-kKe * t) / (1.0 - q) -
                 std::exp(-kKa * t) / (1.0 - p));
       }},
      {"SS 1 infusion of 2 h, seen during and after it", "",
       "ID,TIME,DV,AMT,CMT,RATE,II,SS\n1,0,.,100,2,50,12,1\n1,1,1,0,2,0,0,0\n"
       "1,6,1,0,2,0,0,0\n",
       [](double t, double, double, double trough) {
         const double T = 2.0, R = kD / T;
         const double end =
             trough * std::exp(-kKe * T) + R / kKe * (1.0 - std::exp(-kKe * T));
         return (t < T ? trough * std::exp(-kKe * t) +
                             R / kKe * (1.0 - std::exp(-kKe * t))
                       : end * std::exp(-kKe * (t - T))) /
                kV;
       }},
      {"SS 2 bolus added to an x0 of 30 in the central state",
       "experiments:\n  - {id: 1, x0: {central: 30}}\n",
       "ID,TIME,DV,AMT,CMT,II,SS\n1,0,.,100,2,12,2\n1,1,1,0,2,0,0\n"
       "1,6,1,0,2,0,0\n",
       [](double t, double q, double, double) {
         return (30.0 + kD / (1.0 - q)) * std::exp(-kKe * t) / kV;
       }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    const FitProblem problem = read(dir, c.extra, c.table).problem;
    ExactModel model(problem);
    Evaluation at;
    model.evaluate(problem.values(), at);
    const double times[] = {1.0, 6.0};
    for (int m = 0; m < 2; ++m) {
      const double expected = c.closed(times[m], q, p, trough);
      EXPECT_NEAR(at.y[m], expected, 1e-13 * expected) << times[m];
    }
    testing::check_model_contract(
        problem,
        [](const FitProblem& f) { return std::make_unique<ExactModel>(f); }, {},
        7);
  }
}

// Refused: an infusion not shorter than its interval. A θ with no steady state (no elimination)
// gives NaN, which a fit step rejects.
TEST(SteadyStateEvents, RefusalsAndNoSteadyState) {
  const struct {
    std::string table, message;
  } refused[] = {
      {"ID,TIME,DV,AMT,CMT,DUR,II,SS\n1,0,.,100,2,12,12,1\n",
       "2:19: expected a steady-state infusion shorter than its interval 12, "
       "found 12"},
  };
  for (const auto& c : refused) {
    ScratchDir dir;
    try {
      read(dir, "", c.table);
      ADD_FAILURE() << "no error for " << c.table;
    } catch (const InputError& e) {
      EXPECT_EQ(e.what(), dir.file("e.csv") + ":" + c.message);
    }
  }
  ScratchDir dir;
  const FitProblem problem =
      read(dir, "",
           "ID,TIME,DV,AMT,CMT,II,SS\n1,0,.,100,2,12,1\n1,1,1,0,2,0,0\n")
          .problem;
  ExactModel model(problem);
  Evaluation at;
  std::vector<double> theta = problem.values();
  theta[problem.parameter_index("ke")] = 0.0;
  model.evaluate(theta, at);
  EXPECT_TRUE(std::isnan(at.y[0]));
}

}  // namespace
}  // namespace identify
