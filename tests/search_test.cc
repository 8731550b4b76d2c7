// Multi-start fits and profiles on real problems, through the stages the
// program runs (the exact model, lm): theophylline's profile intervals
// against an independent SciPy computation on either scale, a profile that
// meets a bound, and starts re-drawn where the model overflows. The mirror
// optima, determinism and the sum-only pair go through the program in
// problem_search_test.cc.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/fit_input.h"
#include "app/multistart_stage.h"
#include "app/profile_stage.h"
#include "input/yaml_problem_file.h"
#include "model/model_kind.h"
#include "problem/descent_rules.h"
#include "run_binary.h"

namespace identify {
namespace {

struct Searched {
  FitInput input;
  Summary summary;
  SearchResults results;
  std::string err;
};

FitProblem example(const std::string& name) {
  return read_yaml_problem(std::string(IDENTIFY_EXAMPLES_DIR) + "/" + name +
                           "/problem.yaml")
      .problem;
}

// A problem file written with its data table into a scratch directory.
FitProblem written(const std::string& yaml, const std::string& csv) {
  testing::ScratchDir dir;
  dir.write("problem.yaml", yaml);
  dir.write("data.csv", csv);
  return read_yaml_problem(dir.file("problem.yaml")).problem;
}

// The fit and the profiles as the run does them, with the exact model and
// lm, quietly.
std::unique_ptr<Searched> search(FitProblem problem, const Options& opt) {
  auto s = std::make_unique<Searched>();
  s->input.problem = std::move(problem);
  s->input.descent.rules = descent_rules(s->input.problem);
  const RunChoice choice{ModelKind::kExact, Method::kLm,
                         opt.starts.value_or(1)};
  std::unique_ptr<Model> model = make_model(choice.model, s->input.problem);
  MonitorSettings settings;
  settings.quiet = true;
  std::ostringstream out, err;
  s->summary = fit_with_starts(opt, choice, s->input.task(), *model, settings,
                               out, s->results);
  if (opt.profile) {
    profile_result(opt, choice, s->input.task(), *model, settings, s->summary,
                   s->results, out, err);
  }
  s->err = err.str();
  return s;
}

// ka, ke and V: tools/theophylline_profiles.py (SciPy least_squares and
// brentq on the closed-form solution, linear scale), stored in
// tools/reference/theophylline_profiles.txt.
const struct {
  const char* name;
  double lower, upper;
} kScipyProfiles[] = {{"ka", 1.25840423215, 2.55261393146},
                      {"ke", 0.0351031731186, 0.0779637464189},
                      {"V", 0.321777565194, 0.421123384392}};

TEST(Search, TheophyllineProfilesAgreeWithScipyOnEitherScale) {
  for (Scale scale : {Scale::kLog, Scale::kLin}) {
    FitProblem problem = example("theophylline_pk");
    for (Parameter& parameter : problem.parameters) parameter.scale = scale;
    Options opt;
    opt.profile = true;
    opt.threads = 2;
    const auto s = search(std::move(problem), opt);
    ASSERT_TRUE(s->results.profiles) << s->err;
    const ProfilesReport& r = *s->results.profiles;
    EXPECT_EQ(r.threshold.kind, ThresholdKind::kProfileT);
    EXPECT_NEAR(r.threshold.value, 7.13494872741033, 1e-8);
    ASSERT_EQ(r.rows.size(), 3u);
    for (int q = 0; q < 3; ++q) {
      const ProfileRow& row = r.rows[q];
      EXPECT_EQ(row.name, kScipyProfiles[q].name);
      EXPECT_EQ(row.lower_end, SideEnd::kCrossed);
      EXPECT_EQ(row.upper_end, SideEnd::kCrossed);
      EXPECT_NEAR(row.lower, kScipyProfiles[q].lower,
                  1e-4 * kScipyProfiles[q].lower)
          << row.name;
      EXPECT_NEAR(row.upper, kScipyProfiles[q].upper,
                  1e-4 * kScipyProfiles[q].upper)
          << row.name;
      // The Wald interval is beside it, narrower above for ka and ke.
      EXPECT_LT(row.wald_lower, row.estimate);
      EXPECT_GT(row.wald_upper, row.estimate);
    }
    EXPECT_EQ(r.restarts, 0);
    EXPECT_TRUE(s->err.empty()) << s->err;
  }
}

TEST(Search, ProfileThatMeetsABoundIsOpenThere) {
  FitProblem problem = example("theophylline_pk");
  problem.parameters[problem.parameter_index("ke")].upper = 0.07;
  Options opt;
  opt.profile = true;
  opt.profile_names = {"ke"};
  const auto s = search(std::move(problem), opt);
  ASSERT_TRUE(s->results.profiles);
  ASSERT_EQ(s->results.profiles->rows.size(), 1u);
  const ProfileRow& ke = s->results.profiles->rows[0];
  EXPECT_EQ(ke.lower_end, SideEnd::kCrossed);
  EXPECT_NEAR(ke.lower, kScipyProfiles[1].lower, 1e-4 * ke.lower);
  EXPECT_EQ(ke.upper_end, SideEnd::kBound);
  EXPECT_EQ(ke.upper, 0.07);
  // The points reach the bound, below the threshold there.
  const ParameterProfile& curve = s->results.curves[0];
  EXPECT_NEAR(std::exp(curve.points.back().x), 0.07, 1e-15);
  EXPECT_LT(curve.points.back().objective,
            s->results.profiles->threshold.value);
}

TEST(Search, StartsWhereTheModelOverflowsAreRedrawn) {
  // x' = k·x over 20 time units: exp(20·k) overflows for k above about
  // 35, a third of the box [-1, 50].
  const FitProblem problem = written(
      "states: [x]\n"
      "parameters:\n"
      "  k: {lower: -1, upper: 50, value: 0}\n"
      "matrix:\n"
      "  x: {x: k}\n"
      "observables:\n"
      "  y: {states: {x: 1}}\n"
      "experiments:\n"
      "  - {id: e, x0: {x: 1}}\n"
      "data: data.csv\n",
      "time,y\n1,0.74\n5,0.22\n10,0.05\n20,0.0025\n");
  Options opt;
  opt.starts = 12;
  const auto s = search(problem, opt);
  int redraws = 0;
  for (const StartOutcome& o : s->results.starts->outcomes) {
    // From k near 35 (a sum of squares near 1e300) lm takes a few hundred
    // iterations down: such starts stop at the bound of a drawn start.
    EXPECT_TRUE(o.finished || (o.capped && o.iterations == 100)) << o.start;
    EXPECT_LT(o.start_x[0], 36.0) << o.start;
    redraws += o.redraws;
  }
  EXPECT_GT(redraws, 0);
  EXPECT_NEAR(s->summary.theta[0], -0.3, 0.01);
}

}  // namespace
}  // namespace identify
