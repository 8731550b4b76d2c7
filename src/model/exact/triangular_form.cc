// Kahn's topological sort of the graph of X: an index may take the next
// row of T once no unplaced index has an edge into it (no nonzero
// off-diagonal entry above it in its column among the unplaced ones), so
// every edge i -> j of X lands above the diagonal of T. The sort places
// all n indices exactly when the graph has no cycle. The band of exp(c·T):
// e^{c·t_ii} on the diagonal, and for a = c·t_ii >= b = c·t_{i+1,i+1}
// (or the other way round, by symmetry of the divided difference)
// exp(c·T)_{i,i+1} = c·t_{i,i+1}·e^a·(1 − e^{b−a})/(a − b).
#include "model/exact/triangular_form.h"

#include <algorithm>
#include <cmath>

namespace identify {

TriangularForm::TriangularForm(int n) : n_(n), order_(n), incoming_(n) {}

bool TriangularForm::find(const Eigen::MatrixXd& X) {
  int placed = 0, ready = 0;
  for (int j = 0; j < n_; ++j) {
    int count = 0;
    for (int i = 0; i < n_; ++i) count += i != j && X(i, j) != 0.0;
    incoming_[j] = count;
    if (count == 0) order_[ready++] = j;
  }
  // order_[0 .. placed) are rows of T; order_[placed .. ready) wait.
  for (; placed < ready; ++placed) {
    const int i = order_[placed];
    for (int j = 0; j < n_; ++j) {
      if (j != i && X(i, j) != 0.0 && --incoming_[j] == 0) {
        order_[ready++] = j;
      }
    }
  }
  return placed == n_;
}

void TriangularForm::permute(const Eigen::MatrixXd& X,
                             Eigen::MatrixXd& out) const {
  if (out.rows() != n_ || out.cols() != n_) out.resize(n_, n_);
  for (int b = 0; b < n_; ++b) {
    for (int a = 0; a < n_; ++a) out(a, b) = X(order_[a], order_[b]);
  }
}

void TriangularForm::restore(const Eigen::MatrixXd& Y,
                             Eigen::MatrixXd& out) const {
  if (out.rows() != n_ || out.cols() != n_) out.resize(n_, n_);
  for (int b = 0; b < n_; ++b) {
    for (int a = 0; a < n_; ++a) out(order_[a], order_[b]) = Y(a, b);
  }
}

template <typename Matrix>
void TriangularForm::set_exact_band(const Matrix& T, double c, Matrix& R) {
  const Eigen::Index n = T.rows();
  for (Eigen::Index i = 0; i < n; ++i) {
    const double a = c * T(i, i);
    R(i, i) = a == 0.0 ? 1.0 : std::exp(a);
  }
  for (Eigen::Index i = 0; i + 1 < n; ++i) {
    const double t = c * T(i, i + 1);
    if (t == 0.0) {
      R(i, i + 1) = 0.0;
      continue;
    }
    const double d1 = c * T(i, i), d2 = c * T(i + 1, i + 1);
    const double gap = std::max(d1, d2) - std::min(d1, d2);
    const double top = std::max(R(i, i), R(i + 1, i + 1));  // e^max
    R(i, i + 1) = gap == 0.0 ? t * top : t * top * (-std::expm1(-gap) / gap);
  }
}

template void TriangularForm::set_exact_band(const Eigen::MatrixXd&, double,
                                             Eigen::MatrixXd&);
template void TriangularForm::set_exact_band(const Eigen::Matrix2d&, double,
                                             Eigen::Matrix2d&);
template void TriangularForm::set_exact_band(const Eigen::Matrix4d&, double,
                                             Eigen::Matrix4d&);
template void TriangularForm::set_exact_band(const Eigen::Matrix<double, 6, 6>&,
                                             double,
                                             Eigen::Matrix<double, 6, 6>&);

}  // namespace identify
