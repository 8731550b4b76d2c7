// Posing problems through ProblemBuilder: every refusal with its exact
// message, and the binding of shared definitions in each experiment.
#include "problem/problem_builder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "test_problems.h"

namespace identify {
namespace {

using testing::parameter;

// Two states, parameters ka and ke, one observable, one experiment.
ProblemBuilder base() {
  ProblemBuilder b({"gut", "central"});
  b.add_parameter(parameter("ka", 1.0, 0.01, 20.0, Scale::kLog10));
  b.add_parameter(parameter("ke", 0.1));
  b.add_observable("conc", {{"central", "1"}});
  b.add_experiment("s1");
  return b;
}

TEST(ProblemBuilder, RefusesWhatCannotBePosedWithItsReason) {
  using Step = std::function<void(ProblemBuilder&)>;
  const struct {
    Step step;
    std::string message;
  } cases[] = {
      {[](ProblemBuilder&) {
         ProblemBuilder({"x", "1x"});
       },
       "expected a state name (letters, digits and underscores, not starting "
       "with a digit), found \"1x\""},
      {[](ProblemBuilder&) {
         ProblemBuilder({"x", "x"});
       },
       "expected a state name not used before, found \"x\""},
      {[](ProblemBuilder& b) { b.add_parameter(parameter("ka", 1)); },
       "expected a parameter name not used before, found \"ka\""},
      {[](ProblemBuilder& b) { b.add_parameter(parameter("k-1", 1)); },
       "expected a parameter name (letters, digits and underscores, not "
       "starting with a digit), found \"k-1\""},
      {[](ProblemBuilder& b) { b.add_parameter(parameter("V", 1, 10, 5)); },
       "parameter V: expected a lower bound not above the upper bound 5, "
       "found 10"},
      {[](ProblemBuilder& b) {
         b.add_parameter(parameter("V", 1, 0, 5, Scale::kLog));
         b.add_parameter(parameter("W", 1, -1, 5, Scale::kLog));
       },
       "parameter W: expected a lower bound above 0 for a log-scaled "
       "parameter, found -1"},
      {[](ProblemBuilder& b) {
         b.add_parameter(parameter("V", 0.5, -INFINITY, 0, Scale::kLog10));
       },
       "parameter V: expected an upper bound above 0 for a log10-scaled "
       "parameter, found 0"},
      {[](ProblemBuilder& b) { b.add_parameter(parameter("V", 30, 0.01, 20)); },
       "parameter V: expected a value from 0.01 to 20, found 30"},
      {[](ProblemBuilder& b) { b.add_parameter(parameter("V", NAN)); },
       "parameter V: expected a finite value, found nan"},
      {[](ProblemBuilder& b) { b.set_entry("gut", "blood", "-ka"); },
       "expected a state (gut, central), found \"blood\""},
      {[](ProblemBuilder& b) { b.set_entry(0, 0, "-ka * kx"); },
       "in \"-ka * kx\": column 7: expected a declared parameter, found "
       "\"kx\""},
      {[](ProblemBuilder& b) { b.set_entry(2, 0, "1"); },
       "expected a matrix entry within 2x2, found (3, 1)"},
      {[](ProblemBuilder& b) { b.add_observable("conc", {}); },
       "expected an observable name not used before, found \"conc\""},
      {[](ProblemBuilder& b) {
         b.add_observable("y", {{"gut", "1"}, {"gut", "2"}});
       },
       "expected a state not named before in observable y, found \"gut\""},
      {[](ProblemBuilder& b) { b.add_observable("y", {}, "0", "0"); },
       "expected a sigma above 0, found 0"},
      {[](ProblemBuilder& b) { b.add_experiment("s1"); },
       "expected an experiment id not used before, found \"s1\""},
      {[](ProblemBuilder& b) { b.add_override(0, "kb", "ka"); },
       "experiment s1: expected a declared parameter to override, found "
       "\"kb\""},
      {[](ProblemBuilder& b) { b.add_override(0, "ka", "2*ke"); },
       "experiment s1: expected a declared parameter or a number for ka, "
       "found \"2*ke\""},
      {[](ProblemBuilder& b) {
         b.add_override(0, "ka", "ke");
         b.add_override(0, "ka", "1");
       },
       "experiment s1: expected a parameter not overridden before, found "
       "\"ka\""},
      {[](ProblemBuilder& b) { b.add_dose(0, "gut", "0", "4", "0"); },
       "expected an infusion duration above 0 (for a dose given at once, use "
       "a bolus: no duration), found 0"},
      {[](ProblemBuilder& b) { b.add_dose(0, "gut", "0", "-4"); },
       "expected a dose amount of 0 or more, found -4"},
      {[](ProblemBuilder& b) { b.add_dose(0, "gut", "-1", "4"); },
       "expected a dose time of 0 or more, found -1"},
      {[](ProblemBuilder& b) { b.add_measurement(0, 0, -0.5, 1.0); },
       "expected a finite time of 0 or more, found -0.5"},
      {[](ProblemBuilder& b) { b.add_measurement(0, 0, INFINITY, 1.0); },
       "expected a finite time of 0 or more, found inf"},
      {[](ProblemBuilder& b) { b.add_measurement(0, 0, 1.0, NAN); },
       "expected a finite measurement, found nan"},
      {[](ProblemBuilder& b) { b.add_measurement(0, 0, 1.0, 2.0, 0.0); },
       "expected a finite sigma above 0, found 0"},
      {[](ProblemBuilder&) { ProblemBuilder({"x"}).build(); },
       "expected at least one experiment, found none"},
  };
  for (const auto& c : cases) {
    ProblemBuilder b = base();
    try {
      c.step(b);
      ADD_FAILURE() << "accepted; expected: " << c.message;
    } catch (const std::exception& e) {
      EXPECT_EQ(e.what(), c.message);
    }
  }
}

TEST(ProblemBuilder, EachExperimentBindsTheSharedDefinitionsItsOwnWay) {
  ProblemBuilder b({"gut", "central"});
  const int ka = b.add_parameter(parameter("ka", 1.5));
  const int ka2 = b.add_parameter(parameter("ka_2", 2.5));
  const int ke = b.add_parameter(parameter("ke", 0.1));
  const int V = b.add_parameter(parameter("V", 0.5));
  b.add_parameter(parameter("F", 1.0));
  b.set_entry("gut", "gut", "-ka");
  b.set_entry("central", "gut", "ka");
  b.set_entry("central", "central", "-ke");
  b.add_observable("conc", {{"central", "1/V"}}, "0", "0.5");
  const int s1 = b.add_experiment("s1");
  const int s2 = b.add_experiment("s2");
  b.set_x0(s1, "gut", "4.02 * F");
  b.set_x0(s2, "gut", "4.40 * F");
  b.add_override(s2, "ka", "ka_2");
  b.add_override(s2, "F", "0.8");
  b.add_measurement(s1, 0, 0.0, 0.74, std::nullopt, false);
  b.add_measurement(s1, 0, 1.0, 10.5);
  b.add_measurement(s2, 0, 2.0, 9.0, 0.25);
  const FitProblem p = b.build();

  ASSERT_EQ(p.experiments.size(), 2u);
  EXPECT_EQ(p.measurement_count(), 3u);
  EXPECT_EQ(p.counted_measurement_count(), 2u);
  EXPECT_EQ(p.measurement_offset(1), 2u);
  EXPECT_EQ(p.estimated_parameters().size(), 5u);
  const Experiment& e1 = p.experiments[s1];
  const Experiment& e2 = p.experiments[s2];
  ASSERT_EQ(e1.matrix.size(), 3u);  // row-major: (0,0), (1,0), (1,1)
  EXPECT_EQ(e1.matrix[1].row, 1);
  EXPECT_EQ(e1.matrix[1].col, 0);
  EXPECT_EQ(e1.matrix[1].value.single_parameter(), ka);
  EXPECT_EQ(e2.matrix[1].value.single_parameter(), ka2);
  EXPECT_EQ(e2.matrix[0].value.parameters(), std::vector<int>{ka2});
  EXPECT_EQ(e2.matrix[2].value.parameters(), std::vector<int>{ke});
  // F stands for 0.8 in s2, so its x0 folds to a constant.
  EXPECT_FALSE(e1.x0[0].is_constant());
  ASSERT_TRUE(e2.x0[0].is_constant());
  EXPECT_EQ(e2.x0[0].constant_value(), 4.40 * 0.8);
  EXPECT_TRUE(e2.x0[1].is_constant());
  EXPECT_EQ(e2.x0[1].constant_value(), 0.0);
  ASSERT_EQ(e1.observables.size(), 1u);
  EXPECT_EQ(e1.observables[0].coefficients[0].second.parameters(),
            std::vector<int>{V});
  // Sigma: the observable's unless the measurement gives its own.
  EXPECT_EQ(e1.measurements[1].sigma.constant_value(), 0.5);
  EXPECT_EQ(e2.measurements[0].sigma.constant_value(), 0.25);
  EXPECT_FALSE(e1.measurements[0].counted);
  EXPECT_EQ(p.end_time(), 2.0);
}

TEST(ProblemBuilder, ChecksAnExpressionAsItsCallsDoAndListsItsNames) {
  ProblemBuilder b = base();
  EXPECT_NO_THROW(b.check_expression("ka * exp(-ke)"));
  const struct {
    const char* text;
    std::size_t offset;
    const char* expected;
  } faults[] = {
      {"ka * kx", 5, "a declared parameter"},
      {"ka *", 4, "a number, a name or \"(\""},
  };
  for (const auto& f : faults) {
    try {
      b.check_expression(f.text);
      ADD_FAILURE() << "accepted " << f.text;
    } catch (const ExpressionError& e) {
      EXPECT_EQ(e.offset(), f.offset) << f.text;
      EXPECT_EQ(e.expected(), f.expected) << f.text;
    }
  }
  b.add_experiment("s2");
  EXPECT_EQ(b.states(), (std::vector<std::string>{"gut", "central"}));
  EXPECT_EQ(b.observables(), std::vector<std::string>{"conc"});
  EXPECT_EQ(b.experiment_ids(), (std::vector<std::string>{"s1", "s2"}));
}

TEST(Parameter, ScalesRoundTripAndCarryDerivatives) {
  for (Scale s : {Scale::kLin, Scale::kLog, Scale::kLog10}) {
    SCOPED_TRACE(scale_name(s));
    EXPECT_EQ(parse_scale(scale_name(s)), s);
    const double v = 0.37;
    const double y = to_scaled(s, v);
    EXPECT_NEAR(from_scaled(s, y), v, 1e-16);
    const double h = 1e-6;
    const double fd = (from_scaled(s, y + h) - from_scaled(s, y - h)) / (2 * h);
    EXPECT_NEAR(unscaled_per_scaled(s, y), fd, 1e-8);
  }
  EXPECT_FALSE(parse_scale("ln"));
  EXPECT_EQ(default_start(0.01, 100, Scale::kLog10), 1.0);
  EXPECT_EQ(default_start(2, 4, Scale::kLin), 3.0);
  EXPECT_EQ(default_start(-INFINITY, INFINITY, Scale::kLin), 0.0);
  EXPECT_EQ(default_start(2, INFINITY, Scale::kLin), 2.0);
  EXPECT_EQ(default_start(-INFINITY, INFINITY, Scale::kLog), 1.0);
  EXPECT_EQ(default_start(-INFINITY, 0.5, Scale::kLog), 0.5);
}

}  // namespace
}  // namespace identify
