// The library least-squares methods: recovery of a known matrix from its own
// model values, bounds and fixed entries, the stops and their console, and
// the two real-data examples through the built program.
#include "fit/least_squares.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <csignal>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "fit/fit_tracker.h"
#include "fit/misfit.h"
#include "fit/scaled_residuals.h"
#include "model/exact/exact_matrix_model.h"
#include "model/grid/grid_matrix_model.h"
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
using testing::samples_of;
using ::testing::StartsWith;

constexpr LeastSquaresMethod kMethods[] = {
    LeastSquaresMethod::kLevenbergMarquardt, LeastSquaresMethod::kQuasiNewton};

const char* name_of(LeastSquaresMethod m) {
  return m == LeastSquaresMethod::kLevenbergMarquardt ? "lm" : "lbfgsb";
}

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

  static Matrix truth() {
    return matrix_of({{-0.8, 0.2, 0.1}, {0.3, -0.5, 0.05}, {0.1, 0.4, -0.6}});
  }

  // Fills the data from `model` at the true matrix.
  void make_data(MatrixModel& model) { model.evaluate(truth(), obs.add_data); }

  IdentifyResult fit(MatrixModel& model, LeastSquaresMethod method, Matrix& A,
                     const StopSettings& stop = {}) {
    A = make_matrix(3);
    console.str("");
    return fit_least_squares(problem, obs, model, A, stop, console, method,
                             &counts);
  }

  // The norm of the model's residuals at A, which the result must report.
  double norm_at(MatrixModel& model, const Matrix& A) const {
    return residual_norm(samples_of(model, A, obs.add_data), obs.add_data);
  }

  ProblemRecord problem =
      make_problem({1.0, 0.5, 0.0}, {0.0, 0.0, 0.3}, {0.0, 0.0, -0.4});
  ObservationRecord obs = make_observations(
      3, {0, 1, 2},
      std::vector(3,
                  Vector{0, 0.625, 1.25, 1.875, 2.5, 3.125, 3.75, 4.375, 5}));
  std::ostringstream console;
  FitCounts counts;
};

TEST(LeastSquares, RecoversAKnownMatrixWithEitherModel) {
  for (const bool exact : {true, false}) {
    KnownCase c;
    ExactMatrixModel exact_model(c.problem, c.obs);
    GridMatrixModel grid_model(c.problem, c.obs);
    MatrixModel& model =
        exact ? static_cast<MatrixModel&>(exact_model) : grid_model;
    c.make_data(model);
    for (const LeastSquaresMethod method : kMethods) {
      SCOPED_TRACE(std::string(name_of(method)) + (exact ? " exact" : " grid"));
      Matrix A;
      const IdentifyResult r = c.fit(model, method, A);
      // epsilon is 0, so the library's own test ends the run.
      EXPECT_EQ(r.reason, StopReason::kMethodConverged);
      EXPECT_LT(relative_gap(A, KnownCase::truth()), exact ? 1e-6 : 1e-5)
          << r.verdict;
      EXPECT_EQ(A[0][2], 0.1);
      EXPECT_EQ(A[2][1], 0.4);
      EXPECT_THAT(r.verdict,
                  AllOf(StartsWith(std::string(name_of(method)) + ": "),
                        HasSubstr("tolerance reached"),
                        HasSubstr(std::to_string(c.counts.evaluations) +
                                  " model evaluations")));
      EXPECT_THAT(c.counts.evaluations, AllOf(Gt(0), Lt(200)));
    }
  }
}

