// The periodic steady state against the closed forms of one compartment
// (bolus, oral, infusion shorter than the interval), its refusal where no
// steady state exists, and its derivatives against central differences.
#include "model/exact/periodic_steady_state.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace identify {
namespace {

// One compartment with first-order absorption: states gut, central.
Eigen::MatrixXd oral(double ka, double ke) {
  Eigen::MatrixXd A(2, 2);
  A << -ka, 0.0, ka, -ke;
  return A;
}

TEST(PeriodicSteadyState, MatchesTheClosedFormsOfOneCompartment) {
  const double ka = 1.2, ke = 0.15, V = 10.0, D = 100.0, tau = 12.0;
  const double q = std::exp(-ke * tau), p = std::exp(-ka * tau);
  Eigen::VectorXd x;
  // Intravenous bolus: C(0+) = (D/V)/(1 − e^{−ke·τ}).
  PeriodicSteadyState one(1);
  ASSERT_TRUE(
      one.compute(Eigen::MatrixXd::Constant(1, 1, -ke), {0, D, 0.0, tau}, x));
  EXPECT_NEAR(x(0) / V, (D / V) / (1.0 - q), 1e-13 * (D / V) / (1.0 - q));
  // Oral: gut D/(1 − e^{−ka·τ}); central, continuous at the dose,
  // D·ka/(ka − ke)·(e^{−ke·τ}/(1 − e^{−ke·τ}) − e^{−ka·τ}/(1 − e^{−ka·τ})).
  PeriodicSteadyState two(2);
  ASSERT_TRUE(two.compute(oral(ka, ke), {0, D, 0.0, tau}, x));
  const double gut = D / (1.0 - p);
  const double central = D * ka / (ka - ke) * (q / (1.0 - q) - p / (1.0 - p));
  EXPECT_NEAR(x(0), gut, 1e-13 * gut);
  EXPECT_NEAR(x(1), central, 1e-13 * central);
  // Infusion of D over T < τ at rate R = D/T: at its start (the trough),
  // R/ke·(1 − e^{−ke·T})·e^{−ke(τ − T)}/(1 − e^{−ke·τ}).
  const double T = 2.0, R = D / T;
  ASSERT_TRUE(
      one.compute(Eigen::MatrixXd::Constant(1, 1, -ke), {0, D, T, tau}, x));
  const double trough =
      R / ke * (1.0 - std::exp(-ke * T)) * std::exp(-ke * (tau - T)) / (1 - q);
  EXPECT_NEAR(x(0), trough, 1e-13 * trough);
  // The same infusion into the central state of the oral model leaves the
  // gut empty and the central amount that of one compartment.
  ASSERT_TRUE(two.compute(oral(ka, ke), {1, D, T, tau}, x));
  EXPECT_EQ(x(0), 0.0);
  EXPECT_NEAR(x(1), trough, 1e-13 * trough);
}

// A mode at 0 (nothing leaves) or a growing one accumulates the doses.
TEST(PeriodicSteadyState, NoSteadyStateWithoutDecayOrForAnInvalidDose) {
  PeriodicSteadyState two(2);
  Eigen::VectorXd x;
  Eigen::MatrixXd closed = oral(1.0, 0.0);
  EXPECT_FALSE(two.compute(closed, {0, 1.0, 0.0, 12.0}, x));
  Eigen::MatrixXd growing = oral(1.0, -0.01);
  EXPECT_FALSE(two.compute(growing, {0, 1.0, 0.0, 12.0}, x));
  Eigen::MatrixXd rotating(2, 2);
  rotating << 0.0, 1.0, -1.0, 0.0;  // eigenvalues ±i
  EXPECT_FALSE(two.compute(rotating, {0, 1.0, 0.0, 12.0}, x));
  const Eigen::MatrixXd A = oral(1.0, 0.1);
  EXPECT_FALSE(two.compute(A, {0, 1.0, 12.0, 12.0}, x));  // T not below τ
  EXPECT_FALSE(two.compute(A, {2, 1.0, 0.0, 12.0}, x));   // no such state
  EXPECT_FALSE(two.compute(A, {0, 1.0, 0.0, 0.0}, x));    // τ of 0
  EXPECT_TRUE(two.compute(A, {0, 1.0, 0.0, 12.0}, x));
}

// x̄ as a function of θ = (ka, ke, amount, duration).
Eigen::VectorXd steady(PeriodicSteadyState& s, const std::vector<double>& t,
                       int target, bool infusion) {
  Eigen::VectorXd x;
  EXPECT_TRUE(s.compute(oral(t[0], t[1]),
                        {target, t[2], infusion ? t[3] : 0.0, 12.0}, x));
  return x;
}

TEST(PeriodicSteadyState, DerivativesMatchCentralDifferences) {
  const std::vector<double> theta = {1.2, 0.15, 100.0, 2.0};
  for (const int target : {0, 1}) {
    for (const bool infusion : {false, true}) {
      SCOPED_TRACE(::testing::Message() << target << " " << infusion);
      PeriodicSteadyState s(2);
      steady(s, theta, target, infusion);
      for (int k = 0; k < (infusion ? 4 : 3); ++k) {
        Eigen::MatrixXd dA = Eigen::MatrixXd::Zero(2, 2);
        if (k == 0) dA << -1.0, 0.0, 1.0, 0.0;
        if (k == 1) dA(1, 1) = -1.0;
        Eigen::VectorXd dx;
        steady(s, theta, target, infusion);
        s.derivative(dA, k == 2 ? 1.0 : 0.0, k == 3 ? 1.0 : 0.0, dx);
        const double h = 1e-5 * theta[k];
        std::vector<double> up = theta, down = theta;
        up[k] += h;
        down[k] -= h;
        const Eigen::VectorXd fd = (steady(s, up, target, infusion) -
                                    steady(s, down, target, infusion)) /
                                   (2.0 * h);
        for (int i = 0; i < 2; ++i) {
          EXPECT_NEAR(dx(i), fd(i), 1e-7 * (1.0 + std::fabs(fd(i))))
              << "parameter " << k << ", state " << i;
        }
      }
    }
  }
}

}  // namespace
}  // namespace identify
