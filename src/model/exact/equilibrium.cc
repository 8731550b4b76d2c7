// Steady states of dx/dt = A x + b. The singular value decomposition
// A = U Σ Vᵀ gives the rank r (singular values above n·ε·σ_max count), the
// null space N (the last n − r columns of V) and the left null space M (the
// last n − r columns of U). The checks, in order: every eigenvalue away
// from 0 (beyond 1e-9·σ_max) has a negative real part; Mᵀ N is regular (index
// 1); Mᵀ b is 0 to rounding. The state then solves the stacked system [A; Mᵀ] x
// = [−b; Mᵀ x0] by a column-pivoted QR decomposition, kept for the derivatives,
// which solve the same matrix for other right-hand sides.
#include "model/exact/equilibrium.h"

#include <Eigen/Eigenvalues>
#include <cmath>
#include <limits>

namespace identify {

bool Equilibrium::solve(const Eigen::MatrixXd& A, const Eigen::VectorXd& b,
                        const Eigen::VectorXd& x0, Eigen::VectorXd& x) {
  const Eigen::Index n = A.rows();
  x.setConstant(n, std::numeric_limits<double>::quiet_NaN());
  if (!A.allFinite() || !b.allFinite() || !x0.allFinite()) return false;
  svd_.compute(A, Eigen::ComputeFullU | Eigen::ComputeFullV);
  const Eigen::VectorXd& s = svd_.singularValues();
  const double largest = n > 0 ? s(0) : 0.0;
  const double tol = static_cast<double>(n) *
                     std::numeric_limits<double>::epsilon() * 16.0 * largest;
  Eigen::Index rank = 0;
  while (rank < n && s(rank) > tol) ++rank;
  const Eigen::Index k = n - rank;
  left_null_ = svd_.matrixU().rightCols(k);
  const Eigen::MatrixXd null = svd_.matrixV().rightCols(k);

  const Eigen::VectorXcd eigenvalues = A.eigenvalues();
  const double zero = 1e-9 * largest + tol;  // an eigenvalue taken as 0
  for (Eigen::Index i = 0; i < n; ++i) {
    if (std::abs(eigenvalues(i)) > zero && !(eigenvalues(i).real() < 0.0)) {
      return false;
    }
  }
  if (k > 0) {
    const Eigen::MatrixXd coupling = left_null_.transpose() * null;
    if (coupling.fullPivLu().rank() < k) return false;
    const double scale = std::max(b.lpNorm<Eigen::Infinity>(), 1e-300);
    if ((left_null_.transpose() * b).lpNorm<Eigen::Infinity>() >
        1e-12 * scale + tol * x0.lpNorm<Eigen::Infinity>()) {
      return false;
    }
  }
  Eigen::MatrixXd K(n + k, n);
  K.topRows(n) = A;
  K.bottomRows(k) = left_null_.transpose();
  Eigen::VectorXd rhs(n + k);
  rhs.head(n) = -b;
  rhs.tail(k) = left_null_.transpose() * x0;
  stacked_.compute(K);
  x = stacked_.solve(rhs);
  w_ = svd_.solve(x - x0);
  x_ = x;
  return x.allFinite();
}

void Equilibrium::derivative(const Eigen::MatrixXd& dA,
                             const Eigen::VectorXd& db,
                             const Eigen::VectorXd& dx0,
                             Eigen::VectorXd& dx) const {
  const Eigen::Index n = dA.rows();
  const Eigen::Index k = left_null_.cols();
  Eigen::VectorXd rhs(n + k);
  rhs.head(n) = -(dA * x_ + db);
  rhs.tail(k) = left_null_.transpose() * (dx0 + dA * w_);
  dx = stacked_.solve(rhs);
}

}  // namespace identify
