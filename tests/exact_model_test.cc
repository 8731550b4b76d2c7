// The closed-form model against analytic solutions in several layouts, its
// gradient and Jacobian against each other and central differences, and the
// two example cases at their published optima.
#include "model/exact_model.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <unsupported/Eigen/MatrixFunctions>
#include <vector>

#include "identify/misfit.h"
#include "test_problems.h"

namespace identify {
namespace {

using testing::make_observations;
using testing::make_problem;
using testing::matrix_of;
using testing::Example;
using testing::read_example;

double sum_of_squares(const Table& M, const Table& data) {
  const double norm = residual_norm(M, data);
  return norm * norm;
}

// Largest |a − b| over the entries, relative to the largest |b|.
double relative_gap(const Table& a, const Table& b) {
  double gap = 0.0, scale = 0.0;
  for (std::size_t s = 0; s < a.size(); ++s) {
    gap = std::max(gap, std::abs(a.data()[s] - b.data()[s]));
    scale = std::max(scale, std::abs(b.data()[s]));
  }
  return gap / scale;
}

TEST(MatrixExponentialTest, MatchesEigenInEveryDegreeBandAndRotation) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> uniform(-1.0, 1.0);
  const int n = 6;
  Eigen::MatrixXd base(n, n);
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) base(i, j) = uniform(rng);
  }
  base /= base.cwiseAbs().colwise().sum().maxCoeff();
  MatrixExponential expm(n);
  Eigen::MatrixXd result;
  // One 1-norm inside each Padé degree's band, then scaling and squaring.
  for (double norm : {1e-3, 0.1, 0.5, 1.5, 4.0, 40.0, 300.0}) {
    SCOPED_TRACE(norm);
    const Eigen::MatrixXd X = norm * base;
    const Eigen::MatrixXd reference = X.exp();
    expm.compute(X, result);
    EXPECT_LE((result - reference).norm(), 1e-13 * reference.norm());
  }
  // exp of a rotation generator, far outside the unscaled bands.
  const double w = 37.0;
  Eigen::MatrixXd rotation(2, 2);
  rotation << 0.0, w, -w, 0.0;
  MatrixExponential expm2(2);
  expm2.compute(rotation, result);
  EXPECT_NEAR(result(0, 0), std::cos(w), 1e-13);
  EXPECT_NEAR(result(0, 1), std::sin(w), 1e-13);
  EXPECT_NEAR(result(1, 0), -std::sin(w), 1e-13);
  EXPECT_NEAR(result(1, 1), std::cos(w), 1e-13);
}

TEST(ExactModelTest, EvaluateMatchesScalarSolutions) {
  Table M;
  {
    // x' = −x, x(0) = 1 at unsorted and repeated times.
    const std::vector<double> t = {0.0, 2.5, 0.1, 2.5, 7.0, 1e-9};
    ExactModel model(make_problem({1.0}, {0.0}, {0.0}),
                     make_observations(1, {0}, {t}));
    model.evaluate(matrix_of({{-1.0}}), M);
    for (std::size_t n = 0; n < t.size(); ++n) {
      EXPECT_NEAR(M[0][n], std::exp(-t[n]), 1e-15) << "t = " << t[n];
    }
    EXPECT_EQ(M[0][0], 1.0);
  }
  {
    // x' = exp(t), x(0) = 0: x = e^t − 1.
    ExactModel model(make_problem({0.0}, {1.0}, {1.0}),
                     make_observations(1, {0}, {{0.0, 1.0}}));
    model.evaluate(matrix_of({{0.0}}), M);
    EXPECT_EQ(M[0][0], 0.0);
    EXPECT_NEAR(M[0][1], 1.718281828459045, 1e-13);
  }
  {
    // Source at the eigenvalue: x' = a·x + exp(a·t), x(0) = 2 gives
    // x = (2 + t)·e^{a·t}.
    const double a = -0.7;
    const std::vector<double> t = {0.0, 0.3, 1.0, 4.0, 12.0};
    ExactModel model(make_problem({2.0}, {1.0}, {a}),
                     make_observations(1, {0}, {t}));
    model.evaluate(matrix_of({{a}}), M);
    for (std::size_t n = 0; n < t.size(); ++n) {
      const double expected = (2.0 + t[n]) * std::exp(a * t[n]);
      EXPECT_NEAR(M[0][n], expected, 1e-14 * std::abs(expected) + 1e-16);
    }
  }
}

