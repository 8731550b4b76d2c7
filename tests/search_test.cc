// Multi-start fits and profiles on real problems, through the stages the
// program runs (the exact model, lm): theophylline's profile intervals
// against an independent SciPy computation on either scale, a profile that
// meets a bound, and starts re-drawn where the model overflows. The mirror
// optima, determinism and the sum-only pair go through the program in
// problem_search_test.cc.
#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <cstdint>
#include <memory>
#include <numbers>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "api/fit_task.h"
#include "app/options.h"
#include "api/multistart_stage.h"
#include "api/profile_stage.h"
#include "input/yaml_problem_file.h"
#include "model/exact/exact_model.h"
#include "model/model_kind.h"
#include "problem/descent_rules.h"
#include "run_binary.h"

namespace identify {
namespace {

// A problem with the descent set-up the fit stages take.
struct Posed {
  FitProblem problem;
  DescentSetup descent;
  FitTask task() const { return {problem, descent}; }
};

struct Searched {
  Posed input;
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
  const FitPlan plan = fit_plan(opt, choice);
  s->summary = fit_with_starts(plan, s->input.task(), *model, settings, out,
                               s->results);
  if (opt.profile) {
    profile_result(plan, s->input.task(), *model, settings, s->summary,
                   s->results, out, err);
  }
  s->err = err.str();
  return s;
}

// A signal between the end of the fit and the start of its profiles: every
// side asked for is marked interrupted, none is left blank as if it had not
// been asked for.
TEST(Search, ProfilesAfterASignalAreMarkedInterrupted) {
  Searched s;
  s.input.problem = example("theophylline_pk");
  s.input.descent.rules = descent_rules(s.input.problem);
  const RunChoice choice{ModelKind::kExact, Method::kLm, 1};
  std::unique_ptr<Model> model = make_model(choice.model, s.input.problem);
  std::atomic<int> signal{0};
  MonitorSettings settings;
  settings.quiet = true;
  settings.interrupt = &signal;
  Options opt;
  opt.profile = true;
  const FitPlan plan = fit_plan(opt, choice);
  std::ostringstream out, err;
  s.summary =
      fit_with_starts(plan, s.input.task(), *model, settings, out, s.results);
  ASSERT_EQ(s.summary.termination, Termination::kOptimumReached);
  signal = 15;
  profile_result(plan, s.input.task(), *model, settings, s.summary, s.results,
                 out, err);
  ASSERT_TRUE(s.results.profiles) << err.str();
  ASSERT_EQ(s.results.profiles->rows.size(), 3u);
  for (const ProfileRow& row : s.results.profiles->rows) {
    EXPECT_EQ(row.lower_end, SideEnd::kInterrupted) << row.name;
    EXPECT_EQ(row.upper_end, SideEnd::kInterrupted) << row.name;
  }
  EXPECT_NE(err.str().find("the sides not finished are marked interrupted"),
            std::string::npos)
      << err.str();
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

// alpha_pinene_5rate's model on noisy data generated here from the
// published rates (about 1e-5 per minute), its rates starting at the
// default 0.5 of their box [0, 1]: the 20 default starts must reach the
// optimum that a fit from the true rates reaches. Drawn uniformly in the
// box, a start has rates near 0.5, five orders too fast, and every data set
// ends elsewhere.
TEST(Search, DrawnStartsReachRatesDecadesBelowTheirBound) {
  const std::vector<double> truth = {5.926e-5, 2.963e-5, 2.047e-5, 27.45e-5,
                                     3.998e-5};
  FitProblem clean = example("alpha_pinene_5rate");
  Evaluation at;
  ExactModel(clean).evaluate(truth, at);
  std::mt19937_64 engine(20261208);
  const auto uniform = [&engine] {
    return (static_cast<double>(engine() >> 11) + 0.5) * 0x1p-53;
  };
  Options opt;
  for (int set = 0; set < 4; ++set) {
    SCOPED_TRACE(set);
    FitProblem noisy = clean;
    std::size_t m = 0;
    for (Measurement& ms : noisy.experiments[0].measurements.edit()) {
      // Box–Muller, standard deviation 0.5 (percent of the charge).
      const double u = uniform(), v = uniform();
      const double z =
          std::sqrt(-2.0 * std::log(u)) * std::cos(2.0 * std::numbers::pi * v);
      ms.value = at.y[m++] + 0.5 * z;
    }
    FitProblem from_truth = noisy;
    for (std::size_t k = 0; k < truth.size(); ++k) {
      from_truth.parameters[k].value = truth[k];
      noisy.parameters[k].value = 0.5;
    }
    opt.starts = 1;
    const double best = search(from_truth, opt)->summary.norm;
    opt.starts = 20;
    const auto s = search(noisy, opt);
    EXPECT_LE(s->summary.norm, best * (1 + 1e-9)) << verdict(s->summary);
  }
}

}  // namespace
}  // namespace identify
