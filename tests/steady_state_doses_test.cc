// Steady-state records at any dose of an ID (not only its first at 0): the
// closed-form model against the one-compartment closed forms to 1e-13 for
// SS 1 (a reset to the steady state) of a bolus, an oral dose and an
// infusion shorter than the interval, and SS 2 (added to the state then),
// with their derivatives against central differences; and a system with no
// steady state refused at its SS field, exit 3.
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

using testing::RunResult;
using testing::ScratchDir;

constexpr double kKa = 1.2, kKe = 0.15, kV = 10.0, kD = 100.0, kTau = 12.0;
constexpr double kAt = 24.0;  // the time of the steady-state record

constexpr const char* kProblem =
    "states: [gut, central]\n"
    "parameters:\n"
    "  ka: {lower: 0.1, upper: 10, value: 1.2}\n"
    "  ke: {lower: 0.01, upper: 1, value: 0.15}\n"
    "  V: {lower: 1, upper: 100, value: 10}\n"
    "matrix:\n"
    "  gut: {gut: -ka}\n"
    "  central: {gut: ka, central: -ke}\n"
    "observables:\n"
    "  conc: {states: {central: 1/V}}\n"
    "events: e.csv\n";

// Concentration s = t − 24 after the record.
double bolus(double s) {
  return kD / kV * std::exp(-kKe * s) / (1.0 - std::exp(-kKe * kTau));
}
double oral(double s) {
  const double q = std::exp(-kKe * kTau), p = std::exp(-kKa * kTau);
  return kD * kKa / (kV * (kKa - kKe)) *
         (std::exp(-kKe * s) / (1.0 - q) - std::exp(-kKa * s) / (1.0 - p));
}
double infusion(double s) {
  const double T = 2.0, R = kD / T, q = std::exp(-kKe * kTau);
  const double trough = R / kKe * (1.0 - std::exp(-kKe * T)) *
                        std::exp(-kKe * (kTau - T)) / (1.0 - q);
  const double end =
      trough * std::exp(-kKe * T) + R / kKe * (1.0 - std::exp(-kKe * T));
  return (s < T ? trough * std::exp(-kKe * s) +
                      R / kKe * (1.0 - std::exp(-kKe * s))
                : end * std::exp(-kKe * (s - T))) /
         kV;
}
// An earlier bolus of 30 into central at 0, still there at 24, plus the
// steady state.
double added(double s) {
  return 30.0 * std::exp(-kKe * (kAt + s)) / kV + bolus(s);
}

TEST(SteadyStateDoses, LaterRecordsMatchTheClosedForms) {
  // Every table: observations at 1 and 6 after the record (25, 30) and one
  // at 40, after the first ADDL dose at 36, where the periodic state
  // repeats: as at 28. Earlier doses (at 0 and 12) are wiped by SS 1.
  const std::string before =
      "ID,TIME,DV,AMT,CMT,RATE,II,ADDL,SS\n1,0,.,50,1,0,0,0,0\n"
      "1,5,2,0,2,0,0,0,0\n1,12,.,70,2,0,0,0,0\n";
  const std::string after =
      "1,25,1,0,2,0,0,0,0\n1,30,1,0,2,0,0,0,0\n1,40,1,0,2,0,0,0,0\n";
  const struct {
    const char* what;
    std::string table;
    double (*closed)(double s);
  } cases[] = {
      {"SS 1 bolus into central", before + "1,24,.,100,2,0,12,2,1\n" + after,
       bolus},
      {"SS 1 oral", before + "1,24,.,100,1,0,12,2,1\n" + after, oral},
      {"SS 1 infusion of 2 h", before + "1,24,.,100,2,50,12,2,1\n" + after,
       infusion},
      {"SS 2 bolus added to what a bolus at 0 left",
       "ID,TIME,DV,AMT,CMT,RATE,II,ADDL,SS\n1,0,.,30,2,0,0,0,0\n"
       "1,5,2,0,2,0,0,0,0\n1,24,.,100,2,0,12,2,2\n1,25,1,0,2,0,0,0,0\n"
       "1,30,1,0,2,0,0,0,0\n",
       added},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ScratchDir dir;
    dir.write("p.yaml", kProblem);
    dir.write("e.csv", c.table);
    const FitProblem problem = read_yaml_problem(dir.file("p.yaml")).problem;
    ExactModel model(problem);
    Evaluation at;
    model.evaluate(problem.values(), at);
    const std::vector<Measurement>& ms = problem.experiments[0].measurements.rows();
    for (std::size_t m = 1; m < ms.size(); ++m) {
      double s = ms[m].time - kAt;
      // SS 2 is not periodic (the bolus at 0 decays): no time past 36.
      if (s > kTau) s -= kTau;
      const double expected = c.closed(s);
      EXPECT_NEAR(at.y[m], expected, 1e-13 * expected) << ms[m].time;
    }
    testing::check_model_contract(
        problem,
        [](const FitProblem& f) { return std::make_unique<ExactModel>(f); }, {},
        11);
  }
}

// A mode at 0 (a state that keeps what it receives) or a growing mode has
// no steady state: the record is refused at its SS field before any fit,
// at the first dose as at a later one.
TEST(SteadyStateDoses, NoSteadyStateIsAnInputError) {
  const struct {
    const char* matrix;
    std::string table, message;
  } cases[] = {
      {"  gut: {gut: -ka}\n  central: {gut: ka}\n",
       "ID,TIME,DV,AMT,CMT,II,SS\n1,0,.,100,1,12,1\n1,1,1,0,2,0,0\n",
       "2:16: expected a system with a steady state for the steady-state dose "
       "of ID 1 (every eigenvalue of its matrix with a real part below 0 at "
       "the start values), found an eigenvalue with a real part of 0"},
      {"  gut: {gut: -ka}\n  central: {gut: ka, central: ke}\n",
       "ID,TIME,DV,AMT,CMT,II,SS\nA,0,.,100,1,0,0\nA,1,1,0,2,0,0\n"
       "A,12,.,100,1,12,2\n",
       "4:17: expected a system with a steady state for the steady-state dose "
       "of ID A (every eigenvalue of its matrix with a real part below 0 at "
       "the start values), found an eigenvalue with a real part of 0.15"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.table);
    ScratchDir dir;
    std::string problem = kProblem;
    const std::size_t from = problem.find("  gut: {gut: -ka}\n");
    const std::size_t to = problem.find("observables:");
    problem.replace(from, to - from, c.matrix);
    dir.write("p.yaml", problem);
    dir.write("e.csv", c.table);
    const RunResult r = dir.run("p.yaml -q");
    EXPECT_EQ(r.exit_code, 3);
    EXPECT_EQ(r.err, "identify: e.csv:" + c.message + "\n");
  }
}

}  // namespace
}  // namespace identify