TEST(ExactModelTest, EvaluateMatchesSystemsInEveryLayout) {
  Table M;
  {
    // Nilpotent A = [[0, 1], [0, 0]], x0 = (0, 1): x = (t, 1).
    const std::vector<double> t = {0.0, 0.5, 3.0, 100.0};
    ExactModel model(make_problem({0.0, 1.0}, {0.0, 0.0}, {0.0, 0.0}),
                     make_observations(2, {0, 1}, {t, t}));
    model.evaluate(matrix_of({{0.0, 1.0}, {0.0, 0.0}}), M);
    // Each squaring of the exponential can double a rounding error: t = 100
    // takes five.
    for (std::size_t n = 0; n < t.size(); ++n) {
      EXPECT_NEAR(M[0][n], t[n], 1e-14 * t[n]);
      EXPECT_NEAR(M[1][n], 1.0, 1e-14);
    }
  }
  // A = [[−1, 0], [1, −2]], x0 = (1, 0): x1 = e^{−t}, x2 = e^{−t} − e^{−2t}.
  const Matrix A = matrix_of({{-1.0, 0.0}, {1.0, -2.0}});
  const auto x1 = [](double t) { return std::exp(-t); };
  const auto x2 = [](double t) { return std::exp(-t) - std::exp(-2.0 * t); };
  {
    // One series, on the second component only.
    const std::vector<double> t = {0.0, 0.2, 1.0, 5.0};
    ExactModel model(make_problem({1.0, 0.0}, {0.0, 0.0}, {0.0, 0.0}),
                     make_observations(2, {1}, {t}));
    model.evaluate(A, M);
    ASSERT_EQ(M.rows(), 1u);
    for (std::size_t n = 0; n < t.size(); ++n) {
      EXPECT_NEAR(M[0][n], x2(t[n]), 1e-15);
    }
  }
  {
    // Three series: two on the second component at different times, one on
    // the first; the times shared between series are computed once.
    const std::vector<std::vector<double>> t = {
        {0.0, 3.0, 0.5}, {0.0, 0.5, 8.0}, {0.0, 8.0, 0.25}};
    ExactModel model(make_problem({1.0, 0.0}, {0.0, 0.0}, {0.0, 0.0}),
                     make_observations(2, {1, 1, 0}, t));
    model.evaluate(A, M);
    ASSERT_EQ(M.rows(), 3u);
    for (std::size_t n = 0; n < 3; ++n) {
      EXPECT_NEAR(M[0][n], x2(t[0][n]), 1e-15);
      EXPECT_NEAR(M[1][n], x2(t[1][n]), 1e-15);
      EXPECT_NEAR(M[2][n], x1(t[2][n]), 1e-15);
    }
  }
  {
    // A source on the second component only; the first has a rate but no
    // amplitude. x2' = −2·x2 + 3·e^{t/2}, x2(0) = 1:
    // x2 = 1.2·e^{t/2} − 0.2·e^{−2t}; x1 = 4·e^{−t}.
    const std::vector<double> t = {0.0, 0.7, 2.0, 6.0};
    ExactModel model(make_problem({4.0, 1.0}, {0.0, 3.0}, {5.0, 0.5}),
                     make_observations(2, {1, 0}, {t, t}));
    model.evaluate(matrix_of({{-1.0, 0.0}, {0.0, -2.0}}), M);
    for (std::size_t n = 0; n < t.size(); ++n) {
      const double expected =
          1.2 * std::exp(0.5 * t[n]) - 0.2 * std::exp(-2.0 * t[n]);
      EXPECT_NEAR(M[0][n], expected, 1e-14 * expected);
      EXPECT_NEAR(M[1][n], 4.0 * std::exp(-t[n]), 1e-14);
    }
  }
}

