// The periodic steady state x̄ = (I − e^{Aτ})⁻¹·c of a dose repeated every
// τ, c the state one period of the dose alone leaves (a·u for a bolus,
// r·e^{A(τ−T)}·∫₀ᵀ e^{As}u ds for an infusion over T), and its derivative by
// differentiating the solve: dx̄ = (I − E)⁻¹·(dE·x̄ + dc), with dE and the
// derivatives of the infusion's factors from Fréchet derivatives of the
// exponentials involved.
#include "model/exact/periodic_steady_state.h"

#include <Eigen/Eigenvalues>
#include <cmath>

namespace identify {

PeriodicSteadyState::PeriodicSteadyState(int n)
    : n_(n), expm_n_(n), expm_augmented_(n + 1) {}

bool PeriodicSteadyState::compute(const Eigen::MatrixXd& A,
                                  const PeriodicDose& dose,
                                  Eigen::VectorXd& x) {
  const double tau = dose.interval, T = dose.duration;
  if (!(tau > 0.0) || !std::isfinite(tau) || !(T >= 0.0) || !(T < tau) ||
      !std::isfinite(dose.amount) || dose.target < 0 || dose.target >= n_) {
    return false;
  }
  if (!A.allFinite()) return false;
  const Eigen::VectorXcd eigenvalues =
      Eigen::EigenSolver<Eigen::MatrixXd>(A, false).eigenvalues();
  if (!(eigenvalues.real().maxCoeff() < 0.0)) return false;
  A_ = A;
  dose_ = dose;
  expm_n_.compute(A * tau, E_);
  Eigen::VectorXd c = Eigen::VectorXd::Zero(n_);
  if (T == 0.0) {
    c(dose.target) = dose.amount;
  } else {
    B_ = Eigen::MatrixXd::Zero(n_ + 1, n_ + 1);
    B_.topLeftCorner(n_, n_) = A;
    B_(dose.target, n_) = 1.0;
    expm_augmented_.compute(B_ * T, G_);
    w_ = G_.col(n_).head(n_);
    expm_n_.compute(A * (tau - T), F_);
    c = (dose.amount / T) * (F_ * w_);
  }
  solver_.compute(Eigen::MatrixXd::Identity(n_, n_) - E_);
  x_ = solver_.solve(c);
  if (!x_.allFinite()) return false;
  x = x_;
  return true;
}

void PeriodicSteadyState::derivative(const Eigen::MatrixXd& dA, double d_amount,
                                     double d_duration, Eigen::VectorXd& dx) {
  const double tau = dose_.interval, T = dose_.duration, a = dose_.amount;
  expm_n_.compute_with_derivative(A_ * tau, dA * tau, scratch_, derivative_);
  Eigen::VectorXd rhs = derivative_ * x_;  // dE·x̄
  if (T == 0.0) {
    rhs(dose_.target) += d_amount;
  } else {
    const double r = a / T;
    const double dr = d_amount / T - a * d_duration / (T * T);
    // dF·w, F = exp(A(τ − T)).
    expm_n_.compute_with_derivative(A_ * (tau - T),
                                    dA * (tau - T) - A_ * d_duration, scratch_,
                                    derivative_);
    const Eigen::VectorXd dF_w = derivative_ * w_;
    // dw: the top of L(B·T, dB·T + B·dT)·(0, 1).
    Eigen::MatrixXd dB = B_ * d_duration;
    dB.topLeftCorner(n_, n_) += dA * T;
    expm_augmented_.compute_with_derivative(B_ * T, dB, scratch_, derivative_);
    const Eigen::VectorXd dw = derivative_.col(n_).head(n_);
    rhs += dr * (F_ * w_) + r * dF_w + r * (F_ * dw);
  }
  dx = solver_.solve(rhs);
}

}  // namespace identify
