// R = ½·∇²OFV by central differences of the exact gradient G(x) = Σ_i g_i:
// column k is (G(x + h_k e_k) − G(x − h_k e_k))/(4 h_k), and R is then
// symmetrised, (R + Rᵀ)/2; every evaluation starts the inner problems from
// η = 0, so the result does not depend on the order of evaluations or on
// the threads. S = ¼·Σ_i g_i g_iᵀ at the estimates. A matrix is inverted
// through its symmetric eigen-decomposition, and counts as positive
// definite when its smallest eigenvalue is above 1e-7 of its largest (a
// condition number below 1e7): below that, the differences' own error in R
// (about 1e-8 relative) could decide the sign.
#include "fit/population/covariance_step.h"

#include <Eigen/Dense>
#include <cmath>

#include "fit/population/focei_objective.h"
#include "fit/population/omega.h"
#include "fit/population/outer_gradient.h"

namespace identify {

namespace {

constexpr double kSmallestEigenvalue = 1e-7;

struct Gradients {
  const FitProblem& problem;
  const PopulationFit& fit;
  const OmegaParameters omega;
  FoceiObjective objective;
  std::vector<double> theta;

  // G at x with the subjects' g_i; false where not finite.
  bool at(const std::vector<double>& x, Eigen::VectorXd& total,
          std::vector<Eigen::VectorXd>& scores) {
    const std::size_t nf = fit.fitted.size();
    const OuterPoint point = outer_point(problem, fit.fitted, omega, x, theta);
    objective.reset_modes();
    const double v = objective.evaluate(
        theta, omega.factor(std::span<const double>(x).subspan(nf)));
    return std::isfinite(v) && objective.gradient(point, total, scores);
  }
};

// The inverse of a symmetric matrix and its condition number; false if not
// positive definite.
bool invert(const Eigen::MatrixXd& m, Eigen::MatrixXd& inverse,
            double& condition) {
  const Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> eigen(m);
  if (eigen.info() != Eigen::Success || m.rows() == 0) return false;
  const Eigen::VectorXd& l = eigen.eigenvalues();
  const double largest = l.maxCoeff(), smallest = l.minCoeff();
  if (!(smallest > kSmallestEigenvalue * largest) || !std::isfinite(largest)) {
    return false;
  }
  condition = largest / smallest;
  inverse = eigen.eigenvectors() * l.cwiseInverse().asDiagonal() *
            eigen.eigenvectors().transpose();
  return true;
}

}  // namespace

CovarianceStep covariance_step(const FitProblem& problem,
                               const PopulationFit& fit, CovarianceKind kind,
                               int threads) {
  CovarianceStep step;
  step.requested = step.used = kind;
  Gradients g{problem, fit, OmegaParameters(problem.population),
              FoceiObjective(problem, std::max(threads, 1)), fit.theta};
  if (!g.objective.enable_gradient(fit.fitted)) return step;
  std::vector<double> x;
  for (int k : fit.fitted) {
    x.push_back(to_scaled(problem.parameters[k].scale, fit.theta[k]));
  }
  x.insert(x.end(), fit.omega_u.begin(), fit.omega_u.end());
  const int n = static_cast<int>(x.size());
  Eigen::VectorXd total;
  std::vector<Eigen::VectorXd> scores;
  if (n == 0 || !g.at(x, total, scores)) return step;
  Eigen::MatrixXd S = Eigen::MatrixXd::Zero(n, n);
  for (const Eigen::VectorXd& s : scores) S += 0.25 * s * s.transpose();
  Eigen::MatrixXd R(n, n), r_inverse, s_inverse;
  bool r_ok = kind != CovarianceKind::kS;
  for (int k = 0; k < n && r_ok; ++k) {
    const double h = 1e-4 * std::max(1.0, std::abs(x[k]));
    std::vector<double> up = x, down = x;
    up[k] += h;
    down[k] -= h;
    Eigen::VectorXd gu, gd;
    r_ok = g.at(up, gu, scores) && g.at(down, gd, scores);
    if (r_ok) R.col(k) = (gu - gd) / (4.0 * h);
  }
  double condition = 0.0;
  if (r_ok) {
    R = 0.5 * (R + R.transpose()).eval();
    r_ok = invert(R, r_inverse, condition);
  }
  if (kind != CovarianceKind::kS && r_ok) {
    step.covariance = kind == CovarianceKind::kR
                          ? r_inverse
                          : Eigen::MatrixXd(r_inverse * S * r_inverse);
    step.condition = condition;
    step.available = true;
    return step;
  }
  step.r_not_positive = kind != CovarianceKind::kS;
  step.used = CovarianceKind::kS;
  if (invert(S, s_inverse, condition)) {
    step.covariance = s_inverse;
    step.condition = condition;
    step.available = true;
  }
  return step;
}

}  // namespace identify
