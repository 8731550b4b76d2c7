// Ns = D⁻¹·N·D⁻¹ with N = JᵀJ and D = diag(sqrt(N_cc)), so that Ns has a
// unit diagonal: the Gram matrix of J's columns scaled to unit norm. Its
// extreme eigenvalues are estimated by power iteration, x ← Ns·x/|Ns·x|,
// and inverse iteration, x ← Ns⁻¹·x/|Ns⁻¹·x| through the Cholesky factor;
// after k steps |Ns·x| and 1/|Ns⁻¹·x| approach λ_max and λ_min from the
// inside, each component other than the extreme one shrinking by the ratio
// of its eigenvalue to the extreme one per step. An eigenvalue ratio that
// the estimate misses by orders of magnitude would need a start vector
// orthogonal to the extreme eigenvector to that many digits; the start is
// a fixed vector with no structure (sin(1 + i)).
#include "fit/scaled_normal.h"

#include <cmath>
#include <utility>

namespace identify {

namespace {

constexpr int kIterationSteps = 10;

Eigen::VectorXd start_vector(Eigen::Index q) {
  Eigen::VectorXd x(q);
  for (Eigen::Index i = 0; i < q; ++i) {
    x[i] = std::sin(1.0 + static_cast<double>(i));
  }
  return x.normalized();
}

// sqrt(λ_max/λ_min) of Ns, estimated.
double estimate_condition(const ScaledNormal& s) {
  const auto ns = s.normal.selfadjointView<Eigen::Lower>();
  Eigen::VectorXd x = start_vector(s.normal.rows());
  double largest = 0.0;
  for (int k = 0; k < kIterationSteps; ++k) {
    const Eigen::VectorXd y = ns * x;
    largest = y.norm();
    if (!(largest > 0.0)) return 0.0;
    x = y / largest;
  }
  x = start_vector(s.normal.rows());
  double inverse = 0.0;
  for (int k = 0; k < kIterationSteps; ++k) {
    const Eigen::VectorXd y = s.cholesky.solve(x);
    inverse = y.norm();
    if (!std::isfinite(inverse) || !(inverse > 0.0)) return 0.0;
    x = y / inverse;
  }
  return std::sqrt(largest * inverse);
}

}  // namespace

ScaledNormal scaled_normal(Gram& gram, const double* J, std::size_t n) {
  Eigen::MatrixXd normal;
  gram.compute(J, n, normal);
  return scaled_normal(std::move(normal));
}

ScaledNormal scaled_normal(Eigen::MatrixXd normal) {
  ScaledNormal s;
  const auto q = static_cast<int>(normal.rows());
  s.normal = std::move(normal);
  s.norms = s.normal.diagonal().cwiseSqrt();
  for (int c = 0; c < q; ++c) {
    if (!(s.norms[c] > 0.0) || !std::isfinite(s.norms[c])) return s;
  }
  for (int j = 0; j < q; ++j) {
    for (int i = j; i < q; ++i) {
      s.normal(i, j) /= s.norms[i] * s.norms[j];
    }
  }
  s.cholesky.compute(s.normal);
  if (s.cholesky.info() != Eigen::Success) return s;
  s.condition = estimate_condition(s);
  s.usable = s.condition > 0.0 && s.condition <= kNormalConditionLimit;
  return s;
}

}  // namespace identify