TEST(LeastSquares, OptimumOutsideTheBoxEndsOnTheBound) {
  // a21 = 0.3 lies below [0.35, 0.6]. The interval excludes 0, so the start
  // is its nearest end 0.35, and the fit ends there.
  KnownCase c;
  c.problem.par_borders_val[1] = {0.35, 0.6};
  ExactMatrixModel model(c.problem, c.obs);
  c.make_data(model);
  for (const LeastSquaresMethod method : kMethods) {
    SCOPED_TRACE(name_of(method));
    Matrix A;
    const IdentifyResult r = c.fit(model, method, A);
    EXPECT_EQ(r.reason, StopReason::kMethodConverged);
    EXPECT_EQ(A[1][0], 0.35);
    EXPECT_GT(r.norm, 0.0);
  }
  // An upper bound below the true value: the entry ends on it, and the
  // others reach the optimum they have with the entry fixed there.
  KnownCase pinned;
  pinned.problem.fix_par_num.push_back({1, 0});
  pinned.problem.fix_par_val.push_back(0.2);
  pinned.obs.add_data = c.obs.add_data;
  Matrix reference;
  const double optimum =
      pinned.fit(model, LeastSquaresMethod::kLevenbergMarquardt, reference)
          .norm;
  c.problem.par_borders_val[1] = {-1.0, 0.2};
  for (const LeastSquaresMethod method : kMethods) {
    SCOPED_TRACE(name_of(method));
    Matrix A;
    const IdentifyResult r = c.fit(model, method, A);
    EXPECT_EQ(A[1][0], 0.2);
    EXPECT_NEAR(r.norm, optimum, optimum * 1e-9) << r.verdict;
    EXPECT_LT(relative_gap(A, reference), 1e-6);
    EXPECT_EQ(c.norm_at(model, A), r.norm);
  }
}

TEST(LeastSquares, EpsilonIterationLimitAndInterruptStops) {
  KnownCase c;
  ExactMatrixModel model(c.problem, c.obs);
  c.make_data(model);
  for (const LeastSquaresMethod method : kMethods) {
    SCOPED_TRACE(name_of(method));
    Matrix A;
    {  // Tolerance: the first iterate within epsilon is returned.
      c.problem.epsilon = 1e-3;
      const IdentifyResult r = c.fit(model, method, A);
      c.problem.epsilon = 0.0;
      EXPECT_EQ(r.reason, StopReason::kConverged);
      EXPECT_EQ(r.verdict, "");
      EXPECT_LE(r.norm, 1e-3);
      EXPECT_EQ(c.norm_at(model, A), r.norm);
      // One progress line per iteration before the converged one.
      const std::string n = std::to_string(r.iterations);
      EXPECT_THAT(
          c.console.str(),
          AllOf(HasSubstr(":   COUNT = " + std::to_string(r.iterations - 1) +
                          "\n\n\nITERATION NUMBER = " + n + "\n\n"),
                Not(HasSubstr("COUNT = " + n + "\n"))));
    }
    {  // Iteration limit: three lines, the best matrix of those seen.
      StopSettings stop;
      stop.max_iter = 3;
      const IdentifyResult r = c.fit(model, method, A, stop);
      EXPECT_EQ(r.reason, StopReason::kIterationLimit);
      EXPECT_EQ(r.iterations, 3);
      EXPECT_THAT(r.verdict, StartsWith(std::string(name_of(method)) +
                                        ": iteration limit reached: 3 "
                                        "iterations; best residual norm "));
      EXPECT_EQ(c.norm_at(model, A), r.norm);
    }
    {  // Interrupted before the start is evaluated: the start matrix, with
       // its fixed entries set, is returned and no iteration is counted.
      const std::atomic<int> flag{SIGINT};
      StopSettings stop;
      stop.interrupt = &flag;
      const IdentifyResult r = c.fit(model, method, A, stop);
      EXPECT_EQ(r.reason, StopReason::kInterrupted);
      EXPECT_EQ(r.signal, SIGINT);
      EXPECT_EQ(r.iterations, 0);
      EXPECT_EQ(r.verdict, std::string(name_of(method)) +
                               ": interrupted by signal 2 before the first "
                               "iteration finished; the start matrix is "
                               "written; 1 model evaluation, 0 Jacobians");
      EXPECT_EQ(A[1][0], 0.0);
      EXPECT_EQ(A[0][2], 0.1);
    }
  }
}

