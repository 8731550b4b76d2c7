// Doses in the closed-form model: the model contract on random problems
// with boluses, infusions and lags (every derivative, including those with
// respect to amounts, dose times, durations and lags, against central
// differences away from the event times), values against a 40-digit
// reference, and what each kind of event does at the times around it.
#include <gtest/gtest.h>

#include <algorithm>
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

using testing::parameter;

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
    b.add_parameter(parameter(name, value));
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
    // Gut amounts are held to 1e-12 of at least a thousandth of a dose;
    // amounts decayed far below the doses keep their own relative accuracy
    // too (tests/exact_decay_test.cc, matrix_exponential_accuracy_test.cc).
    EXPECT_NEAR(at.y[2 * q + 1], r[2], 1e-12 * std::max(r[2], 0.1));
  }
}

// gut → central at ka = 1, elimination ke = 0.2; observed: central and gut.
// Parameters ka, ke, amt (4), tlag (0.1) and dur (0.5) for the doses to use;
// each experiment gets its doses from `dose` and measurements at `times`.
FitProblem absorption(
    const std::vector<std::function<void(ProblemBuilder&, int)>>& doses,
    const std::vector<double>& times) {
  ProblemBuilder b({"gut", "central"});
  for (const auto& [name, value] :
       std::vector<std::pair<std::string, double>>{{"ka", 1.0},
                                                   {"ke", 0.2},
                                                   {"amt", 4.0},
                                                   {"tlag", 0.1},
                                                   {"dur", 0.5}}) {
    b.add_parameter(parameter(name, value));
  }
  b.set_entry("gut", "gut", "-ka");
  b.set_entry("central", "gut", "ka");
  b.set_entry("central", "central", "-ke");
  const int central = b.add_observable("central", {{"central", "1"}});
  const int gut = b.add_observable("gut", {{"gut", "1"}});
  for (std::size_t q = 0; q < doses.size(); ++q) {
    const int e = b.add_experiment(std::string("e").append(std::to_string(q)));
    doses[q](b, e);
    for (const double t : times) {
      b.add_measurement(e, central, t, 0.0);
      b.add_measurement(e, gut, t, 0.0);
    }
  }
  return b.build();
}

struct Evaluated {
  Evaluation at;
  Table J;
  std::vector<double> g;
};

Evaluated evaluate_all(const FitProblem& problem) {
  ExactModel model(problem);
  Evaluated r;
  model.evaluate(problem.values(), r.at);
  model.jacobian(r.at, r.J);
  r.g.resize(problem.parameter_count());
  model.gradient(r.at, std::vector<double>(r.at.y.size(), 1.0), r.g);
  return r;
}

// A measurement at the time of a bolus sees the dose, also when that time
// is written as the dose time plus the lag and the sum rounds above it
// (0.2 + 0.1 = 0.30000000000000004); an instant before, it does not.
TEST(ExactDosingTest, BolusAtAMeasurementTimeIsSeenByIt) {
  const std::vector<double> times = {0.2999999999, 0.3, 2.0};
  const FitProblem problem = absorption({[](ProblemBuilder& b, int e) {
                                           b.add_dose(e, "central", "0.3", "5");
                                           b.add_dose(e, "gut", "2", "amt");
                                         },
                                         [](ProblemBuilder& b, int e) {
                                           b.set_lag(e, "0.1");
                                           b.add_dose(e, "central", "0.2", "5");
                                           b.add_dose(e, "gut", "1.9", "amt");
                                         }},
                                        times);
  const Evaluation at = evaluate_all(problem).at;
  for (int e = 0; e < 2; ++e) {
    SCOPED_TRACE(e);
    const double* y = at.y.data() + 6 * e;  // central, gut at each time
    EXPECT_EQ(y[0], 0.0);
    EXPECT_EQ(y[2], 5.0);
    EXPECT_EQ(y[5], 4.0);
  }
}

