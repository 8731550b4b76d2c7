// The library methods lm and lbfgsb on θ: recovery of a known matrix from
// its own model values, bounds and fixed entries, the stops and their
// console, and the two real-data examples through the built program.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <csignal>
#include <limits>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "fit/lm.h"
#include "fit/method.h"
#include "fit/scaled_unknowns.h"
#include "input/legacy_problem.h"
#include "model/exact/exact_model.h"
#include "model/grid/grid_model.h"
#include "model/model_kind.h"
#include "run_binary.h"
#include "test_problems.h"

namespace identify {
namespace {

using ::testing::AllOf;
using testing::bound_entry;
using testing::fix_entry;
using ::testing::Gt;
using ::testing::HasSubstr;
using ::testing::Lt;
using testing::make_observations;
using testing::make_problem;
using testing::matrix_of;
using ::testing::Not;
using testing::relative_gap;
using ::testing::StartsWith;
using testing::theta_of;

constexpr Method kMethods[] = {Method::kLm, Method::kLbfgsb};

// A 3×3 system observed in all components at eight times in [0, 5], with a
// source on component 3. a13 is fixed (named twice: the last value counts),
// a32 is both fixed and bounded (fixed wins), a21 is bounded around its
// value. The data are the chosen model's values at the true matrix.
struct KnownCase {
  KnownCase() {
    problem.T = 5.0;
    problem.opt_par = 0.01;
    fix_entry(problem, 0, 2, 0.7);
    fix_entry(problem, 2, 1, 0.4);
    fix_entry(problem, 0, 2, 0.1);
    bound_entry(problem, 2, 1, 0.0, 0.1);
    bound_entry(problem, 1, 0, 0.0, 1.0);
  }

  static std::vector<double> truth() {
    return {-0.8, 0.2, 0.1, 0.3, -0.5, 0.05, 0.1, 0.4, -0.6};
  }

  // Fills the data with the `kind` model's values at the true matrix.
  void make_data(ModelKind kind) {
    Evaluation at;
    make_model(kind, testing::legacy_fit(problem, obs))->evaluate(truth(), at);
    std::copy(at.y.begin(), at.y.end(), obs.add_data.data());
  }

  Summary fit(Model& model, Method method, MonitorSettings settings = {}) {
    const FitProblem p = testing::legacy_fit(problem, obs);
    settings.epsilon = problem.epsilon;
    settings.quiet = false;
    console.str("");
    Monitor monitor(settings, console, p.parameters.size());
    return solve(method, p, model, {}, monitor, console);
  }
  Summary fit(ModelKind kind, Method method, MonitorSettings settings = {}) {
    const std::unique_ptr<Model> model =
        make_model(kind, testing::legacy_fit(problem, obs));
    return fit(*model, method, settings);
  }

  // The norm of the exact model's residuals at θ, which the result must
  // report.
  double norm_at(const std::vector<double>& theta) const {
    ExactModel model(testing::legacy_fit(problem, obs));
    Evaluation at;
    model.evaluate(theta, at);
    double s = 0.0;
    for (std::size_t m = 0; m < at.y.size(); ++m) {
      const double r = at.y[m] - obs.add_data.data()[m];
      s = r * r + s;
    }
    return std::sqrt(s);
  }