TEST(LeastSquares, StartWithoutFiniteNormOrUnknowns) {
  KnownCase c;
  ExactMatrixModel model(c.problem, c.obs);
  c.make_data(model);
  c.obs.add_data[1][3] = std::numeric_limits<double>::infinity();
  Matrix A;
  IdentifyResult r = c.fit(model, LeastSquaresMethod::kLevenbergMarquardt, A);
  EXPECT_EQ(r.reason, StopReason::kDiverged);
  EXPECT_EQ(r.iterations, 1);

  c.make_data(model);
  c.problem.par_borders_val = {{0.4, 0.4}, {0.3, 0.3}};
  c.problem.fix_par_num = {{0, 0}, {0, 1}, {0, 2}, {1, 1}, {1, 2}, {2, 0}};
  c.problem.fix_par_val = {-0.8, 0.2, 0.1, -0.5, 0.05, 0.1};
  for (const LeastSquaresMethod method : kMethods) {
    r = c.fit(model, method, A);
    // Only a33 is free, and it is found.
    EXPECT_NEAR(A[2][2], -0.6, 1e-9);
    EXPECT_EQ(A[1][0], 0.3);
  }
  c.problem.fix_par_num.push_back({2, 2});
  c.problem.fix_par_val.push_back(-0.6);
  r = c.fit(model, LeastSquaresMethod::kQuasiNewton, A);
  EXPECT_EQ(r.reason, StopReason::kConverged);  // the data are exact
}

// A signal during any model call ends the fit at once: the call's output is
// not used, no model call follows, and the result is the best iterate that
// finished (with its own norm), or the start.
TEST(LeastSquares, InterruptDropsTheModelCallUnderWay) {
  KnownCase c;
  ExactMatrixModel exact(c.problem, c.obs);
  c.make_data(exact);
  for (const LeastSquaresMethod method : kMethods) {
    for (int at = 1; at <= 7; ++at) {
      SCOPED_TRACE(std::string(name_of(method)) + " at call " +
                   std::to_string(at));
      std::atomic<int> flag{0};
      testing::InterruptedModel model(exact, flag, at);
      StopSettings stop;
      stop.interrupt = &flag;
      Matrix A;
      const IdentifyResult r = c.fit(model, method, A, stop);
      EXPECT_EQ(r.reason, StopReason::kInterrupted);
      EXPECT_EQ(model.calls(), at);
      EXPECT_THAT(r.verdict, StartsWith(std::string(name_of(method)) +
                                        ": interrupted by signal 15 "));
      EXPECT_EQ(A[0][2], 0.1);
      EXPECT_EQ(A[2][1], 0.4);
      if (r.iterations == 0) {
        EXPECT_EQ(A[0][0], 0.0);
        EXPECT_THAT(r.verdict, HasSubstr("the start matrix is written"));
      } else {
        EXPECT_EQ(c.norm_at(exact, A), r.norm);
      }
      EXPECT_EQ(exact.stop_flag(), nullptr);
    }
  }
}

// Sample times near the ends of the double range: the scaling falls back to
// 1 where the Jacobian's norms overflow or underflow, so no entry becomes
// inf or NaN; where a library gives up, its verdict is one line of the
// program's own words, and a run in which no iteration finished does not
// claim a best norm.
TEST(LeastSquares, ExtremeTimeScalesKeepTheMatrixFinite) {
  for (const double T : {1e300, 1.7e308, 4.9e-324}) {
    ProblemRecord p = make_problem({1.0, 0.0}, {0.0, 1.0}, {0.0, -0.5});
    p.T = T;
    fix_entry(p, 0, 1, 0.5);
    bound_entry(p, 1, 0, -1.0, 1.0);
    const ObservationRecord obs =
        make_observations(2, {0, 1}, {{0.0, T / 2, T}, {0.0, T / 2, T}},
                          {{1.0, 0.4, 0.3}, {0.0, 0.6, 0.9}});
    ExactMatrixModel exact(p, obs);
    GridMatrixModel grid(p, obs);
    for (MatrixModel* model : {static_cast<MatrixModel*>(&exact),
                               static_cast<MatrixModel*>(&grid)}) {
      for (const LeastSquaresMethod method : kMethods) {
        SCOPED_TRACE(std::string(name_of(method)) +
                     " T = " + std::to_string(T) +
                     (model == &exact ? " exact" : " grid"));
        Matrix A = make_matrix(2);
        std::ostringstream out;
        const IdentifyResult r =
            fit_least_squares(p, obs, *model, A, {}, out, method);
        for (std::size_t q = 0; q < A.size(); ++q) {
          EXPECT_TRUE(std::isfinite(A.data()[q])) << q << " " << r.verdict;
        }
        EXPECT_EQ(A[0][1], 0.5);
        EXPECT_THAT(r.verdict, AllOf(Not(HasSubstr("\n")), Not(HasSubstr("0x")),
                                     Not(HasSubstr("nan")),
                                     Not(HasSubstr("Ceres FAILURE"))));
        if (r.iterations == 0) {
          EXPECT_THAT(r.verdict, HasSubstr("no iteration finished"));
        }
      }
    }
  }
}

