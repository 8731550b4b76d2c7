// The Objective's chain rule (scales, σ expressions, the ln σ terms),
// against central differences in the method's coordinates, on a model with
// analytic derivatives and on the closed-form and grid models; and its
// reuse of the last evaluation.
#include "fit/objective.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <csignal>
#include <string>
#include <vector>

#include "fit/gauss_newton_polish.h"
#include "fit/objective_normal.h"
#include "fit/scaled_unknowns.h"
#include "model/exact/exact_model.h"
#include "model/grid/grid_model.h"
#include "problem/problem_builder.h"
#include "test_problems.h"

namespace identify {
namespace {

using testing::parameter;

// y(t) = A·exp(−k·t) + c with θ = (A, k, c, s): analytic derivatives.
class DecayModel : public Model {
 public:
  explicit DecayModel(std::vector<double> times) : times_(std::move(times)) {}
  void evaluate(std::span<const double> theta, Evaluation& out) override {
    out.theta.assign(theta.begin(), theta.end());
    out.y.resize(times_.size());
    for (std::size_t m = 0; m < times_.size(); ++m) {
      out.y[m] = theta[0] * std::exp(-theta[1] * times_[m]) + theta[2];
    }
  }
  void jacobian(const Evaluation& at, Table& J) override {
    J.reshape(times_.size(), 4);
    for (std::size_t m = 0; m < times_.size(); ++m) {
      const double e = std::exp(-at.theta[1] * times_[m]);
      J[m][0] = e;
      J[m][1] = -at.theta[0] * times_[m] * e;
      J[m][2] = 1.0;
      J[m][3] = 0.0;
    }
  }
  void gradient(const Evaluation& at, std::span<const double> w,
                std::span<double> g) override {
    Table J;
    jacobian(at, J);
    std::fill(g.begin(), g.end(), 0.0);
    for (std::size_t m = 0; m < times_.size(); ++m) {
      for (int k = 0; k < 4; ++k) g[k] += w[m] * J[m][k];
    }
  }
  void states(std::span<const double>, int, std::span<const double>,
              Table&) override {}