  ProblemRecord problem =
      make_problem({1.0, 0.5, 0.0}, {0.0, 0.0, 0.3}, {0.0, 0.0, -0.4});
  ObservationRecord obs = make_observations(
      3, {0, 1, 2},
      std::vector(3,
                  Vector{0, 0.625, 1.25, 1.875, 2.5, 3.125, 3.75, 4.375, 5}));
  std::ostringstream console;
};

TEST(LibraryMethods, RecoverAKnownMatrixWithEitherModel) {
  for (const ModelKind kind : {ModelKind::kExact, ModelKind::kGrid}) {
    KnownCase c;
    c.make_data(kind);
    for (const Method method : kMethods) {
      SCOPED_TRACE(std::string(method_name(method)) + " " + model_name(kind));
      const Summary r = c.fit(kind, method);
      // epsilon is 0, so the library's own test ends the run: an optimum.
      EXPECT_EQ(r.termination, Termination::kOptimumReached);
      EXPECT_LT(relative_gap(r.theta, KnownCase::truth()),
                kind == ModelKind::kExact ? 1e-6 : 1e-5)
          << verdict(r);
      EXPECT_EQ(r.theta[2], 0.1);
      EXPECT_EQ(r.theta[7], 0.4);
      EXPECT_THAT(verdict(r),
                  AllOf(StartsWith("converged: " +
                                   std::string(method_name(method)) + ": "),
                        HasSubstr("tolerance reached"),
                        HasSubstr(" after " + std::to_string(r.iterations) +
                                  " iterations; " +
                                  std::to_string(r.counts.evaluations) +
                                  " model evaluations")));
      EXPECT_THAT(r.counts.evaluations, AllOf(Gt(0), Lt(200)));
    }
  }
}

TEST(LibraryMethods, OptimumOutsideTheBoxEndsOnTheBound) {
  // a21 = 0.3 lies below [0.35, 0.6]. The interval excludes 0, so the start
  // is its nearest end 0.35, and the fit ends there.
  KnownCase c;
  c.problem.par_borders_val[1] = {0.35, 0.6};
  c.make_data(ModelKind::kExact);
  for (const Method method : kMethods) {
    SCOPED_TRACE(method_name(method));
    const Summary r = c.fit(ModelKind::kExact, method);
    EXPECT_EQ(r.termination, Termination::kOptimumReached);
    EXPECT_EQ(r.theta[3], 0.35);
    EXPECT_GT(r.norm, 0.0);
  }
  // An upper bound below the true value: the entry ends on it, and the
  // others reach the optimum they have with the entry fixed there.
  KnownCase pinned;
  pinned.problem.fix_par_num.push_back({1, 0});
  pinned.problem.fix_par_val.push_back(0.2);
  pinned.obs.add_data = c.obs.add_data;
  const Summary reference = pinned.fit(ModelKind::kExact, Method::kLm);
  c.problem.par_borders_val[1] = {-1.0, 0.2};
  for (const Method method : kMethods) {
    SCOPED_TRACE(method_name(method));
    const Summary r = c.fit(ModelKind::kExact, method);
    EXPECT_EQ(r.theta[3], 0.2);
    EXPECT_NEAR(r.norm, reference.norm, reference.norm * 1e-9) << verdict(r);
    EXPECT_LT(relative_gap(r.theta, reference.theta), 1e-6);
    EXPECT_EQ(c.norm_at(r.theta), r.norm);
  }
}

TEST(LibraryMethods, EpsilonIterationLimitAndInterruptStops) {
  KnownCase c;
  c.make_data(ModelKind::kExact);
  for (const Method method : kMethods) {
    const std::string name = method_name(method);
    SCOPED_TRACE(name);
    {  // Tolerance: the first iterate within epsilon is returned.
      c.problem.epsilon = 1e-3;
      const Summary r = c.fit(ModelKind::kExact, method);
      c.problem.epsilon = 0.0;
      EXPECT_EQ(r.termination, Termination::kToleranceReached);
      EXPECT_EQ(verdict(r), "");
      EXPECT_LE(r.norm, 1e-3);
      EXPECT_EQ(c.norm_at(r.theta), r.norm);
      // One progress line per iteration before the converged one.
      const std::string n = std::to_string(r.iterations);
      EXPECT_THAT(
          c.console.str(),
          AllOf(HasSubstr(":   COUNT = " + std::to_string(r.iterations - 1) +
                          "\n\n\nITERATION NUMBER = " + n + "\n\n"),
                Not(HasSubstr("COUNT = " + n + "\n"))));
    }
    {  // Iteration limit: three lines, the best θ of those seen.
      MonitorSettings settings;
      settings.max_iter = 3;
      const Summary r = c.fit(ModelKind::kExact, method, settings);
      EXPECT_EQ(r.termination, Termination::kIterationLimit);
      EXPECT_EQ(r.iterations, 3);
      EXPECT_THAT(verdict(r),
                  StartsWith(name + ": iteration limit reached: 3 "
                                    "iterations; best residual norm "));
      EXPECT_EQ(c.norm_at(r.theta), r.norm);
    }
    {  // Interrupted before the start is evaluated: the start, with its
       // fixed entries set, is returned and no iteration is counted.
      const std::atomic<int> flag{SIGINT};
      MonitorSettings settings;
      settings.interrupt = &flag;
      const Summary r = c.fit(ModelKind::kExact, method, settings);
      EXPECT_EQ(r.termination, Termination::kInterrupted);
      EXPECT_EQ(r.iterations, 0);
      EXPECT_EQ(verdict(r), name +
                                ": interrupted by signal 2 before the first "
                                "iteration finished; the start matrix is "
                                "written; 1 model evaluation, 0 Jacobians");
      EXPECT_EQ(r.theta[3], 0.0);
      EXPECT_EQ(r.theta[2], 0.1);
    }
  }
}

TEST(LibraryMethods, StartWithoutFiniteNormOrUnknowns) {
  KnownCase c;
  c.make_data(ModelKind::kExact);
  c.obs.add_data[1][3] = std::numeric_limits<double>::infinity();
  Summary r = c.fit(ModelKind::kExact, Method::kLm);
  EXPECT_EQ(r.termination, Termination::kDiverged);
  EXPECT_EQ(r.iterations, 1);

  c.make_data(ModelKind::kExact);
  c.problem.par_borders_val = {{0.4, 0.4}, {0.3, 0.3}};
  c.problem.fix_par_num = {{0, 0}, {0, 1}, {0, 2}, {1, 1}, {1, 2}, {2, 0}};
  c.problem.fix_par_val = {-0.8, 0.2, 0.1, -0.5, 0.05, 0.1};
  for (const Method method : kMethods) {
    r = c.fit(ModelKind::kExact, method);
    // Only a33 is free, and it is found.
    EXPECT_NEAR(r.theta[8], -0.6, 1e-9);
    EXPECT_EQ(r.theta[3], 0.3);
  }
  // Nothing left to move: the start is the optimum, after one iteration.
  c.problem.fix_par_num.push_back({2, 2});
  c.problem.fix_par_val.push_back(-0.5);
  r = c.fit(ModelKind::kExact, Method::kLbfgsb);
  EXPECT_EQ(r.termination, Termination::kOptimumReached);
  EXPECT_EQ(r.iterations, 1);
  EXPECT_THAT(verdict(r), StartsWith("converged: lbfgsb: nothing to "
                                     "estimate: every parameter is fixed, "
                                     "sum of squares "));
  c.problem.fix_par_val.back() = -0.6;
  r = c.fit(ModelKind::kExact, Method::kLbfgsb);
  EXPECT_EQ(r.termination, Termination::kToleranceReached);  // exact data
}

// A signal during any model call ends the fit at once: the call's output is
// not used, no model call follows, and the result is the best iterate that
// finished (with its own norm), or the start.
TEST(LibraryMethods, InterruptDropsTheModelCallUnderWay) {
  KnownCase c;
  c.make_data(ModelKind::kExact);
  ExactModel exact(testing::legacy_fit(c.problem, c.obs));
  for (const Method method : kMethods) {
    for (int at = 1; at <= 7; ++at) {
      const std::string name = method_name(method);
      SCOPED_TRACE(name + " at call " + std::to_string(at));
      std::atomic<int> flag{0};
      testing::InterruptedModel model(exact, flag, at);
      MonitorSettings settings;
      settings.interrupt = &flag;
      const Summary r = c.fit(model, method, settings);
      EXPECT_EQ(r.termination, Termination::kInterrupted);
      EXPECT_EQ(model.calls(), at);
      EXPECT_THAT(verdict(r), StartsWith(name + ": interrupted by signal 15 "));
      EXPECT_EQ(r.theta[2], 0.1);
      EXPECT_EQ(r.theta[7], 0.4);
      if (r.iterations == 0) {
        EXPECT_EQ(r.theta[0], 0.0);
        EXPECT_THAT(verdict(r), HasSubstr("the start matrix is written"));
      } else {
        EXPECT_EQ(c.norm_at(r.theta), r.norm);
      }
      EXPECT_EQ(model.stop_flag(), nullptr);
    }
  }
}

// Sample times near the ends of the double range: the scaling falls back to
// 1 where the Jacobian's norms overflow or underflow, so no entry becomes
// inf or NaN; where a library gives up, its verdict is one line of the
// program's own words, and a run in which no iteration finished does not
// claim a best norm.
TEST(LibraryMethods, ExtremeTimeScalesKeepTheMatrixFinite) {
  for (const double T : {1e300, 1.7e308, 4.9e-324}) {
    ProblemRecord p = make_problem({1.0, 0.0}, {0.0, 1.0}, {0.0, -0.5});
    p.T = T;
    fix_entry(p, 0, 1, 0.5);
    bound_entry(p, 1, 0, -1.0, 1.0);
    const ObservationRecord obs =
        make_observations(2, {0, 1}, {{0.0, T / 2, T}, {0.0, T / 2, T}},
                          {{1.0, 0.4, 0.3}, {0.0, 0.6, 0.9}});
    const FitProblem problem = testing::legacy_fit(p, obs);
    for (const ModelKind kind : {ModelKind::kExact, ModelKind::kGrid}) {
      const std::unique_ptr<Model> model = make_model(kind, problem);
      for (const Method method : kMethods) {
        SCOPED_TRACE(std::string(method_name(method)) +
                     " T = " + std::to_string(T) + " " + model_name(kind));
        std::ostringstream out;
        const MonitorSettings settings;
        Monitor monitor(settings, out, problem.parameters.size());
        const Summary r = solve(method, problem, *model, {}, monitor, out);
        for (std::size_t q = 0; q < r.theta.size(); ++q) {
          EXPECT_TRUE(std::isfinite(r.theta[q])) << q << " " << verdict(r);
        }
        EXPECT_EQ(r.theta[1], 0.5);
        EXPECT_THAT(
            verdict(r),
            AllOf(Not(HasSubstr("\n")), Not(HasSubstr("0x")),
                  Not(HasSubstr("nan")), Not(HasSubstr("Ceres FAILURE"))));
        if (r.iterations == 0) {
          EXPECT_THAT(verdict(r), HasSubstr("no iteration finished"));
        }
      }
    }
  }
}

TEST(LibraryMethods, ScalesAndNormsStayFinite) {
  const double big = 1e300, tiny = 4.9e-324, inf = INFINITY;
  const struct {
    std::vector<double> values;
    double norm;
  } norms[] = {
      {{3.0, 4.0}, 5.0},  // the plain sum, to the last bit
      {{0.0, -0.0}, 0.0}, {{big, big}, big * std::sqrt(2.0)},
      {{-tiny}, tiny},    {{1e-200, 1e-200}, 1e-200 * std::sqrt(2.0)},
      {{1.0, inf}, inf},
  };
  for (const auto& c : norms) {
    EXPECT_DOUBLE_EQ(robust_norm(c.values.data(), c.values.size(), 1), c.norm)
        << c.values[0];
  }
  const double nan_value[] = {1.0, std::nan("")};
  EXPECT_TRUE(std::isnan(robust_norm(nan_value, 2, 1)));
  const double strided[] = {3.0, 99.0, 4.0, 99.0};
  EXPECT_EQ(robust_norm(strided, 2, 2), 5.0);

  const struct {
    double reference, column, value, lower, upper;
    double scale;
  } scales[] = {
      {2.0, 4.0, 0.0, -inf, inf, 0.5},
      {2.0, big * 10, 0.0, -inf, inf, 2.0 / (big * 10)},
      {2.0, inf, 0.0, -inf, inf, 1.0},         // 2/inf = 0
      {2.0, tiny, 0.0, -inf, inf, 1.0},        // 2/tiny = inf
      {2.0, 0.0, 0.0, -inf, inf, 1.0},         // 2/0 = inf
      {2.0, 1e308, 1e10, -inf, inf, 1.0},      // the scaled start overflows
      {2.0, 1e308, 0.0, -1.0, 1e10, 1.0},      // a scaled bound overflows
      {2.0, 1e308, 0.0, -inf, 1e-10, 2e-308},  // only finite bounds count
      {2.0, 4.0, 0.5, -1.0, 1e10, 0.5},
  };
  for (const auto& c : scales) {
    EXPECT_EQ(usable_scale(c.reference, c.column, c.value, c.lower, c.upper),
              c.scale)
        << c.column << " " << c.value;
  }
}

}  // namespace

namespace testing {
namespace {

// The sum of squares of the best iterate: the lowest norm in the history.
double history_sum_of_squares(const std::string& csv) {
  std::istringstream in(csv);
  std::string line;
  std::getline(in, line);
  double best = std::numeric_limits<double>::infinity();
  while (std::getline(in, line)) {
    best = std::min(best, std::stod(line.substr(line.find(',') + 1)));
  }
  return best * best;
}

std::vector<double> numbers(const std::string& text) {
  std::istringstream in(text);
  std::vector<double> v;
  for (double x; in >> x;) v.push_back(x);
  return v;
}

double seconds_of(const std::string& console) {
  const std::size_t at = console.find("TIME = ");
  return at == std::string::npos ? 1e9 : std::stod(console.substr(at + 7));
}

#ifdef __SANITIZE_ADDRESS__
constexpr double kSecondLimit = 10.0;  // instrumented build
#else
constexpr double kSecondLimit = 1.0;
#endif

// Runs one example through the built program and checks what every such run
// must give: the exit code (0: the library's test found an optimum), the
// expected optimum (the best norm in the history, squared), within the time
// limit. Returns the fitted matrix.
std::vector<double> fit_example(const std::string& name,
                                const std::string& method,
                                const std::string& model, double sum_of_squares,
                                double tolerance, int exit_code = 0) {
  SCOPED_TRACE(name + " " + model);
  ScratchDir dir(name);
  const RunResult r =
      dir.run("-q --history h.csv --method " + method + " --model " + model);
  EXPECT_EQ(r.exit_code, exit_code) << r.err;
  EXPECT_NEAR(history_sum_of_squares(dir.read("h.csv")), sum_of_squares,
              tolerance);
  EXPECT_LT(seconds_of(r.out), kSecondLimit);
  return numbers(dir.read("output.txt"));
}

TEST(LibraryMethodExamples, TheophyllineReachesThePublishedOptimum) {
  const double published[] = {-1.777414, 0.0, 4.813392, -0.053955};
  for (const char* method : {"lm", "lbfgsb"}) {
    SCOPED_TRACE(method);
    const std::vector<double> A =
        fit_example("theophylline", method, "exact", 4.28601, 1e-4);
    ASSERT_EQ(A.size(), 4u);
    for (int q = 0; q < 4; ++q) {
      EXPECT_NEAR(A[q], published[q], 1e-3 * std::abs(published[q])) << q;
    }
    // The grid model's own optimum, as fast. Its derivatives are not those
    // of its own samples, and lbfgsb's line search finds no lower point
    // before NLopt's tests fire: a library failure, exit 9.
    fit_example("theophylline", method, "grid", 4.17089, 1e-4,
                std::string(method) == "lbfgsb" ? 9 : 0);
  }
}

// Below the five-rate optimum 19.8721, with the eight rate-carrying entries
// (row-major positions) nonzero and every other entry zero.
TEST(LibraryMethodExamples, AlphaPineneBeatsTheFiveRateOptimum) {
  const std::vector<int> rates = {0, 5, 10, 12, 14, 17, 22, 24};
  for (const char* method : {"lm", "lbfgsb"}) {
    SCOPED_TRACE(method);
    const std::vector<double> A =
        fit_example("alpha_pinene", method, "exact", 16.6568, 1e-3);
    ASSERT_EQ(A.size(), 25u);
    for (int q = 0; q < 25; ++q) {
      const bool rate = std::find(rates.begin(), rates.end(), q) != rates.end();
      EXPECT_EQ(A[q] != 0.0, rate) << q;
    }
    fit_example("alpha_pinene", method, "grid", 16.7964, 1e-3);
  }
}

}  // namespace
}  // namespace testing
}  // namespace identify
