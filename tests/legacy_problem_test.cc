// The legacy files as a FitProblem: every entry a parameter in row-major
// order, the fixed and bounded entries' roles, the anchored points, and the
// descent's own rules.
#include "input/legacy_problem.h"

#include <gtest/gtest.h>

#include "test_problems.h"

namespace identify {
namespace {

TEST(LegacyProblem, WorkedExampleBecomesParametersOneExperimentAndAnchors) {
  // N = 2, A[1][2] fixed at 0.5, A[2][1] in [-1, 1], x0 = (1, 0),
  // amp = (0, 1), rate = (0, -0.5); two series of 4 samples.
  testing::Example ex = testing::read_example("worked");
  const LegacyProblem legacy = legacy_problem(ex.problem, ex.obs);
  const FitProblem& p = legacy.problem;
  EXPECT_EQ(p.states, (std::vector<std::string>{"x1", "x2"}));
  ASSERT_EQ(p.parameter_count(), 4);
  EXPECT_EQ(p.parameters[1].name, "a12");
  EXPECT_FALSE(p.parameters[1].estimated);
  EXPECT_EQ(p.parameters[1].value, 0.5);
  EXPECT_TRUE(p.parameters[2].estimated);
  EXPECT_EQ(p.parameters[2].lower, -1.0);
  EXPECT_EQ(p.parameters[2].upper, 1.0);
  EXPECT_EQ(p.estimated_parameters(), (std::vector<int>{0, 2, 3}));
  ASSERT_EQ(p.experiments.size(), 1u);
  const Experiment& e = p.experiments[0];
  EXPECT_EQ(e.matrix.size(), 4u);
  EXPECT_EQ(e.matrix[2].value.single_parameter(), 2);
  ASSERT_EQ(e.sources.size(), 1u);  // only the nonzero amplitude
  EXPECT_EQ(e.sources[0].state, 1);
  EXPECT_EQ(e.sources[0].rate.constant_value(), -0.5);
  EXPECT_EQ(p.observables, (std::vector<std::string>{"x1", "x2"}));
  ASSERT_EQ(p.measurement_count(), 10u);
  EXPECT_EQ(p.counted_measurement_count(), 8u);
  // Series after series, the anchored point first.
  EXPECT_FALSE(e.measurements[5].counted);
  EXPECT_EQ(e.measurements[5].observable, 1);
  EXPECT_EQ(e.measurements[5].time, 0.0);
  EXPECT_EQ(e.measurements[5].value, 0.0);  // x0 of x2
  EXPECT_EQ(e.measurements[6].value, 0.61);
  EXPECT_EQ(p.horizon, 10.0);
  EXPECT_EQ(legacy.epsilon, 0.45);
  EXPECT_EQ(legacy.step, 0.01);
  // The descent starts from zeros and applies the entries in file order.
  EXPECT_EQ(legacy.descent.start, std::vector<double>(4, 0.0));
  ASSERT_EQ(legacy.descent.fixed.size(), 1u);
  EXPECT_EQ(legacy.descent.fixed[0].parameter, 1);
  ASSERT_EQ(legacy.descent.bounded.size(), 1u);
  EXPECT_EQ(legacy.descent.bounded[0].parameter, 2);
}

TEST(LegacyProblem, RepeatedEntriesKeepTheirLastRoleAndNamesScaleWithN) {
  ProblemRecord record = testing::make_problem(std::vector<double>(10, 0.0),
                                               std::vector<double>(10, 0.0),
                                               std::vector<double>(10, 0.0));
  testing::bound_entry(record, 0, 1, 2.0, 3.0);
  testing::bound_entry(record, 0, 1, -1.0, 4.0);  // the last interval counts
  testing::fix_entry(record, 9, 9, 1.0);
  testing::fix_entry(record, 9, 9, 2.0);
  testing::bound_entry(record, 9, 9, 0.0, 1.0);  // fixed wins
  testing::bound_entry(record, 5, 5, 0.5, 0.5);  // held at its point
  const ObservationRecord obs = testing::make_observations(10, {}, {});
  const LegacyProblem legacy = legacy_problem(record, obs);
  const std::vector<Parameter>& params = legacy.problem.parameters;
  EXPECT_EQ(params[1].name, "a1_2");
  EXPECT_EQ(params[99].name, "a10_10");
  EXPECT_EQ(params[1].lower, -1.0);
  EXPECT_EQ(params[1].upper, 4.0);
  EXPECT_EQ(params[1].value, 0.0);
  EXPECT_FALSE(params[99].estimated);
  EXPECT_EQ(params[99].value, 2.0);
  EXPECT_TRUE(params[55].estimated);
  EXPECT_EQ(params[55].value, 0.5);  // the start moved into its interval
  EXPECT_EQ(legacy.descent.fixed.size(), 2u);
  EXPECT_EQ(legacy.descent.bounded.size(), 4u);
  EXPECT_TRUE(legacy.problem.observables.empty());
}

}  // namespace
}  // namespace identify
