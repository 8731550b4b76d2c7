// Doses in the closed-form model: the model contract on random problems
// with boluses, infusions and lags (every derivative, including those with
// respect to amounts, dose times, durations and lags, against central
// differences away from the event times), values against a 40-digit
// reference, and what each kind of event does at the times around it.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <memory>
#include <string>

#include "model/exact/exact_model.h"
#include "model_contract.h"
#include "problem/problem_builder.h"
#include "test_problems.h"

namespace identify {
namespace {

std::unique_ptr<Model> make_exact(const FitProblem& problem) {
  return std::make_unique<ExactModel>(problem);
}

double column_size(const Table& J, int k) {
  double size = 0.0;
  for (std::size_t m = 0; m < J.rows(); ++m) {
    size = std::max(size, std::abs(J[m][k]));
  }
  return size;
}

TEST(ExactDosingTest, KeepsTheModelContractWithDosesAndLags) {
  for (unsigned seed = 1; seed <= 3; ++seed) {
    SCOPED_TRACE(seed);
    const FitProblem problem = testing::random_dosed_problem(seed);
    testing::check_model_contract(problem, make_exact, {}, seed);
    // The dose parameters move the measurements: their columns are checked
    // against differences, not zero against zero.
    ExactModel model(problem);
    Evaluation at;
    model.evaluate(problem.values(), at);
    Table J;
    model.jacobian(at, J);
    for (const char* name : {"F", "D", "tlag", "tD", "dur"}) {
      EXPECT_GT(column_size(J, problem.parameter_index(name)), 1e-3) << name;
    }
  }
}

// Ten oral boluses of 100 every 12 h, infusions of 50 over 2 h at 30 and of
// 80 over 0.5 h at 60 into central, all lagged by 0.37, a source
// 0.2·exp(−0.05·t) into central, x0 = (0, 0.5, 0). Reference values from
// tools/dosing_reference.py (mpmath, superposition of closed forms at 40
// digits, checked against an event-to-event computation to 1e-30), as
// {t, central/V, gut}. The times include a bolus time (0.37, 12.37: the
// gut holds the new dose), the start, middle and end of each infusion, and
// times long after the last dose.
constexpr double kDosingReference[][3] = {
    {0, 6.25e-2, 0.0},
    {0.37, 6.577289513697866364042365e-2, 1.0e+2},
    {1, 6.473583211856746709221092, 4.408723064497561455540737e+1},
    {6, 4.474453640888495563902166, 6.628247046149823876682845e-2},
    {12.37, 2.023519313055926789477279, 1.000000167882752999566256e+2},
    {13, 8.333120473214216875804594, 4.408723804646126736075658e+1},
    {30.5, 6.787784723697938583480577, 3.460248958687316237788954e-2},
    {31.37, 8.550029819120448915060911, 1.116658272368812281411263e-2},
    {32.37, 1.017398204119079676686401e+1, 3.043248811749352229747828e-3},
    {45, 6.363974147797296015831416, 1.341684122736416667075919e-3},
    {60.37, 5.331951933192986716443756, 1.000000167882781184189742e+2},
    {60.6, 1.287994831408798975650156e+1, 7.415595339300665710940409e+1},
    {60.87, 2.019394738689287290722959e+1, 5.220458644035129559946317e+1},
    {72.5, 8.823513368300386567825857, 8.44509045164537761656294e+1},
    {100, 1.187039775701990600290955e+1, 8.924099684265921878217442e-1},
    {108.37, 6.159564399515393918698512, 1.000000167882781184189742e+2},
    {120, 6.175395170388137811765784, 2.715825120067229249300435e-5},
    {150, 2.479193644475255001021664, 3.136295730124387617994051e-22},
};

FitProblem reference_problem() {
  ProblemBuilder b({"gut", "central", "periph"});
  for (const auto& [name, value] :
       std::vector<std::pair<std::string, double>>{{"ka", 1.3},
                                                   {"CL", 0.9},
                                                   {"V", 8.0},
                                                   {"Q", 1.1},
                                                   {"V2", 15.0},
                                                   {"tlag", 0.37}}) {
    Parameter p;
    p.name = name;
    p.value = value;
    b.add_parameter(p);
  }
  b.set_entry("gut", "gut", "-ka");
  b.set_entry("central", "gut", "ka");
  b.set_entry("central", "central", "-(CL + Q) / V");
  b.set_entry("central", "periph", "Q / V2");
  b.set_entry("periph", "central", "Q / V");
  b.set_entry("periph", "periph", "-Q / V2");
  b.set_source("central", "0.2", "-0.05");
  const int conc = b.add_observable("conc", {{"central", "1/V"}});
  const int gut = b.add_observable("gut", {{"gut", "1"}});
  const int e = b.add_experiment("reference");
  b.set_x0(e, "central", "0.5");
  b.set_lag(e, "tlag");
  // In no order: the model sorts them.
  b.add_dose(e, "central", "60", "80", "0.5");
  for (int k = 9; k >= 0; --k) {
    b.add_dose(e, "gut", std::to_string(12 * k), "100");
  }
  b.add_dose(e, "central", "30", "50", "2");
  for (const auto& r : kDosingReference) {
    b.add_measurement(e, conc, r[0], 0.0);
    b.add_measurement(e, gut, r[0], 0.0);
  }
  return b.build();
}

TEST(ExactDosingTest, AgreesWithFortyDigitReference) {
  const FitProblem problem = reference_problem();
  ExactModel model(problem);
  Evaluation at;
  model.evaluate(problem.values(), at);
  for (std::size_t q = 0; q < std::size(kDosingReference); ++q) {
    const auto& r = kDosingReference[q];
    SCOPED_TRACE(::testing::Message() << "t = " << r[0]);
    EXPECT_NEAR(at.y[2 * q], r[1], 1e-12 * r[1]);
    // The exponential is accurate normwise: an amount decayed far below
    // the doses carries an error near the unit roundoff times the dose
    // (3e-22 of gut at t = 150 comes out as 0), so gut amounts are held to
    // 1e-12 of at least a thousandth of a dose.
    EXPECT_NEAR(at.y[2 * q + 1], r[2], 1e-12 * std::max(r[2], 0.1));
  }
}

}  // namespace
}  // namespace identify
