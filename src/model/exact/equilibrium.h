// The steady state that dx/dt = A x + b reaches from x(0) = x0, in closed
// form, with its exact derivatives (pre-equilibration of an experiment).
//
// It exists when every eigenvalue of A other than 0 has a negative real
// part, the eigenvalue 0 is semisimple (index 1: the null space N of A and
// the range of A are complements) and b has no part along N (b in the
// range of A; otherwise x grows without bound). Then, with the rows of M a
// basis of the left null space (Mᵀ A = 0), every solution keeps
// Mᵀ x(t) = Mᵀ x0 (the conservation laws), and the limit x is the one
// solution of
//
//   A x = −b,   Mᵀ x = Mᵀ x0,
//
// that is x = P x0 + (I − P) y for any y with A y = −b, P the spectral
// projector onto N along the range of A: not a long simulation. For a
// regular A, x = −A⁻¹ b whatever x0.
//
// Derivatives along a direction (Ȧ, ḃ, ẋ0): differentiating both
// equations, with w any solution of A w = x − x0 (x − x0 lies in the range
// of A) and Ṁ eliminated through Aᵀ M = 0,
//
//   A ẋ = −(Ȧ x + ḃ),   Mᵀ ẋ = Mᵀ (ẋ0 + Ȧ w),
//
// which the stacked matrix [A; Mᵀ] (full column rank) solves exactly.
#pragma once

#include <Eigen/Core>
#include <Eigen/QR>
#include <Eigen/SVD>

namespace identify {

class Equilibrium {
 public:
  // The steady state from x0 into x; false (x NaN) when there is none.
  bool solve(const Eigen::MatrixXd& A, const Eigen::VectorXd& b,
             const Eigen::VectorXd& x0, Eigen::VectorXd& x);
  // After a successful solve(): the derivative of x along (Ȧ, ḃ, ẋ0).
  void derivative(const Eigen::MatrixXd& dA, const Eigen::VectorXd& db,
                  const Eigen::VectorXd& dx0, Eigen::VectorXd& dx) const;
  // The dimension of the null space at the last solve().
  int conserved() const { return static_cast<int>(left_null_.cols()); }

 private:
  Eigen::JacobiSVD<Eigen::MatrixXd> svd_;
  Eigen::MatrixXd left_null_;  // M
  Eigen::ColPivHouseholderQR<Eigen::MatrixXd> stacked_;
  Eigen::VectorXd w_;  // A w = x − x0
  Eigen::VectorXd x_;
};

}  // namespace identify
