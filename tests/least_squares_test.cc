// The library least-squares methods: recovery of a known matrix from its own
// model values, bounds and fixed entries, the stops and their console, and
// the two real-data examples through the built program.
#include "identify/least_squares.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <csignal>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "identify/misfit.h"
#include "model/exact_model.h"
#include "model/grid_model.h"
#include "run_binary.h"

namespace identify {
namespace {

constexpr LeastSquaresMethod kMethods[] = {
    LeastSquaresMethod::kLevenbergMarquardt, LeastSquaresMethod::kQuasiNewton};

const char* name_of(LeastSquaresMethod m) {
  return m == LeastSquaresMethod::kLevenbergMarquardt ? "lm" : "lbfgsb";
}

// A 3×3 system observed in all components at eight times in [0, 5], with a
// source on component 3. a13 is fixed (named twice: the last value counts),
// a32 is both fixed and bounded (fixed wins), a21 is bounded around its
// value. The data are the chosen model's values at kTrue.
struct KnownCase {
  static constexpr double kTrue[3][3] = {
      {-0.8, 0.2, 0.1}, {0.3, -0.5, 0.05}, {0.1, 0.4, -0.6}};

  KnownCase() {
    problem.dim = 3;
    problem.T = 5.0;
    problem.opt_par = 0.01;
    problem.init_val = {1.0, 0.5, 0.0};
    problem.exp_coef = {0.0, 0.0, 0.3};
    problem.exp_par = {0.0, 0.0, -0.4};
    problem.fix_par_num = {{0, 2}, {2, 1}, {0, 2}};
    problem.fix_par_val = {0.7, 0.4, 0.1};
    problem.fix_par_dim = 3;
    problem.par_borders_num = {{2, 1}, {1, 0}};
    problem.par_borders_val = {{0.0, 0.1}, {0.0, 1.0}};
    problem.par_borders_dim = 2;
    obs.data_num = 3;
    obs.is_data_exist = {0, 1, 2};
    obs.data_dim = {9, 9, 9};
    obs.data_time = Table(3, 9);
    obs.add_data = Table(3, 9);
    for (int k = 0; k < 3; ++k) {
      for (int n = 0; n < 9; ++n) obs.data_time[k][n] = 5.0 * n / 8.0;
    }
  }

  static Matrix truth() {
    Matrix A = make_matrix(3);
    for (int i = 0; i < 3; ++i) {
      for (int j = 0; j < 3; ++j) A[i][j] = kTrue[i][j];
    }
    return A;
  }

  // Fills the data from `model` at the true matrix.
  void make_data(Model& model) { model.evaluate(truth(), obs.add_data); }

  IdentifyResult fit(Model& model, LeastSquaresMethod method, Matrix& A,
                     const StopSettings& stop = {}) {
    A = make_matrix(3);
    console.str("");
    return fit_least_squares(problem, obs, model, A, stop, console, method,
                             &counts);
  }

  ProblemRecord problem;
  ObservationRecord obs;
  std::ostringstream console;
  FitCounts counts;
};

double max_error(const Matrix& A, const Matrix& B) {
  double e = 0.0;
  for (std::size_t q = 0; q < A.size(); ++q) {
    e = std::max(e, std::fabs(A.data()[q] - B.data()[q]));
  }
  return e;
}

TEST(LeastSquares, RecoversAKnownMatrixWithEitherModel) {
  for (const bool exact : {true, false}) {
    KnownCase c;
    ExactModel exact_model(c.problem, c.obs);
    GridModel grid_model(c.problem, c.obs);
    Model& model = exact ? static_cast<Model&>(exact_model) : grid_model;
    c.make_data(model);
    for (const LeastSquaresMethod method : kMethods) {
      SCOPED_TRACE(std::string(name_of(method)) + (exact ? " exact" : " grid"));
      Matrix A;
      const IdentifyResult r = c.fit(model, method, A);
      // epsilon is 0, so the library's own test ends the run.
      EXPECT_EQ(r.reason, StopReason::kMethodConverged);
      EXPECT_LT(max_error(A, KnownCase::truth()), exact ? 1e-6 : 1e-5)
          << r.verdict;
      EXPECT_EQ(A[0][2], 0.1);
      EXPECT_EQ(A[2][1], 0.4);
      EXPECT_EQ(r.verdict.rfind(std::string(name_of(method)) + ": ", 0), 0u);
      EXPECT_NE(r.verdict.find("tolerance reached"), std::string::npos)
          << r.verdict;
      EXPECT_NE(r.verdict.find(std::to_string(c.counts.evaluations) +
                               " model evaluations"),
                std::string::npos)
          << r.verdict;
      EXPECT_GT(c.counts.evaluations, 0);
      EXPECT_LT(c.counts.evaluations, 200);
    }
  }
}

TEST(LeastSquares, OptimumOutsideTheBoxEndsOnTheBound) {
  // a21 = 0.3 lies below [0.35, 0.6]. The interval excludes 0, so the start
  // is its nearest end 0.35, and the fit ends there.
  KnownCase c;
  c.problem.par_borders_val[1] = {0.35, 0.6};
  ExactModel model(c.problem, c.obs);
  c.make_data(model);
  for (const LeastSquaresMethod method : kMethods) {
    SCOPED_TRACE(name_of(method));
    Matrix A;
    const IdentifyResult r = c.fit(model, method, A);
    EXPECT_EQ(r.reason, StopReason::kMethodConverged);
    EXPECT_EQ(A[1][0], 0.35);
    EXPECT_EQ(A[0][2], 0.1);
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
    EXPECT_LT(max_error(A, reference), 1e-6);
    Table M(c.obs.add_data.rows(), c.obs.add_data.cols());
    model.evaluate(A, M);
    EXPECT_EQ(residual_norm(M, c.obs.add_data), r.norm);
  }
}

TEST(LeastSquares, EpsilonIterationLimitAndInterruptStops) {
  KnownCase c;
  ExactModel model(c.problem, c.obs);
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
      Table M(c.obs.add_data.rows(), c.obs.add_data.cols());
      model.evaluate(A, M);
      EXPECT_EQ(residual_norm(M, c.obs.add_data), r.norm);
      // One progress line per iteration before the converged one.
      const std::string text = c.console.str();
      EXPECT_NE(text.find(":   COUNT = " + std::to_string(r.iterations - 1) +
                          "\n\n\nITERATION NUMBER = " +
                          std::to_string(r.iterations) + "\n\n"),
                std::string::npos)
          << text;
      EXPECT_EQ(text.find("COUNT = " + std::to_string(r.iterations) + "\n"),
                std::string::npos);
    }
    {  // Iteration limit: three lines, the best matrix of those seen.
      StopSettings stop;
      stop.max_iter = 3;
      const IdentifyResult r = c.fit(model, method, A, stop);
      EXPECT_EQ(r.reason, StopReason::kIterationLimit);
      EXPECT_EQ(r.iterations, 3);
      EXPECT_EQ(r.verdict.rfind(std::string(name_of(method)) +
                                    ": iteration limit reached: 3 iterations; "
                                    "best residual norm ",
                                0),
                0u)
          << r.verdict;
      Table M(c.obs.add_data.rows(), c.obs.add_data.cols());
      model.evaluate(A, M);
      EXPECT_EQ(residual_norm(M, c.obs.add_data), r.norm);
    }
    {  // Interrupt: stops after the first line, the start matrix returned.
      const std::atomic<int> flag{SIGINT};
      StopSettings stop;
      stop.interrupt = &flag;
      const IdentifyResult r = c.fit(model, method, A, stop);
      EXPECT_EQ(r.reason, StopReason::kInterrupted);
      EXPECT_EQ(r.signal, SIGINT);
      EXPECT_EQ(r.iterations, 1);
      EXPECT_EQ(A[1][0], 0.0);
      EXPECT_EQ(A[0][2], 0.1);
    }
  }
}

