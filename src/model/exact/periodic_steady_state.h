// The periodic steady state of dx/dt = A x under a dose repeated every τ
// for ever: the state x̄ at the dose time (just after a bolus, at the start
// of an infusion) that one period maps onto itself.
//
// Over one period x(τ) = E·x(0) + c with E = exp(A·τ); periodicity gives
//
//   x̄ = (I − E)⁻¹·c,
//
// c = a·u for a bolus of amount a into state i (u the unit vector), and for
// an infusion of a over T < τ at rate r = a/T, c = r·exp(A(τ − T))·w with
// w = ∫₀ᵀ exp(A s)·u ds, the top of exp(B·T)·(0, 1) for the augmented
// matrix B = [[A, u], [0, 0]]. A steady state exists when every eigenvalue
// of A has a negative real part (then the spectral radius of E is below 1
// and I − E is invertible); otherwise none does (a mode at 0 or a growing
// one accumulates the doses).
//
// Derivatives come from differentiating the linear solve:
//
//   dx̄ = (I − E)⁻¹·(dE·x̄ + dc),   dE = L(Aτ, dA·τ),
//
// L the Fréchet derivative of exp, and for an infusion
// dc = dr·F·w + r·dF·w + r·F·dw with F = exp(A(τ − T)),
// dF = L(A(τ − T), dA·(τ − T) − A·dT), dw the top of
// L(B·T, dB·T + B·dT)·(0, 1), dB = [[dA, 0], [0, 0]] and
// dr = da/T − a·dT/T². The interval τ is data and has no derivative.
#pragma once

#include <Eigen/Core>
#include <Eigen/LU>

#include "model/exact/matrix_exponential.h"

namespace identify {

struct PeriodicDose {
  int target = 0;         // the state dosed
  double amount = 0.0;    // a
  double duration = 0.0;  // T: 0 for a bolus, else 0 < T < interval
  double interval = 0.0;  // τ > 0
};

class PeriodicSteadyState {
 public:
  // For n states.
  explicit PeriodicSteadyState(int n);

  // x̄ for `dose` under A (n×n). False, x untouched, when there is no
  // steady state: an eigenvalue of A with a real part of 0 or more, or a
  // dose that is not as PeriodicDose says.
  bool compute(const Eigen::MatrixXd& A, const PeriodicDose& dose,
               Eigen::VectorXd& x);

  // After a successful compute(): dx̄ in the direction dA (n×n) of A,
  // d_amount of the amount and d_duration of the duration.
  void derivative(const Eigen::MatrixXd& dA, double d_amount, double d_duration,
                  Eigen::VectorXd& dx);

 private:
  int n_;
  MatrixExponential expm_n_, expm_augmented_;
  Eigen::MatrixXd A_, E_, F_, G_, B_, scratch_, derivative_;
  Eigen::VectorXd x_, w_;
  PeriodicDose dose_;
  Eigen::PartialPivLU<Eigen::MatrixXd> solver_;
};

}  // namespace identify
