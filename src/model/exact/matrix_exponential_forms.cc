// The matrix each call of MatrixExponential runs on. A matrix whose graph
// has no cycle is taken to upper triangular form, P·X·Pᵀ = T, and
// exp(X) = Pᵀ·exp(T)·P, L(X, E) = Pᵀ·L(T, P·E·Pᵀ)·P (the permutation moves
// entries, and L is linear in E), so that the steps for triangular
// arguments apply. Sizes up to 6 are padded with zeros to 2×2, 4×4 or 6×6: for
// X in the top left corner of Z = [[X, 0], [0, 0]], exp(Z) = [[exp(X), 0],
// [0, I]] and L(Z, [[E, 0], [0, 0]]) = [[L(X, E), 0], [0, 0]], every added
// term an exact zero.
#include <Eigen/Core>

#include "model/exact/matrix_exponential.h"

namespace identify {

template <int Size>
MatrixExponential::Padded<Size>::Padded() : pade(Size) {
  x.setZero();
  e.setZero();
}

template <int Size>
void MatrixExponential::Padded<Size>::exponential(const Eigen::MatrixXd& X,
                                                  Eigen::MatrixXd& out,
                                                  bool triangular) {
  const Eigen::Index n = X.rows();
  x.topLeftCorner(n, n) = X;
  pade.exponential(x, result, triangular);
  out = result.topLeftCorner(n, n);
}

template <int Size>
void MatrixExponential::Padded<Size>::exponential_with_derivative(
    const Eigen::MatrixXd& X, const Eigen::MatrixXd& E, Eigen::MatrixXd& out,
    Eigen::MatrixXd& out_derivative, bool triangular) {
  const Eigen::Index n = X.rows();
  x.topLeftCorner(n, n) = X;
  e.topLeftCorner(n, n) = E;
  pade.exponential_with_derivative(x, e, result, derivative, triangular);
  out = result.topLeftCorner(n, n);
  out_derivative = derivative.topLeftCorner(n, n);
}

MatrixExponential::MatrixExponential(int n)
    : n_(n),
      form_(n),
      form_x_(n, n),
      form_e_(n, n),
      form_result_(n, n),
      form_derivative_(n, n),
      general_(n) {}

void MatrixExponential::run(const Eigen::MatrixXd& X, Eigen::MatrixXd& result,
                            bool triangular) {
  if (n_ <= 2) return tiny_.exponential(X, result, triangular);
  if (n_ <= 4) return small_.exponential(X, result, triangular);
  if (n_ <= 6) return medium_.exponential(X, result, triangular);
  general_.exponential(X, result, triangular);
}

void MatrixExponential::run_with_derivative(const Eigen::MatrixXd& X,
                                            const Eigen::MatrixXd& E,
                                            Eigen::MatrixXd& result,
                                            Eigen::MatrixXd& derivative,
                                            bool triangular) {
  if (n_ <= 2) {
    return tiny_.exponential_with_derivative(X, E, result, derivative,
                                             triangular);
  }
  if (n_ <= 4) {
    return small_.exponential_with_derivative(X, E, result, derivative,
                                              triangular);
  }
  if (n_ <= 6) {
    return medium_.exponential_with_derivative(X, E, result, derivative,
                                               triangular);
  }
  general_.exponential_with_derivative(X, E, result, derivative, triangular);
}

void MatrixExponential::compute(const Eigen::MatrixXd& X,
                                Eigen::MatrixXd& result) {
  if (result.rows() != n_ || result.cols() != n_) result.resize(n_, n_);
  if (n_ == 0) return;
  if (!form_.find(X)) return run(X, result, false);
  form_.permute(X, form_x_);
  run(form_x_, form_result_, true);
  form_.restore(form_result_, result);
}

void MatrixExponential::compute_with_derivative(const Eigen::MatrixXd& X,
                                                const Eigen::MatrixXd& E,
                                                Eigen::MatrixXd& result,
                                                Eigen::MatrixXd& derivative) {
  if (result.rows() != n_ || result.cols() != n_) result.resize(n_, n_);
  if (derivative.rows() != n_ || derivative.cols() != n_) {
    derivative.resize(n_, n_);
  }
  if (n_ == 0) return;
  if (!form_.find(X))
    return run_with_derivative(X, E, result, derivative, false);
  form_.permute(X, form_x_);
  form_.permute(E, form_e_);
  run_with_derivative(form_x_, form_e_, form_result_, form_derivative_, true);
  form_.restore(form_result_, result);
  form_.restore(form_derivative_, derivative);
}

}  // namespace identify