// Doses at one time all apply, and x0 and a dose at t = 0 add: two oral
// doses of 2 and 3 at t = 1 and x0 + a bolus at 0 of 1 + 4 into central
// give what one dose of 5 and x0 = 5 give; a dose after the last
// measurement changes no value and has a zero column, and the result stays
// finite.
TEST(ExactDosingTest, DosesAddAndLateDosesChangeNothing) {
  const std::vector<double> times = {0.0, 0.5, 1.0, 2.5, 6.0};
  const FitProblem problem =
      absorption({[](ProblemBuilder& b, int e) {
                    b.set_x0(e, "central", "1");
                    b.add_dose(e, "gut", "1", "3");
                    b.add_dose(e, "central", "0", "4");
                    b.add_dose(e, "gut", "1", "2");
                    b.add_dose(e, "gut", "6.5", "amt");
                    b.add_dose(e, "central", "7", "amt", "dur");
                  },
                  [](ProblemBuilder& b, int e) {
                    b.set_x0(e, "central", "5");
                    b.add_dose(e, "gut", "1", "5");
                  }},
                 times);
  const Evaluated r = evaluate_all(problem);
  const std::size_t half = r.at.y.size() / 2;
  for (std::size_t m = 0; m < half; ++m) {
    EXPECT_NEAR(r.at.y[m], r.at.y[half + m], 1e-15 * std::abs(r.at.y[m])) << m;
    for (std::size_t k = 0; k < r.J.cols(); ++k) {
      EXPECT_NEAR(r.J[m][k], r.J[half + m][k], 1e-14) << m << ", " << k;
    }
  }
  EXPECT_EQ(r.at.y[0], 5.0);
  for (const char* name : {"amt", "dur"}) {
    EXPECT_EQ(column_size(r.J, problem.parameter_index(name)), 0.0) << name;
  }
  for (const double g : r.g) EXPECT_TRUE(std::isfinite(g));
}

// An infusion shorter than the rounding of its start time still delivers
// its amount: over 3e-16 and 1e-15 at t = 1 it gives what a bolus gives (an
// end time that rounds to 1 + 2.2e-16 once delivered 74% of it), and one of
// 1e-16, whose end rounds to its start, cannot be given (it once gave
// nothing).
TEST(ExactDosingTest, InfusionsShorterThanTheirTimesRoundingDeliverTheAmount) {
  const auto infusion = [](const char* duration) {
    return [duration](ProblemBuilder& b, int e) {
      b.add_dose(e, "central", "1", "4", duration);
    };
  };
  const FitProblem problem = absorption(
      {[](ProblemBuilder& b, int e) { b.add_dose(e, "central", "1", "4"); },
       infusion("dur * 6e-16"), infusion("dur * 2e-15"),
       infusion("dur * 2e-16")},
      {2.0});
  const std::vector<double> y = evaluate_all(problem).at.y;
  ASSERT_GT(y[0], 3.0);
  for (const int e : {1, 2}) {
    EXPECT_NEAR(y[2 * e], y[0], 1e-14 * y[0]) << e;
  }
  EXPECT_TRUE(std::isnan(y[6]));
}

// Doses that cannot be given at θ (a time below 0 through the lag, an
// infusion duration not above 0) make every output of their experiment
// NaN, and only of theirs.
TEST(ExactDosingTest, DosesThatCannotBeGivenGiveNaN) {
  const FitProblem problem = absorption(
      {[](ProblemBuilder& b, int e) {
         b.set_lag(e, "tlag - 0.2");
         b.add_dose(e, "gut", "0", "amt");
       },
       [](ProblemBuilder& b, int e) {
         b.add_dose(e, "central", "1", "amt", "dur - 0.5");
       },
       [](ProblemBuilder& b, int e) { b.add_dose(e, "gut", "0", "amt"); }},
      {0.5, 2.0});
  const Evaluated r = evaluate_all(problem);
  for (std::size_t m = 0; m < r.at.y.size(); ++m) {
    EXPECT_EQ(std::isnan(r.at.y[m]), m < 8) << m;
    for (std::size_t k = 0; k < r.J.cols(); ++k) {
      EXPECT_EQ(std::isnan(r.J[m][k]), m < 8) << m << ", " << k;
    }
  }
  for (const double g : r.g) EXPECT_TRUE(std::isnan(g));
}

}  // namespace
}  // namespace identify