// A random stable system with sources, a layout and random data.
struct RandomCase {
  ProblemRecord problem;
  ObservationRecord obs;
  Matrix A;
};

RandomCase random_case(int n, const std::vector<std::int32_t>& components,
                       int points, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> uniform(-1.0, 1.0);
  RandomCase c;
  Vector x0(n), amp(n), rate(n);
  for (int i = 0; i < n; ++i) {
    x0[i] = 2.0 * uniform(rng);
    amp[i] = i == 1 ? 0.0 : uniform(rng);  // one component without a source
    rate[i] = 0.5 * uniform(rng);
  }
  c.problem = make_problem(x0, amp, rate);
  c.A = Matrix(n, n);
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) {
      c.A[i][j] = 0.6 * uniform(rng) - (i == j ? 1.0 : 0.0);
    }
  }
  std::vector<std::vector<double>> times(components.size());
  for (auto& series : times) {
    series.push_back(0.0);
    for (int p = 1; p < points; ++p) series.push_back(1.5 + 1.5 * uniform(rng));
  }
  times[0][1] = 0.0;  // a measured sample at t = 0 besides point 0
  c.obs = make_observations(n, components, times);
  for (std::size_t s = 0; s < c.obs.add_data.size(); ++s) {
    c.obs.add_data.data()[s] = uniform(rng);
  }
  return c;
}

struct Layout {
  int n;
  std::vector<std::int32_t> components;
};

const std::vector<Layout>& layouts() {
  static const std::vector<Layout> all = {
      {2, {0, 1}}, {2, {1}}, {3, {2, 0, 2}}, {3, {0, 1, 2, 1, 0}}};
  return all;
}

TEST(ExactModelTest, GradientMatchesCentralDifferences) {
  unsigned seed = 11;
  for (const Layout& layout : layouts()) {
    SCOPED_TRACE("N = " + std::to_string(layout.n) + ", K = " +
                 std::to_string(layout.components.size()));
    const RandomCase c = random_case(layout.n, layout.components, 5, ++seed);
    ExactModel model(c.problem, c.obs);
    Table M, H;
    Matrix G;
    model.evaluate(c.A, M);
    H = M;
    for (std::size_t s = 0; s < H.size(); ++s) {
      H.data()[s] = 2.0 * (M.data()[s] - c.obs.add_data.data()[s]);
    }
    model.gradient(c.A, H, G);

    Matrix fd(layout.n, layout.n);
    const double h = 1e-5;
    for (int i = 0; i < layout.n; ++i) {
      for (int j = 0; j < layout.n; ++j) {
        Matrix shifted = c.A;
        shifted[i][j] = c.A[i][j] + h;
        model.evaluate(shifted, M);
        const double up = sum_of_squares(M, c.obs.add_data);
        shifted[i][j] = c.A[i][j] - h;
        model.evaluate(shifted, M);
        const double down = sum_of_squares(M, c.obs.add_data);
        fd[i][j] = (up - down) / (2.0 * h);
      }
    }
    EXPECT_LT(relative_gap(G, fd), 1e-6);
  }
}