TEST(LeastSquares, ScalesAndNormsStayFinite) {
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

  Unknown free_entry, bounded;
  bounded.bounded = true;
  bounded.lower = -1.0;
  bounded.upper = 1e10;
  const struct {
    double reference, column, value;
    const Unknown& u;
    double scale;
  } scales[] = {
      {2.0, 4.0, 0.0, free_entry, 0.5},
      {2.0, big * 10, 0.0, free_entry, 2.0 / (big * 10)},
      {2.0, inf, 0.0, free_entry, 1.0},     // 2/inf = 0
      {2.0, tiny, 0.0, free_entry, 1.0},    // 2/tiny = inf
      {2.0, 0.0, 0.0, free_entry, 1.0},     // 2/0 = inf
      {2.0, 1e308, 1e10, free_entry, 1.0},  // the scaled start overflows
      {2.0, 1e308, 0.0, bounded, 1.0},      // a scaled bound overflows
      {2.0, 4.0, 0.5, bounded, 0.5},
  };
  for (const auto& c : scales) {
    EXPECT_EQ(usable_scale(c.reference, c.column, c.value, c.u), c.scale)
        << c.column << " " << c.value;
  }

  FitCounts counts;
  counts.evaluations = 1;
  counts.jacobians = 1;
  counts.gradients = 1;
  EXPECT_EQ(counts_text(counts),
            "; 1 model evaluation, 1 Jacobian, 1 gradient");
  counts.evaluations = 2;
  counts.jacobians = 0;
  counts.gradients = 0;
  EXPECT_EQ(counts_text(counts), "; 2 model evaluations, 0 Jacobians");
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
// must give: exit code 9, the expected optimum (the best norm in the
// history, squared), within the time limit. Returns the fitted matrix.
std::vector<double> fit_example(const std::string& name,
                                const std::string& method,
                                const std::string& model, double sum_of_squares,
                                double tolerance) {
  SCOPED_TRACE(name + " " + model);
  ScratchDir dir(name);
  const RunResult r =
      dir.run("-q --history h.csv --method " + method + " --model " + model);
  EXPECT_EQ(r.exit_code, 9) << r.err;
  EXPECT_NEAR(history_sum_of_squares(dir.read("h.csv")), sum_of_squares,
              tolerance);
  EXPECT_LT(seconds_of(r.out), kSecondLimit);
  return numbers(dir.read("output.txt"));
}

TEST(LeastSquaresExamples, TheophyllineReachesThePublishedOptimum) {
  const double published[] = {-1.777414, 0.0, 4.813392, -0.053955};
  for (const char* method : {"lm", "lbfgsb"}) {
    SCOPED_TRACE(method);
    const std::vector<double> A =
        fit_example("theophylline", method, "exact", 4.28601, 1e-4);
    ASSERT_EQ(A.size(), 4u);
    for (int q = 0; q < 4; ++q) {
      EXPECT_NEAR(A[q], published[q], 1e-3 * std::abs(published[q])) << q;
    }
    // The grid model's own optimum, as fast.
    fit_example("theophylline", method, "grid", 4.17089, 1e-4);
  }
}

// Below the five-rate optimum 19.8721, with the eight rate-carrying entries
// (row-major positions) nonzero and every other entry zero.
TEST(LeastSquaresExamples, AlphaPineneBeatsTheFiveRateOptimum) {
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
