// The matrix exponential and its Fréchet derivative against Eigen's
// MatrixFunctions (exp, and L(X, E) as the upper-right block of
// exp([[X, E], [0, X]])), against central differences of exp, and through
// the adjoint identity <W, L(X, E)> = <L(Xᵀ, W), E> that the models use.
#include "model/exact/matrix_exponential.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <unsupported/Eigen/MatrixFunctions>

#include "block_derivative.h"
#include "model/exact/exponential_memo.h"

namespace identify {
namespace {

Eigen::MatrixXd random_matrix(int n, std::mt19937& rng) {
  std::uniform_real_distribution<double> uniform(-1.0, 1.0);
  Eigen::MatrixXd X(n, n);
  for (int i = 0; i < n; ++i) {
    for (int j = 0; j < n; ++j) X(i, j) = uniform(rng);
  }
  return X;
}

double one_norm(const Eigen::MatrixXd& X) {
  return X.cwiseAbs().colwise().sum().maxCoeff();
}

// One 1-norm inside each Padé degree's band of exp and of the pair (exp, L)
// (the bands differ), then scaling and squaring: exp from both entry points
// and L against Eigen, for n = 4 (padded to 4×4), 5 and 6 (padded to 6×6),
// 9 (run-time size) and 2 (2×2).
TEST(MatrixExponentialTest, MatchesEigenInEveryDegreeBand) {
  std::mt19937 rng(7);
  for (const int n : {4, 5, 6, 9, 2}) {
    Eigen::MatrixXd base = random_matrix(n, rng);
    base /= one_norm(base);
    Eigen::MatrixXd E = random_matrix(n, rng);
    MatrixExponential expm(n);
    Eigen::MatrixXd result, paired, derivative;
    for (double norm :
         {1e-3, 0.012, 0.1, 0.22, 0.5, 0.8, 1.5, 1.9, 4.0, 5.0, 40.0, 300.0}) {
      SCOPED_TRACE(::testing::Message() << "n = " << n << ", ‖X‖ = " << norm);
      const Eigen::MatrixXd X = norm * base;
      const Eigen::MatrixXd reference = X.exp();
      expm.compute(X, result);
      EXPECT_LE((result - reference).norm(), 1e-13 * reference.norm());
      expm.compute_with_derivative(X, E, paired, derivative);
      EXPECT_LE((paired - reference).norm(), 1e-13 * reference.norm());
      const Eigen::MatrixXd want = testing::block_derivative(X, E);
      EXPECT_LE((derivative - want).norm(), 1e-13 * want.norm());
    }
  }
}

// The 2×2 steps give the bits of the padded 4×4 ones: a 2×2 matrix X
// with a cycle against Z = [[X, 0], [0, 0]] of order 3, whose exponential
// is [[exp(X), 0], [0, 1]] and L(Z, [[E, 0], [0, 0]]) = [[L(X, E), 0],
// [0, 0]] (compared with ==, so that 0 and -0 agree). A triangular 2×2
// matrix [[a, b], [0, d]] has the exponential [[e^a, b·(e^a − e^d)/(a − d)],
// [0, e^d]] itself.
TEST(MatrixExponentialTest, TwoByTwoStepsEqualThePaddedOnesBitForBit) {
  std::mt19937 rng(11);
  MatrixExponential two(2), three(3);
  Eigen::MatrixXd r2, l2, r3, l3;
  for (int k = 0; k < 200; ++k) {
    const double norm = std::pow(10.0, -3.0 + 5.0 * (k % 40) / 39.0);
    Eigen::MatrixXd X = random_matrix(2, rng);
    X *= norm / one_norm(X);
    const Eigen::MatrixXd E = random_matrix(2, rng);
    Eigen::MatrixXd Z = Eigen::MatrixXd::Zero(3, 3), F = Z;
    Z.topLeftCorner(2, 2) = X;
    F.topLeftCorner(2, 2) = E;
    SCOPED_TRACE(::testing::Message() << "case " << k << "\n" << X);
    two.compute(X, r2);
    three.compute(Z, r3);
    EXPECT_TRUE(r2 == r3.topLeftCorner(2, 2));
    two.compute_with_derivative(X, E, r2, l2);
    three.compute_with_derivative(Z, F, r3, l3);
    EXPECT_TRUE(r2 == r3.topLeftCorner(2, 2));
    EXPECT_TRUE(l2 == l3.topLeftCorner(2, 2));
    X(1, 0) = 0.0;
    two.compute(X, r2);
    const double a = X(0, 0), d = X(1, 1);
    EXPECT_EQ(r2(1, 0), 0.0);
    EXPECT_NEAR(r2(0, 0), std::exp(a), 2e-16 * std::exp(a));
    EXPECT_NEAR(r2(1, 1), std::exp(d), 2e-16 * std::exp(d));
    const double band = X(0, 1) * (std::exp(a) - std::exp(d)) / (a - d);
    EXPECT_NEAR(r2(0, 1), band, 1e-12 * std::abs(band));
  }
}

// exp of a rotation generator, far outside the unscaled bands, and its
// derivative in the direction of the generator itself: L(X, X) = X·exp(X).
TEST(MatrixExponentialTest, RotationAndDerivativeAlongItself) {
  const double w = 37.0;
  Eigen::MatrixXd rotation(2, 2);
  rotation << 0.0, w, -w, 0.0;
  Eigen::MatrixXd expected(2, 2);
  expected << std::cos(w), std::sin(w), -std::sin(w), std::cos(w);
  MatrixExponential expm(2);
  Eigen::MatrixXd result, derivative;
  expm.compute(rotation, result);
  EXPECT_LE((result - expected).cwiseAbs().maxCoeff(), 1e-13);
  expm.compute_with_derivative(rotation, rotation, result, derivative);
  EXPECT_LE((result - expected).cwiseAbs().maxCoeff(), 1e-13);
  EXPECT_LE((derivative - rotation * expected).cwiseAbs().maxCoeff(), 1e-11);
}

// Central differences (exp(X + hE) − exp(X − hE))/2h have error O(h²) +
// O(u/h); h = 1e-5·‖X‖ keeps both near 1e-9 relative.
TEST(MatrixExponentialTest, DerivativeMatchesCentralDifferences) {
  std::mt19937 rng(11);
  for (int n : {1, 3, 8}) {
    for (double norm : {0.05, 1.0, 12.0}) {
      SCOPED_TRACE(::testing::Message() << "n = " << n << ", ‖X‖ = " << norm);
      Eigen::MatrixXd X = random_matrix(n, rng);
      X *= norm / one_norm(X);
      Eigen::MatrixXd E = random_matrix(n, rng);
      E /= one_norm(E);
      MatrixExponential expm(n);
      Eigen::MatrixXd result, derivative, up, down;
      expm.compute_with_derivative(X, E, result, derivative);
      const double h = 1e-5 * std::max(norm, 1.0);
      expm.compute(X + h * E, up);
      expm.compute(X - h * E, down);
      const Eigen::MatrixXd difference = (up - down) / (2.0 * h);
      EXPECT_LE((derivative - difference).norm(), 1e-7 * difference.norm());
    }
  }
}

// The models turn a weighted sum of derivatives into one L(Xᵀ, W).
TEST(MatrixExponentialTest, AdjointIdentity) {
  std::mt19937 rng(3);
  const int n = 5;
  MatrixExponential expm(n);
  Eigen::MatrixXd result, forward, adjoint;
  for (double norm : {0.3, 9.0}) {
    Eigen::MatrixXd X = random_matrix(n, rng);
    X *= norm / one_norm(X);
    const Eigen::MatrixXd E = random_matrix(n, rng);
    const Eigen::MatrixXd W = random_matrix(n, rng);
    expm.compute_with_derivative(X, E, result, forward);
    const Eigen::MatrixXd Xt = X.transpose();
    expm.compute_with_derivative(Xt, W, result, adjoint);
    const double lhs = (W.array() * forward.array()).sum();
    const double rhs = (adjoint.array() * E.array()).sum();
    EXPECT_NEAR(lhs, rhs, 1e-13 * forward.norm() * W.norm()) << norm;
  }
}

// Eigenvalues −1e4 and −0.1 (absorption into a slowly cleared
// compartment) at t = 8: 1-norm 1.6e5, seventeen squarings, which would
// cost the slow mode 2e-12 of relative accuracy if r rather than r − I
// were squared. Closed forms:
// exp(tA) = [[a, 0], [k(b − a)/(k − c), b]] with a = e^{−kt}, b = e^{−ct},
// and the derivative in the direction of the fast rate's entry (1, 0).
TEST(MatrixExponentialTest, StiffAbsorptionMatrix) {
  const double k = 1e4, c = 0.1, t = 8.0;
  Eigen::MatrixXd X(2, 2);
  X << -k * t, 0.0, k * t, -c * t;
  const double a = std::exp(-k * t), b = std::exp(-c * t);
  MatrixExponential expm(2);
  Eigen::MatrixXd result, derivative;
  Eigen::MatrixXd E = Eigen::MatrixXd::Zero(2, 2);
  E(1, 0) = t;
  expm.compute_with_derivative(X, E, result, derivative);
  const double x21 = k * (b - a) / (k - c);
  Eigen::MatrixXd alone;
  expm.compute(X, alone);
  for (const Eigen::MatrixXd* r : {&result, &alone}) {
    EXPECT_EQ((*r)(0, 0), 0.0);
    EXPECT_EQ((*r)(0, 1), 0.0);
    EXPECT_NEAR((*r)(1, 0), x21, 1e-14 * x21);
    EXPECT_NEAR((*r)(1, 1), b, 1e-14 * b);
  }
  // Entry (1, 0) of exp(tA) is A[1][0]·(b − a)/(k − c); E = t·e_10 is the
  // change of tA per unit change of A[1][0].
  const double d21 = (b - a) / (k - c);
  EXPECT_NEAR(derivative(1, 0), d21, 1e-12 * d21);
  EXPECT_EQ(derivative(0, 0), 0.0);
}

TEST(MatrixExponentialTest, NonFiniteAndEmptyArguments) {
  MatrixExponential expm(2);
  Eigen::MatrixXd X = Eigen::MatrixXd::Identity(2, 2), E = X;
  Eigen::MatrixXd result, derivative;
  X(0, 1) = std::numeric_limits<double>::infinity();
  expm.compute_with_derivative(X, E, result, derivative);
  EXPECT_TRUE(result.array().isNaN().all());
  EXPECT_TRUE(derivative.array().isNaN().all());
  expm.compute(X, result);
  EXPECT_TRUE(result.array().isNaN().all());

  MatrixExponential empty(0);
  const Eigen::MatrixXd none(0, 0);
  empty.compute_with_derivative(none, none, result, derivative);
  EXPECT_EQ(result.size(), 0);
  EXPECT_EQ(derivative.size(), 0);
}

// The memo gives exp(s·B) as computing it gives it, bit for bit: for
// lengths met again, after more lengths than it keeps, and for a B that
// differs from the last in one bit.
TEST(ExponentialMemoTest, GivesTheComputedExponentialBitForBit) {
  const int m = 4;
  Eigen::MatrixXd B(m, m);
  B << -1.0, 0.2, 0.0, 0.1, 0.3, -0.5, 0.4, 0.0, 0.0, 0.1, -2.0, 0.3, 0.2, 0.0,
      0.1, -0.7;
  Eigen::MatrixXd nudged = B;
  nudged(2, 1) = std::nextafter(B(2, 1), 1.0);
  ExponentialMemo memo(m);
  MatrixExponential expm(m), direct(m);
  Eigen::MatrixXd expected;
  const auto check = [&](const Eigen::MatrixXd& b, double s) {
    direct.compute(s * b, expected);
    EXPECT_TRUE(memo.exponential(b, s, expm) == expected)
        << "s = " << s << (&b == &B ? "" : ", nudged B");
  };
  for (int round = 0; round < 2; ++round) {
    for (int k = 1; k <= 100; ++k) check(B, 0.05 * k);
  }
  check(nudged, 0.05);
  check(B, 0.05);
  check(nudged, 0.05);
}

}  // namespace
}  // namespace identify
