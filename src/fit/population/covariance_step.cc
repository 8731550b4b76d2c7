// R = ½·∇²OFV with ∇²OFV = Σ_i ∇²OFV_i the exact Hessian (outer_hessian.h:
// forward differentiation of the exact gradient through the conditional
// modes), symmetrised, (R + Rᵀ)/2, against rounding and the mode's own
// accuracy; the inner problems start from η = 0, so the result does not
// depend on the threads. S = ¼·Σ_i g_i g_iᵀ at the estimates. A matrix is
// inverted through its symmetric eigen-decomposition, and counts as
// positive definite when its smallest eigenvalue is above 1e-7 of its
// largest (a condition number below 1e7): below that, the standard errors
// of the weakest combination are not worth reporting.
#include "fit/population/covariance_step.h"

#include <Eigen/Dense>
#include <cmath>

#include "fit/population/focei_objective.h"
#include "fit/population/omega.h"
#include "fit/population/outer_gradient.h"

namespace identify {

namespace {

constexpr double kSmallestEigenvalue = 1e-7;

// The OFV's gradient (with the subjects' scores) and Hessian at x.
struct Derivatives {
  const FitProblem& problem;
  const PopulationFit& fit;
  const OmegaParameters omega;
  FoceiObjective objective;
  std::vector<double> theta;
  OuterPoint point;

  // The modes and the gradient at x; false where not finite.
  bool gradient(const std::vector<double>& x, Eigen::VectorXd& total,
                std::vector<Eigen::VectorXd>& scores) {
    const std::size_t nf = fit.fitted.size();
    point = outer_point(problem, fit.fitted, omega, x, theta);
    objective.reset_modes();
    const double v = objective.evaluate(
        theta, omega.factor(std::span<const double>(x).subspan(nf)));
    return std::isfinite(v) && objective.gradient(point, total, scores);
  }
  // The Hessian at the x of the last gradient(); false where not finite.
  bool hessian(const std::vector<double>& x, Eigen::MatrixXd& h) {
    return objective.hessian(point,
                             outer_curvature(problem, fit.fitted, omega, x), h);
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
  Derivatives g{problem,
                fit,
                OmegaParameters(problem.population),
                FoceiObjective(problem, std::max(threads, 1)),
                fit.theta,
                OuterPoint()};
  if (!g.objective.enable_gradient(fit.fitted)) return step;
  std::vector<double> x;
  for (int k : fit.fitted) {
    x.push_back(to_scaled(problem.parameters[k].scale, fit.theta[k]));
  }
  x.insert(x.end(), fit.omega_u.begin(), fit.omega_u.end());
  const int n = static_cast<int>(x.size());
  Eigen::VectorXd total;
  std::vector<Eigen::VectorXd> scores;
  Eigen::MatrixXd hessian, r_inverse, s_inverse;
  if (n == 0 || !g.gradient(x, total, scores)) return step;
  Eigen::MatrixXd S = Eigen::MatrixXd::Zero(n, n);
  for (const Eigen::VectorXd& s : scores) S += 0.25 * s * s.transpose();
  double condition = 0.0;
  bool r_ok = kind != CovarianceKind::kS && g.hessian(x, hessian);
  if (r_ok) {
    const Eigen::MatrixXd R = 0.25 * (hessian + hessian.transpose());
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
