// Steady states of dx/dt = A x + b in closed form: a regular A, a singular
// A whose steady state keeps the conservation law of x0, with and without a
// constant input in the range of A, and the cases that have none (an
// unstable mode, an input along the null space, a nilpotent block). The
// derivatives against central differences of solve().
#include "model/exact/equilibrium.h"

#include <gtest/gtest.h>

#include <cmath>

namespace identify {
namespace {

Eigen::MatrixXd exchange(double k1, double k2) {
  Eigen::MatrixXd A(2, 2);
  A << -k1, k2, k1, -k2;  // A <-> B: A + B is conserved
  return A;
}

TEST(Equilibrium, RegularMatrixGivesMinusItsInverseTimesTheInput) {
  Eigen::MatrixXd A(2, 2);
  A << -2.0, 0.5, 0.0, -1.0;
  const Eigen::VectorXd b = Eigen::Vector2d(1.0, 3.0);
  Equilibrium eq;
  Eigen::VectorXd x;
  ASSERT_TRUE(eq.solve(A, b, Eigen::Vector2d(7.0, -4.0), x));
  EXPECT_NEAR(x(1), 3.0, 1e-15);
  EXPECT_NEAR(x(0), (1.0 + 0.5 * 3.0) / 2.0, 1e-15);
  EXPECT_EQ(eq.conserved(), 0);
}

TEST(Equilibrium, ConservationLawKeepsTheTotalOfTheStart) {
  Equilibrium eq;
  Eigen::VectorXd x;
  ASSERT_TRUE(eq.solve(exchange(0.3, 0.6), Eigen::Vector2d::Zero(),
                       Eigen::Vector2d(1.0, 2.0), x));
  EXPECT_EQ(eq.conserved(), 1);
  // x_A = k2 (A0 + B0) / (k1 + k2) = 0.6·3/0.9.
  EXPECT_NEAR(x(0), 2.0, 1e-14);
  EXPECT_NEAR(x(1), 1.0, 1e-14);
  // An input in the range of A (it moves matter from B to A) shifts the
  // split but keeps the total.
  ASSERT_TRUE(eq.solve(exchange(0.3, 0.6), Eigen::Vector2d(0.45, -0.45),
                       Eigen::Vector2d(1.0, 2.0), x));
  EXPECT_NEAR(x(0) + x(1), 3.0, 1e-14);
  EXPECT_NEAR(-0.3 * x(0) + 0.6 * x(1) + 0.45, 0.0, 1e-14);
}

TEST(Equilibrium, RefusesSystemsWithoutASteadyState) {
  Equilibrium eq;
  Eigen::VectorXd x;
  Eigen::MatrixXd unstable(2, 2);
  unstable << 0.1, 0.0, 0.0, -1.0;
  Eigen::MatrixXd nilpotent(2, 2);
  nilpotent << 0.0, 1.0, 0.0, 0.0;
  const struct {
    Eigen::MatrixXd A;
    Eigen::VectorXd b;
  } cases[] = {
      {unstable, Eigen::Vector2d::Zero()},
      {exchange(0.3, 0.6), Eigen::Vector2d(1.0, 1.0)},  // grows along A + B
      {nilpotent, Eigen::Vector2d::Zero()},             // index 2
  };
  for (const auto& c : cases) {
    EXPECT_FALSE(eq.solve(c.A, c.b, Eigen::Vector2d(1.0, 2.0), x)) << c.A;
    EXPECT_TRUE(std::isnan(x(0)));
  }
}

TEST(Equilibrium, DerivativesAgreeWithCentralDifferences) {
  // x(k1, k2, b, x0) of the exchange with a third, decaying state fed by B.
  const auto system = [](double k1, double k2, double k3) {
    Eigen::MatrixXd A = Eigen::MatrixXd::Zero(3, 3);
    A.topLeftCorner(2, 2) = exchange(k1, k2);
    A(2, 1) = k3;
    A(2, 2) = -2.0 * k3;
    return A;
  };
  const Eigen::Vector3d b(0.2, -0.2, 0.5);
  const Eigen::Vector3d x0(1.0, 2.0, 0.5);
  Equilibrium eq;
  Eigen::VectorXd x, dx, up, down;
  ASSERT_TRUE(eq.solve(system(0.3, 0.6, 0.4), b, x0, x));
  const double h = 1e-6;
  for (int k = 0; k < 3; ++k) {
    double p[3] = {0.3, 0.6, 0.4};
    const Eigen::MatrixXd A = system(p[0], p[1], p[2]);
    p[k] += 1.0;
    const Eigen::MatrixXd dA = system(p[0], p[1], p[2]) - A;  // linear in p_k
    p[k] -= 1.0;
    Equilibrium other;
    p[k] += h;
    other.solve(system(p[0], p[1], p[2]), b, x0, up);
    p[k] -= 2.0 * h;
    other.solve(system(p[0], p[1], p[2]), b, x0, down);
    ASSERT_TRUE(eq.solve(A, b, x0, x));
    eq.derivative(dA, Eigen::Vector3d::Zero(), Eigen::Vector3d::Zero(), dx);
    EXPECT_LT((dx - (up - down) / (2.0 * h)).norm(), 1e-8) << k;
  }
  // Along x0: only its conserved part moves the steady state.
  eq.derivative(Eigen::MatrixXd::Zero(3, 3), Eigen::Vector3d::Zero(),
                Eigen::Vector3d(1.0, 0.0, 0.0), dx);
  Equilibrium other;
  other.solve(system(0.3, 0.6, 0.4), b, x0 + Eigen::Vector3d(h, 0, 0), up);
  other.solve(system(0.3, 0.6, 0.4), b, x0 - Eigen::Vector3d(h, 0, 0), down);
  EXPECT_LT((dx - (up - down) / (2.0 * h)).norm(), 1e-8);
}

}  // namespace
}  // namespace identify
