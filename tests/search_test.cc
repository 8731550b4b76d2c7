// Multi-start fits and profiles on real problems, through the stages the
// program runs (the exact model, lm): theophylline's mirror-image optima,
// its profile intervals against an independent SciPy computation, the
// same result on one or two threads, a profile that meets a bound, two
// rates that only enter as their sum, and starts re-drawn where the model
// overflows.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "app/fit_input.h"
#include "app/multistart_stage.h"
#include "app/profile_stage.h"
#include "fit/fit_statistics.h"
#include "input/yaml_problem_file.h"
#include "model/model_kind.h"
#include "output/fit_report.h"
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

double value_of(const FitProblem& p, std::span<const double> theta,
                const std::string& name) {
  return theta[p.parameter_index(name)];
}

TEST(Search, TheophyllineMirrorOptimaTieAndTheFirstStartIsKept) {
  Options opt;
  opt.starts = 20;
  opt.threads = 2;
  const auto two = search(example("theophylline_pk"), opt);
  const FitProblem& p = two->input.problem;
  ASSERT_TRUE(two->results.starts);
  const std::vector<Optimum>& optima = two->results.starts->optima;
  ASSERT_GE(optima.size(), 2u);
  EXPECT_TRUE(optima[0].tied);
  EXPECT_TRUE(optima[1].tied);
  EXPECT_NEAR(optima[1].objective, optima[0].objective,
              1e-9 * optima[0].objective);
  EXPECT_EQ(optima[0].starts.front(), 0);
  // The published branch (fast absorption), and its mirror with V scaled by
  // ke/ka so that ka/V stays.
  const struct {
    double ka, ke, V;
  } branches[] = {{1.777414, 0.05395455, 0.3692642},
                  {0.05395455, 1.777414, 0.3692642 * 0.05395455 / 1.777414}};
  for (int q = 0; q < 2; ++q) {
    EXPECT_NEAR(value_of(p, optima[q].theta, "ka"), branches[q].ka,
                1e-5 * branches[q].ka);
    EXPECT_NEAR(value_of(p, optima[q].theta, "ke"), branches[q].ke,
                1e-5 * branches[q].ke);
    EXPECT_NEAR(value_of(p, optima[q].theta, "V"), branches[q].V,
                1e-5 * branches[q].V);
  }
  // The result is the fit of the first optimum's start, to the last bit.
  EXPECT_EQ(two->summary.theta, optima[0].theta);

  // One thread, same seed: the same starts, end points and optima.
  opt.threads = 1;
  const auto one = search(example("theophylline_pk"), opt);
  const auto& a = two->results.starts->outcomes;
  const auto& b = one->results.starts->outcomes;
  ASSERT_EQ(a.size(), b.size());
  for (std::size_t i = 0; i < a.size(); ++i) {
    EXPECT_EQ(a[i].start_x, b[i].start_x) << i;
    EXPECT_EQ(a[i].theta, b[i].theta) << i;
    EXPECT_EQ(a[i].objective, b[i].objective) << i;
  }
  EXPECT_EQ(one->results.starts->optima.size(), optima.size());
  EXPECT_EQ(one->summary.theta, two->summary.theta);
  // Another seed draws other starts.
  opt.seed = 2;
  const auto other = search(example("theophylline_pk"), opt);
  EXPECT_NE(other->results.starts->outcomes[1].start_x, a[1].start_x);
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

TEST(Search, RatesThatOnlyEnterAsTheirSumHaveFlatOpenProfiles) {
  // x' = -(k1 + k2)·x from x(0) = 2; data of k1 + k2 = 0.5 with a little
  // noise. Only the sum is determined.
  const FitProblem problem = written(
      "states: [x]\n"
      "parameters:\n"
      "  k1: {value: 0.1}\n"
      "  k2: {value: 0.1}\n"
      "matrix:\n"
      "  x: {x: -(k1 + k2)}\n"
      "observables:\n"
      "  y: {states: {x: 1}}\n"
      "experiments:\n"
      "  - {id: e, x0: {x: 2}}\n"
      "data: data.csv\n",
      "time,y\n1,1.22\n2,0.72\n3,0.45\n4,0.27\n5,0.17\n6,0.09\n7,0.06\n");
  Options opt;
  opt.profile = true;
  const auto s = search(problem, opt);
  ASSERT_TRUE(s->results.profiles) << s->err;
  for (const ProfileRow& row : s->results.profiles->rows) {
    EXPECT_EQ(row.lower_end, SideEnd::kSearchLimit) << row.name;
    EXPECT_EQ(row.upper_end, SideEnd::kSearchLimit) << row.name;
    EXPECT_FALSE(std::isfinite(row.wald_lower)) << row.name;
    EXPECT_EQ(row.wald_note, "not determined by the data");
  }
  const double sum = s->summary.theta[0] + s->summary.theta[1];
  EXPECT_NEAR(sum, 0.5, 0.02);
  // The report names the flat combination, as for any fit.
  std::unique_ptr<Model> model = make_model(ModelKind::kExact, problem);
  const std::string report = format_fit_report(
      compute_fit_statistics(problem, *model, s->summary.theta), RunSummary{});
  EXPECT_NE(report.find("k1 - k2"), std::string::npos) << report;
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
