// The Objective's chain rule (scales, σ expressions, the ln σ terms),
// against central differences in the method's coordinates, and its reuse of
// the last evaluation.
#include "fit/objective.h"

#include <gtest/gtest.h>

#include <cmath>

#include "problem/problem_builder.h"

namespace identify {
namespace {

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

Parameter param(const char* name, double value, double lower, double upper,
                Scale scale) {
  Parameter p;
  p.name = name;
  p.value = value;
  p.lower = lower;
  p.upper = upper;
  p.scale = scale;
  return p;
}

struct Case {
  Case() {
    ProblemBuilder b({"x"});
    b.add_parameter(param("A", 3.0, 0.1, 100.0, Scale::kLog10));
    b.add_parameter(param("k", 0.4, 0.0, INFINITY, Scale::kLog));
    b.add_parameter(param("c", 0.2, -INFINITY, INFINITY, Scale::kLin));
    b.add_parameter(param("s", 0.3, 0.01, 10.0, Scale::kLin));
    b.add_observable("y", {{"x", "1"}}, "0", "s * 2");
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
}

TEST(Objective, UnitSigmaGivesThePlainSumOfSquaresToTheLastBit) {
  ProblemBuilder b({"x"});
  for (const char* name : {"A", "k", "c", "s"}) {
    b.add_parameter(param(name, 0.7, -INFINITY, INFINITY, Scale::kLin));
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

}  // namespace
}  // namespace identify
