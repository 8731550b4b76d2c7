// The matrix exponential by scaling and squaring with diagonal Padé
// approximants. Accuracy: the approximant's degree and the number of
// squarings are chosen from the 1-norm of the argument so that the backward
// error of the approximation stays below the unit roundoff of double
// precision (Higham 2005); the computed exponential is then as accurate as
// the conditioning of exp at X allows.
#pragma once

#include <Eigen/Core>
#include <Eigen/LU>

namespace identify {

// exp(X) of a square matrix by scaling and squaring with a diagonal Padé
// approximant of degree 3, 5, 7, 9 or 13 chosen from the 1-norm of X, so
// that the approximation error stays below double rounding. The work
// matrices are kept: repeated calls at one size allocate nothing.
class MatrixExponential {
 public:
  // Work matrices for n×n arguments (n >= 0).
  explicit MatrixExponential(int n);

  // result = exp(X). X is n×n with the n of the constructor and finite
  // entries; result is resized to n×n if it is not, and must not be X.
  void compute(const Eigen::MatrixXd& X, Eigen::MatrixXd& result);

 private:
  // u_ = U, v_ = V of the degree-m approximant (V − U)⁻¹(V + U) at x.
  void pade(const Eigen::MatrixXd& x, int degree);

  Eigen::MatrixXd scaled_, a2_, a4_, a6_, u_, v_, tmp_;
  Eigen::PartialPivLU<Eigen::MatrixXd> lu_;
};

}  // namespace identify
