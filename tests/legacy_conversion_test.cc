// The legacy conversion: for every legacy example, the converted problem
// file and data table read back to the problem the legacy files pose (each
// entry of A fixed, bounded or free as the legacy methods take it, x0 and
// sources as given, every data point once, the t = 0 points left out), and
// the rules for entries fixed and bounded more than once.
#include "input/legacy_conversion.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <optional>

#include "input/yaml_problem_file.h"
#include "run_binary.h"
#include "test_problems.h"

namespace identify {
namespace {

using testing::ScratchDir;

LoadedProblem read_back(const ProblemRecord& p, const ObservationRecord& o) {
  const ConvertedProblem c = convert_legacy(p, o, "input_data.csv");
  ScratchDir dir;
  dir.write("problem.yaml", c.problem);
  dir.write("input_data.csv", c.data);
  return read_yaml_problem(dir.file("problem.yaml"));
}

// "x3" for index 2.
std::string state_name(int index) {
  std::string name = "x";
  name += std::to_string(index + 1);
  return name;
}

template <class E>
double constant(const E& e) {
  EXPECT_TRUE(e.is_constant()) << e.text();
  return e.constant_value();
}

// What the legacy methods make of entry (i, j): fixed at a value, or free
// within bounds (infinite when not bounded).
struct Expected {
  std::optional<double> fixed;
  double lower = -INFINITY, upper = INFINITY;
};
Expected legacy_entry(const ProblemRecord& p, int i, int j) {
  Expected e;
  for (std::size_t k = 0; k < p.par_borders_num.size(); ++k) {
    if (p.par_borders_num[k] == EntryIndex{i, j}) {
      e.lower = p.par_borders_val[k].lower;
      e.upper = p.par_borders_val[k].upper;
    }
  }
  if (e.lower == e.upper) e.fixed = e.lower;
  for (std::size_t k = 0; k < p.fix_par_num.size(); ++k) {
    if (p.fix_par_num[k] == EntryIndex{i, j}) e.fixed = p.fix_par_val[k];
  }
  return e;
}

void expect_same_problem(const ProblemRecord& p, const ObservationRecord& o,
                         const FitProblem& f) {
  const int n = p.dim;
  ASSERT_EQ(f.state_count(), n);
  ASSERT_EQ(f.experiments.size(), 1u);
  const Experiment& e = f.experiments[0];
  std::map<std::pair<int, int>, const BoundExpression*> terms;
  for (const MatrixTerm& t : e.matrix) terms[{t.row, t.col}] = &t.value;
  int free_entries = 0;
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      SCOPED_TRACE(::testing::Message() << "entry " << i + 1 << "," << j + 1);
      const Expected want = legacy_entry(p, i, j);
      ASSERT_TRUE(terms.count({i, j}));
      const BoundExpression& term = *terms[{i, j}];
      if (want.fixed) {
        EXPECT_EQ(constant(term), *want.fixed);
        continue;
      }
      ++free_entries;
      ASSERT_GE(term.single_parameter(), 0);
      const Parameter& q = f.parameters[term.single_parameter()];
      EXPECT_TRUE(q.estimated);
      EXPECT_EQ(q.lower, want.lower);
      EXPECT_EQ(q.upper, want.upper);
      EXPECT_EQ(q.value, std::clamp(0.0, want.lower, want.upper));
    }
  }
  EXPECT_EQ(f.parameter_count(), free_entries);
  for (int i = 0; i < n; ++i) EXPECT_EQ(constant(e.x0[i]), p.init_val[i]);
  for (const Source& s : e.sources) {
    EXPECT_EQ(constant(s.amp), p.exp_coef[s.state]);
    EXPECT_EQ(constant(s.rate), p.exp_par[s.state]);
  }
  for (int i = 0; i < n; ++i) {
    const bool has = std::any_of(e.sources.begin(), e.sources.end(),
                                 [&](const Source& s) { return s.state == i; });
    EXPECT_EQ(has, p.exp_coef[i] != 0.0 || p.exp_par[i] != 0.0);
  }
  std::size_t m = 0;
  for (int k = 0; k < o.data_num; ++k) {
    const int c = o.is_data_exist[k];
    for (int q = 1; q < o.points(); ++q, ++m) {
      ASSERT_LT(m, e.measurements.size());
      const Measurement& got = e.measurements[m];
      EXPECT_EQ(f.observables[got.observable], state_name(c));
      const ObservableTerms& y = e.observables[got.observable];
      ASSERT_EQ(y.coefficients.size(), 1u);
      EXPECT_EQ(y.coefficients[0].first, c);
      EXPECT_EQ(constant(y.coefficients[0].second), 1.0);
      EXPECT_EQ(got.time, o.data_time[k][q]);
      EXPECT_EQ(got.value, o.add_data[k][q]);
      EXPECT_EQ(constant(got.sigma), 1.0);
    }
  }
  EXPECT_EQ(e.measurements.size(), m);
}

TEST(LegacyConversion, EveryLegacyExampleReadsBackAsTheSameProblem) {
  for (const char* name : {"worked", "worked_as_given", "known_matrix",
                           "theophylline", "alpha_pinene"}) {
    SCOPED_TRACE(name);
    const testing::Example ex = testing::read_example(name);
    expect_same_problem(ex.problem, ex.obs,
                        read_back(ex.problem, ex.obs).problem);
  }
}

TEST(LegacyConversion, ResolvesEntriesFixedOrBoundedMoreThanOnce) {
  ProblemRecord p = testing::make_problem({1, 0, 2}, {0, 0, 0.5}, {0, 0, -1});
  testing::bound_entry(p, 0, 0, -1, 1);
  testing::fix_entry(p, 0, 0, 0.25);  // fixed wins over a bound
  testing::fix_entry(p, 1, 0, 2);
  testing::fix_entry(p, 1, 0, 3);  // the last fixing counts
  testing::bound_entry(p, 2, 2, -5, -4);
  testing::bound_entry(p, 2, 2, 1, 2);      // the last bounds count
  testing::bound_entry(p, 0, 1, 0.5, 0.5);  // one point: fixed
  const ObservationRecord o = testing::make_observations(
      3, {2, 0, 2}, {{0, 1, 2}, {0, 1.5, 3}, {0, 0.1, 0.2}},
      {{9, 0.1, 0.2}, {9, 1.0 / 3, 1e-300}, {9, -2, 4}});
  const FitProblem f = read_back(p, o).problem;
  expect_same_problem(p, o, f);
  EXPECT_EQ(f.parameters[f.parameter_index("a33")].value, 1.0);
  EXPECT_EQ(f.observables, (std::vector<std::string>{"x1", "x3"}));
}

TEST(LegacyConversion, NamesEntriesUnambiguouslyFromTenStatesOn) {
  ProblemRecord p =
      testing::make_problem(Vector(10, 0.0), Vector(10, 0.0), Vector(10, 0.0));
  const ObservationRecord o = testing::make_observations(10, {}, {});
  const ConvertedProblem c = convert_legacy(p, o, "d.csv");
  EXPECT_NE(c.problem.find("  a1_10: {value: 0}\n"), std::string::npos);
  EXPECT_NE(c.problem.find("  a10_1: {value: 0}\n"), std::string::npos);
  EXPECT_EQ(c.data, "observable,time,measurement\n");
}

}  // namespace
}  // namespace identify