TEST(LeastSquares, StartWithoutFiniteNormOrUnknowns) {
  KnownCase c;
  ExactModel model(c.problem, c.obs);
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
  c.problem.epsilon = 0.0;
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

struct Fit {
  int exit_code;
  double sum_of_squares;
  std::vector<double> matrix;
  double seconds;
  std::string err;
};

Fit run_example(const std::string& name, const std::string& method,
                const std::string& model) {
  ScratchDir dir;
  dir.copy_example(name);
  const RunResult r =
      run_identify(dir.path(), "-q --history h.csv --method " + method +
                                   " --model " + model);
  return {r.exit_code, history_sum_of_squares(dir.read("h.csv")),
          numbers(dir.read("output.txt")), seconds_of(r.out), r.err};
}

TEST(LeastSquaresExamples, TheophyllineReachesThePublishedOptimum) {
  for (const char* method : {"lm", "lbfgsb"}) {
    SCOPED_TRACE(method);
    const Fit f = run_example("theophylline", method, "exact");
    EXPECT_EQ(f.exit_code, 9) << f.err;
    EXPECT_NEAR(f.sum_of_squares, 4.28601, 1e-4);
    ASSERT_EQ(f.matrix.size(), 4u);
    EXPECT_NEAR(f.matrix[0], -1.777414, 1.777414e-3);
    EXPECT_EQ(f.matrix[1], 0.0);
    EXPECT_NEAR(f.matrix[2], 4.813392, 4.813392e-3);
    EXPECT_NEAR(f.matrix[3], -0.053955, 0.053955e-3);
    EXPECT_LT(f.seconds, kSecondLimit);
    // The grid model's own optimum, as fast.
    const Fit g = run_example("theophylline", method, "grid");
    EXPECT_EQ(g.exit_code, 9) << g.err;
    EXPECT_NEAR(g.sum_of_squares, 4.17089, 1e-4);
    EXPECT_LT(g.seconds, kSecondLimit);
  }
}

TEST(LeastSquaresExamples, AlphaPineneBeatsTheFiveRateOptimum) {
  for (const char* method : {"lm", "lbfgsb"}) {
    SCOPED_TRACE(method);
    const Fit f = run_example("alpha_pinene", method, "exact");
    EXPECT_EQ(f.exit_code, 9) << f.err;
    EXPECT_LE(f.sum_of_squares, 19.8721);
    EXPECT_NEAR(f.sum_of_squares, 16.6568, 1e-3);
    ASSERT_EQ(f.matrix.size(), 25u);
    // Row-major positions of the eight rate-carrying entries.
    const std::vector<int> rates = {0, 5, 10, 12, 14, 17, 22, 24};
    int zeros = 0;
    for (int q = 0; q < 25; ++q) {
      const bool rate = std::find(rates.begin(), rates.end(), q) != rates.end();
      if (!rate) {
        EXPECT_EQ(f.matrix[q], 0.0) << q;
        ++zeros;
      } else {
        EXPECT_NE(f.matrix[q], 0.0) << q;
      }
    }
    EXPECT_EQ(zeros, 17);
    EXPECT_LT(f.seconds, kSecondLimit);
    const Fit g = run_example("alpha_pinene", method, "grid");
    EXPECT_EQ(g.exit_code, 9) << g.err;
    EXPECT_NEAR(g.sum_of_squares, 16.7964, 1e-3);
    EXPECT_LT(g.seconds, kSecondLimit);
  }
}

}  // namespace
}  // namespace testing
}  // namespace identify