 private:
  std::vector<double> times_;
};

struct Case {
  // `sigma`: the observable's σ (a measurement at t = 3 has its own, 0.5).
  explicit Case(const char* sigma = "s * 2") {
    ProblemBuilder b({"x"});
    b.add_parameter(parameter("A", 3.0, 0.1, 100.0, Scale::kLog10));
    b.add_parameter(parameter("k", 0.4, 0.0, INFINITY, Scale::kLog));
    b.add_parameter(parameter("c", 0.2, -INFINITY, INFINITY, Scale::kLin));
    b.add_parameter(parameter("s", 0.3, 0.01, 10.0, Scale::kLin));
    b.add_observable("y", {{"x", "1"}}, "0", sigma);
    b.add_experiment("e");
    const double t[] = {0.0, 0.5, 1.0, 2.0, 4.0, 7.0};
    for (double time : t) {
      b.add_measurement(0, 0, time, 2.5 * std::exp(-0.3 * time) + 0.1);
    }
    b.add_measurement(0, 0, 3.0, 0.9, 0.5);  // a σ of its own
    problem = b.build();
    model = DecayModel({0.0, 0.5, 1.0, 2.0, 4.0, 7.0, 3.0});
  }
  FitProblem problem;
  DecayModel model{{}};
};

TEST(Objective, DerivativesMatchCentralDifferencesInScaledCoordinates) {
  for (const bool noise_free : {true, false}) {
    SCOPED_TRACE(noise_free ? "s free: S has ln sigma terms" : "s held");
    Case c;
    const std::vector<int> free =
        noise_free ? std::vector<int>{0, 1, 2, 3} : std::vector<int>{0, 1, 2};
    Objective f(c.problem, c.model, free, c.problem.values());
    EXPECT_EQ(f.noise_is_estimated(), noise_free);
    const std::vector<double> x = f.coordinates(c.problem.values());
    f.evaluate(x);
    const Table J = f.jacobian();
    const std::vector<double> g = f.gradient();
    const std::vector<double> r = f.residuals();
    for (int j = 0; j < f.size(); ++j) {
      const double h = 1e-6;
      std::vector<double> up = x, down = x;
      up[j] += h;
      down[j] -= h;
      const double s_up = f.evaluate(up);
      const std::vector<double> r_up = f.residuals();
      const double s_down = f.evaluate(down);
      const std::vector<double> r_down = f.residuals();
      EXPECT_NEAR(g[j], (s_up - s_down) / (2 * h), 1e-6 * (1 + std::fabs(g[j])))
          << "parameter " << j;
      for (std::size_t m = 0; m < r.size(); ++m) {
        EXPECT_NEAR(J[m][j], (r_up[m] - r_down[m]) / (2 * h),
                    1e-7 * (1 + std::fabs(J[m][j])))
            << "parameter " << j << ", measurement " << m;
      }
    }
    if (!noise_free) {  // a sum of squares: ∇S = 2·Jᵀr
      for (int j = 0; j < f.size(); ++j) {
        double jtr = 0.0;
        for (std::size_t m = 0; m < r.size(); ++m) jtr += J[m][j] * r[m];
        EXPECT_NEAR(g[j], 2 * jtr, 1e-12 * (1 + std::fabs(g[j])));
      }
    }
  }
}

TEST(Objective, BoundsBaseValuesAndReuseOfTheLastEvaluation) {
  Case c;
  std::vector<double> base = c.problem.values();
  base[3] = 0.25;  // s held at a value of the caller's
  Objective f(c.problem, c.model, {0, 1, 2}, base);
  EXPECT_NEAR(f.lower(0), -1.0, 1e-15);
  EXPECT_EQ(f.upper(0), 2.0);
  EXPECT_EQ(f.lower(1), -INFINITY);
  EXPECT_EQ(f.upper(2), INFINITY);
  const std::vector<double> x = f.coordinates(c.problem.values());
  const double s = f.evaluate(x);
  EXPECT_EQ(f.theta()[3], 0.25);
  EXPECT_EQ(f.sigmas()[0], 0.5);  // s·2 at the base value
  EXPECT_EQ(f.sigmas()[6], 0.5);  // its own σ
  f.jacobian();
  f.gradient();
  EXPECT_EQ(f.evaluate(x), s);
  f.jacobian();
  f.gradient();
  f.full_gradient();
  EXPECT_EQ(f.counts().evaluations, 1);
  EXPECT_EQ(f.counts().jacobians, 1);
  EXPECT_EQ(f.counts().gradients, 1);
  // θ given whole: the descent's way.
  std::vector<double> theta = base;
  theta[0] = 2.0;
  f.evaluate_theta(theta);
  EXPECT_EQ(f.counts().evaluations, 2);
  EXPECT_EQ(f.theta()[0], 2.0);
  // A call the stop flag cut short is not kept: the same point again runs
  // the model again.
  std::atomic<int> flag{SIGTERM};
  c.model.set_stop_flag(&flag);
  f.evaluate(x);
  EXPECT_TRUE(f.stop_requested());
  flag.store(0);
  EXPECT_EQ(f.evaluate(x), s);
  EXPECT_EQ(f.counts().evaluations, 4);
}

TEST(Objective, UnitSigmaGivesThePlainSumOfSquaresToTheLastBit) {
  ProblemBuilder b({"x"});
  for (const char* name : {"A", "k", "c", "s"}) {
    b.add_parameter(parameter(name, 0.7, -INFINITY, INFINITY, Scale::kLin));
  }
  b.add_observable("y", {{"x", "1"}});
  b.add_experiment("e");
  const std::vector<double> t = {0.1, 0.2, 0.3};
  for (double time : t) b.add_measurement(0, 0, time, 0.123456789 * time);
  const FitProblem p = b.build();
  DecayModel model(t);
  Objective f(p, model, {0, 1, 2}, p.values());
  const double s = f.evaluate(f.coordinates(p.values()));
  Evaluation e;
  model.evaluate(p.values(), e);
  double plain = 0.0;
  for (std::size_t m = 0; m < t.size(); ++m) {
    const double d = e.y[m] - 0.123456789 * t[m];
    plain = d * d + plain;
  }
  EXPECT_EQ(s, plain);
}

// The Objective over the real models: ∂r/∂x and ∂S/∂x against central
// differences of r and S in the method's coordinates x (relative to the
// largest entry of the column, or of the gradient), with log and log10
// scales, σ as numbers and as an expression of a free parameter (then S
// has the ln σ terms), and ∂S/∂x = 2·Jᵀr where σ is fixed. The closed-form
// model on a random problem with linked entries, x0 and observable
// parameters and three experiments; the grid model on a legacy posing,
// whose derivatives are the continuous problem's, within O(dt) of its own
// samples' differences.
void check_objective(const FitProblem& problem, Model& model,
                     const std::vector<int>& free, double tolerance) {
  Objective f(problem, model, free, problem.values());
  const std::vector<double> x = f.coordinates(problem.values());
  f.evaluate(x);
  const Table J = f.jacobian();
  const std::vector<double> g = f.gradient();
  const std::vector<double> r = f.residuals();
  double g_scale = 1e-12;  // the gradient's largest entry
  for (double v : g) g_scale = std::max(g_scale, std::fabs(v));
  for (int j = 0; j < f.size(); ++j) {
    SCOPED_TRACE(problem.parameters[free[j]].name);
    const double h = 1e-5 * std::max(1.0, std::fabs(x[j]));
    std::vector<double> up = x, down = x;
    up[j] += h;
    down[j] -= h;
    const double s_up = f.evaluate(up);
    const std::vector<double> r_up = f.residuals();
    const double s_down = f.evaluate(down);
    const std::vector<double> r_down = f.residuals();
    double column = 0.0;
    for (std::size_t m = 0; m < r.size(); ++m) {
      column = std::max(column, std::fabs(J[m][j]));
    }
    for (std::size_t m = 0; m < r.size(); ++m) {
      EXPECT_NEAR(J[m][j], (r_up[m] - r_down[m]) / (2 * h),
                  tolerance * std::max(column, 1e-12))
          << "measurement " << m;
    }
    EXPECT_NEAR(g[j], (s_up - s_down) / (2 * h), tolerance * g_scale);
    if (f.noise_is_estimated()) continue;
    double jtr = 0.0;
    for (std::size_t m = 0; m < r.size(); ++m) jtr += J[m][j] * r[m];
    EXPECT_NEAR(g[j], 2 * jtr, 1e-12 * std::max(std::fabs(g[j]), 1.0));
  }
}

// Log scales for the positive parameters named, σ = 0.5 for every other
// measurement and σ = `noise` (a parameter) for the rest.
void rescale(FitProblem& p, const std::vector<std::string>& logs, int noise) {
  for (std::size_t k = 0; k < logs.size(); ++k) {
    Parameter& q = p.parameters[p.parameter_index(logs[k])];
    q.scale = k % 2 == 0 ? Scale::kLog : Scale::kLog10;
    q.lower = 0.0;
  }
  int m = 0;
  for (Experiment& e : p.experiments) {
    for (Measurement& ms : e.measurements.edit()) {
      ms.sigma = m++ % 2 == 0 ? BoundExpression(0.5)
                              : BoundExpression::parameter(noise);
    }
  }
}

TEST(Objective, ContractOverTheClosedFormAndGridModels) {
  for (const bool noise_free : {false, true}) {
    SCOPED_TRACE(noise_free ? "noise estimated" : "noise held");
    FitProblem exact_problem = testing::random_fit_problem(6);
    rescale(exact_problem, {"k1", "k2", "V", "amp"},
            exact_problem.parameter_index("base"));
    ExactModel exact(exact_problem);
    std::vector<int> free = exact_problem.estimated_parameters();
    if (!noise_free) {
      free.erase(std::find(free.begin(), free.end(),
                           exact_problem.parameter_index("base")));
    }
    check_objective(exact_problem, exact, free, 1e-6);

    const testing::RandomCase c(3, testing::Layout::kSharedComponent, 8);
    FitProblem grid_problem = c.fit;
    for (std::size_t q = 0; q < grid_problem.parameters.size(); ++q) {
      grid_problem.parameters[q].value = c.truth.data()[q];
    }
    // a23 and a31 are positive at the truth of this seed; a31 is the noise
    // too.
    rescale(grid_problem, {"a23", "a31"}, 6);
    for (Kernels kernels : {Kernels::kFast, Kernels::kPlain}) {
      GridModel grid(grid_problem, kernels);
      std::vector<int> grid_free = {0, 2, 4, 5, 6, 8};
      if (!noise_free) grid_free = {0, 2, 4, 5, 8};
      check_objective(grid_problem, grid, grid_free, 2e-3);
    }
  }
}

// The normal equations lm takes from the objective on a long table are
// those of the scaled Jacobian of a round (here a round that holds one
// unknown), and the polish on them ends where the polish on r and J does.
TEST(ObjectiveNormal, GivesTheNormalEquationsOfTheRoundsScaledJacobian) {
  Case sums("0.5");  // constant σ: a plain sum of squares
  const FitProblem& problem = sums.problem;
  DecayModel& model = sums.model;
  Objective f(problem, model, {0, 1, 2}, problem.values());
  ScaledUnknowns u(f, f.coordinates(problem.values()));
  std::vector<double> all = u.scale_at_current(stand_in_columns(f));
  const std::vector<int> round = {0, 2};
  const int n = static_cast<int>(f.residual_count());
  const ResidualFunction residuals = [&](const double* y, double* r,
                                         double* jacobian) {
    for (std::size_t k = 0; k < round.size(); ++k) all[round[k]] = y[k];
    u.evaluate(all.data());
    u.residuals(r);
    if (jacobian != nullptr) u.jacobian(round, jacobian);
    return true;
  };
  std::vector<double> block = {all[0] * 1.01, all[2] * 0.98};
  std::vector<double> r(n), J(2 * n);
  residuals(block.data(), r.data(), J.data());
  ObjectiveNormal source(u, all, round);
  double c = 0.0;
  Eigen::MatrixXd N;
  Eigen::VectorXd g;
  ASSERT_TRUE(source.normal(block.data(), c, N, g));
  double S = 0.0;
  for (int m = 0; m < n; ++m) S += r[m] * r[m];
  EXPECT_NEAR(2.0 * c, S, 1e-14 * S);
  for (int a = 0; a < 2; ++a) {
    double ga = 0.0;
    for (int m = 0; m < n; ++m) ga += J[2 * m + a] * r[m];
    EXPECT_NEAR(g[a], ga, 1e-13 * std::fabs(ga));
    for (int bb = 0; bb <= a; ++bb) {
      double nab = 0.0;
      for (int m = 0; m < n; ++m) nab += J[2 * m + a] * J[2 * m + bb];
      EXPECT_NEAR(N(a, bb), nab, 1e-13 * nab) << a << ", " << bb;
    }
  }
  // Back at that point after a cost elsewhere: the same equations without
  // a model call; at another point, new ones.
  std::vector<double> moved = {block[0] * 1.1, block[1]};
  double c_moved = 0.0, c_again = 0.0;
  ASSERT_TRUE(source.cost(moved.data(), c_moved));
  const std::int64_t jacobians = f.counts().jacobians;
  Eigen::MatrixXd N_again;
  Eigen::VectorXd g_again;
  ASSERT_TRUE(source.normal(block.data(), c_again, N_again, g_again));
  EXPECT_EQ(f.counts().jacobians, jacobians);
  EXPECT_EQ(c_again, c);
  EXPECT_EQ(g_again, g);
  EXPECT_EQ(N_again.triangularView<Eigen::Lower>().toDenseMatrix(),
            N.triangularView<Eigen::Lower>().toDenseMatrix());
  ASSERT_TRUE(source.normal(moved.data(), c_again, N_again, g_again));
  EXPECT_EQ(f.counts().jacobians, jacobians + 1);
  EXPECT_EQ(c_again, c_moved);
  const std::vector<double> lower = {u.lower(0), u.lower(2)};
  const std::vector<double> upper = {u.upper(0), u.upper(2)};
  std::vector<double> from_r = block, from_normal = block;
  const PolishEnd by_r =
      polish(residuals, n, from_r, lower, upper, [] { return true; });
  const PolishEnd by_normal = polish(source, residuals, n, from_normal, lower,
                                     upper, [] { return true; });
  EXPECT_EQ(by_normal.stop, by_r.stop);
  EXPECT_GT(by_normal.steps, 0);
  for (int a = 0; a < 2; ++a) {
    EXPECT_NEAR(from_normal[a], from_r[a], 1e-9 * std::fabs(from_r[a]));
  }
}

}  // namespace
}  // namespace identify
