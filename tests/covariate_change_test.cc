// Covariates that change within an ID: the matrix is piecewise constant,
// the state continuous across a change. A one-compartment bolus whose
// clearance halves at t = 10 against its closed form, under both
// conventions of when a new value starts; the derivatives of a problem
// with several changes, doses across them and infusions running over one
// against central differences; and the uses that are refused.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <string>

#include "input/input_error.h"
#include "input/yaml_problem_file.h"
#include "model/exact/exact_model.h"
#include "model_contract.h"
#include "run_binary.h"

namespace identify {
namespace {

using testing::ScratchDir;

constexpr double kCl = 2.0, kV = 10.0, kDose = 100.0;

LoadedProblem read(const ScratchDir& dir, const std::string& extra,
                   const std::string& table,
                   const std::string& observed = "central: 1/V") {
  dir.write("p.yaml",
            "states: [gut, central]\n"
            "covariates: [WT]\n"
            "parameters:\n"
            "  ka: {lower: 0.1, upper: 10, value: 1.2}\n"
            "  CL: {lower: 0.01, upper: 10, value: 2}\n"
            "  V: {lower: 1, upper: 100, value: 10}\n"
            "matrix:\n"
            "  gut: {gut: -ka}\n"
            "  central: {gut: ka, central: -CL * (WT / 70) / V}\n"
            "observables:\n"
            "  conc: {states: {" +
                observed + "}}\n" + extra + "events: e.csv\n");
  dir.write("e.csv", table);
  return read_yaml_problem(dir.file("p.yaml"));
}

// C(t) = C0·e^{−k1·t} before the change at tc, C(tc)·e^{−k2·(t − tc)}
// after it, k = CL·(WT/70)/V.
double bolus(double t, double tc, double wt_before, double wt_after) {
  const double k1 = kCl * (wt_before / 70.0) / kV;
  const double k2 = kCl * (wt_after / 70.0) / kV;
  const double c0 = kDose / kV;
  return t < tc ? c0 * std::exp(-k1 * t)
                : c0 * std::exp(-k1 * tc) * std::exp(-k2 * (t - tc));
}

TEST(CovariateChanges, ClearanceThatChangesMatchesTheClosedForm) {
  // The record at 10 brings WT 35: from 10 on (locf), or from the record
  // before it at 8 on (nocb).
  const std::string table =
      "ID,TIME,DV,AMT,CMT,WT\n1,0,.,100,2,70\n1,2,1,0,2,70\n1,8,1,0,2,70\n"
      "1,10,1,0,2,35\n1,12,1,0,2,35\n1,30,1,0,2,35\n";
  const struct {
    const char* extra;
    double change;
  } cases[] = {{"", 10.0},
               {"covariate_interpolation: locf\n", 10.0},
               {"covariate_interpolation: nocb\n", 8.0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.extra);
    ScratchDir dir;
    const FitProblem problem = read(dir, c.extra, table).problem;
    ASSERT_EQ(problem.experiments[0].phases.size(), 1u);
    EXPECT_EQ(problem.experiments[0].phases[0].time, c.change);
    // The covariate is a number of the experiment, never a parameter.
    EXPECT_EQ(problem.parameter_index("WT"), -1);
    ExactModel model(problem);
    Evaluation at;
    model.evaluate(problem.values(), at);
    const double times[] = {2, 8, 10, 12, 30};
    for (int m = 0; m < 5; ++m) {
      const double expected = bolus(times[m], c.change, 70.0, 35.0);
      EXPECT_NEAR(at.y[m], expected, 1e-13 * expected) << times[m];
    }
    testing::check_model_contract(
        problem,
        [](const FitProblem& f) { return std::make_unique<ExactModel>(f); }, {},
        3);
  }
}

// Two changes, oral doses every 6 h across them (ADDL), an infusion that
// runs over the second change, and a covariate-only record (EVID 2).
TEST(CovariateChanges, DerivativesAcrossChangesMatchCentralDifferences) {
  ScratchDir dir;
  const FitProblem problem =
      read(dir, "",
           "ID,TIME,DV,AMT,CMT,RATE,II,ADDL,EVID,WT\n"
           "1,0,.,100,1,0,6,3,1,70\n1,1,3,0,2,0,0,0,0,70\n"
           "1,5,.,0,2,0,0,0,2,50\n1,7,2,0,2,0,0,0,0,50\n"
           "1,13,.,40,2,20,0,0,1,50\n1,14,2,0,2,0,0,0,0,90\n"
           "1,17,2,0,2,0,0,0,0,90\n1,26,1,0,2,0,0,0,0,90\n"
           "2,0,.,100,1,0,0,0,1,60\n2,3,3,0,2,0,0,0,0,60\n")
          .problem;
  ASSERT_EQ(problem.experiments[0].phases.size(), 2u);
  EXPECT_TRUE(problem.experiments[1].phases.empty());
  testing::check_model_contract(
      problem,
      [](const FitProblem& f) { return std::make_unique<ExactModel>(f); }, {},
      5);
}

TEST(CovariateChanges, RefusedUses) {
  const struct {
    std::string extra, observed, table, message;
  } cases[] = {
      // A value that changes in an expression other than the matrix.
      {"", "central: 1/(V * WT/70)",
       "ID,TIME,DV,AMT,CMT,WT\n1,0,.,100,2,70\n1,2,1,0,2,80\n",
       "expected covariate WT, which changes within the experiment, in the "
       "matrix only, found it in another expression"},
      // An ID with a lag.
      {"experiments:\n  - {id: 1, lag: ka}\n", "central: 1/V",
       "ID,TIME,DV,AMT,CMT,WT\n1,0,.,100,2,70\n1,2,1,0,2,80\n",
       "e.csv:3:11: expected covariate WT constant within ID 1 (70), which "
       "has a lag: a value that changes is supported without a lag only, "
       "found 80"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.table);
    ScratchDir dir;
    try {
      read(dir, c.extra, c.table, c.observed);
      ADD_FAILURE() << "no error";
    } catch (const std::exception& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos)
          << e.what();
    }
  }
}

}  // namespace
}  // namespace identify