TEST(ExactModelTest, JacobianMatchesGradientAndCentralDifferences) {
  unsigned seed = 31;
  for (const Layout& layout : layouts()) {
    SCOPED_TRACE("N = " + std::to_string(layout.n) + ", K = " +
                 std::to_string(layout.components.size()));
    const int n = layout.n;
    const RandomCase c = random_case(n, layout.components, 4, ++seed);
    ExactModel model(c.problem, c.obs);
    Table M, J;
    model.evaluate(c.A, M);
    model.jacobian(c.A, J);
    ASSERT_EQ(J.rows(), M.size());
    ASSERT_EQ(J.cols(), static_cast<std::size_t>(n * n));

    // Jᵀ·h equals the gradient for the weights h.
    std::mt19937 rng(seed);
    std::uniform_real_distribution<double> uniform(-1.0, 1.0);
    Table weights = M;
    for (std::size_t s = 0; s < weights.size(); ++s) {
      weights.data()[s] = uniform(rng);
    }
    Matrix G, projected(n, n);
    model.gradient(c.A, weights, G);
    for (std::size_t s = 0; s < J.rows(); ++s) {
      for (int e = 0; e < n * n; ++e) {
        projected.data()[e] += J[s][e] * weights.data()[s];
      }
    }
    EXPECT_LT(relative_gap(projected, G), 1e-10);

    // Every column against central differences of the samples.
    Table fd(J.rows(), J.cols()), up, down;
    const double h = 1e-5;
    for (int e = 0; e < n * n; ++e) {
      Matrix shifted = c.A;
      shifted.data()[e] = c.A.data()[e] + h;
      model.evaluate(shifted, up);
      shifted.data()[e] = c.A.data()[e] - h;
      model.evaluate(shifted, down);
      for (std::size_t s = 0; s < J.rows(); ++s) {
        fd[s][e] = (up.data()[s] - down.data()[s]) / (2.0 * h);
      }
    }
    EXPECT_LT(relative_gap(J, fd), 1e-6);
    // Samples at t = 0 do not depend on A.
    for (int e = 0; e < n * n; ++e) EXPECT_EQ(J[0][e], 0.0);
  }
}

TEST(ExactModelTest, AlphaPinenePublishedOptimum) {
  const Example e = read_example("alpha_pinene");
  ASSERT_EQ(e.problem.dim, 5);
  EXPECT_EQ(e.problem.fix_par_dim, 17);
  EXPECT_EQ(e.problem.par_borders_dim, 8);
  ASSERT_EQ(e.obs.data_num, 5);
  ASSERT_EQ(e.obs.points(), 9);
  EXPECT_EQ(e.obs.add_data[4][8], 25.7);

  const double t1 = 5.926e-5, t2 = 2.963e-5, t3 = 2.047e-5, t4 = 27.45e-5,
               t5 = 3.998e-5;
  Matrix A(5, 5);
  A[0][0] = -(t1 + t2);
  A[1][0] = t1;
  A[2][0] = t2;
  A[2][2] = -(t3 + t4);
  A[2][4] = t5;
  A[3][2] = t3;
  A[4][2] = t4;
  A[4][4] = -t5;
  ExactModel model(e.problem, e.obs);
  Table M;
  model.evaluate(A, M);
  // The rates are published to four digits. At the rounded rates the sum of
  // squares is 19.87222; the rounding moves it by about 1e-4.
  EXPECT_NEAR(sum_of_squares(M, e.obs.add_data), 19.8721, 5e-4);
}

TEST(ExactModelTest, TheophyllinePublishedOptimum) {
  const Example e = read_example("theophylline");
  ASSERT_EQ(e.problem.dim, 2);
  ASSERT_EQ(e.obs.data_num, 1);
  ASSERT_EQ(e.obs.points(), 12);
  EXPECT_EQ(e.obs.add_data[0][1], 0.74);

  ExactModel model(e.problem, e.obs);
  Table M;
  model.evaluate(matrix_of({{-1.777414, 0.0}, {4.813392, -0.053955}}), M);
  // 4.2860090 at the seven-digit entries.
  EXPECT_NEAR(sum_of_squares(M, e.obs.add_data), 4.28601, 1e-5);
}

}  // namespace
}  // namespace identify
