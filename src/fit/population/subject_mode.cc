// The inner problem of FOCE-I for one subject (subject_mode.h): with
// r_j = e_j/σ_j, ½∇f = Σ_j [r_j ρ_j + b_j] + Ω⁻¹η, ρ_j = a_j − r_j b_j, and
// a Levenberg–Marquardt step solves (B + λ·diag B)·δ = −½∇f, accepted when
// f falls, with B = M + S, S a secant estimate of the curvature that the
// Gauss–Newton matrix M leaves out (update_curvature), so that the steps
// converge superlinearly where large residuals slow Gauss–Newton down. The step
// ends at a gradient below kGradientTolerance (the stationarity the outer
// problem relies on), when no step lowers f any more, or when the undamped
// Gauss–Newton step is below kStepTolerance relative to η, or after
// kMaxIterations steps: far from the data (a tiny residual error at a
// random start, say) the inner problem can crawl along a flat valley for
// hundreds of steps where its value hardly matters to the outer problem,
// and a mode that stops there is marked stalled. Subject i's OFV_i then
// follows from the residuals at η̂.
#include "fit/population/subject_mode.h"

#include <Eigen/Dense>
#include <cmath>
#include <numbers>

#include "model/exact/exact_model.h"
#include "problem/noise_model.h"

namespace identify {

namespace {

constexpr double kGradientTolerance = 1e-9;
constexpr double kStepTolerance = 1e-10;
constexpr int kMaxIterations = 100;

// Σ_j [r_j² + 2 ln σ_j] + ηᵀΩ⁻¹η.
double objective_of(const SubjectResiduals& r, const Eigen::MatrixXd& wi,
                    const Eigen::VectorXd& eta) {
  double f = eta.dot(wi * eta);
  for (Eigen::Index j = 0; j < r.e.size(); ++j) {
    const double z = r.e[j] / r.sigma[j];
    f += z * z + 2.0 * std::log(r.sigma[j]);
  }
  return f;
}

// The structured secant update of the curvature S that the Gauss–Newton
// matrix leaves out (the residuals' second derivatives): with y the change
// of ½∇f over the last step s and y# = y − M·s the part M does not explain,
// S moves by the least change (in the symmetric rank-two form) that makes
// (M + S)·s = y. Skipped when yᵀs is not above 0.
void update_curvature(const Eigen::VectorXd& y, const Eigen::MatrixXd& M,
                      const Eigen::VectorXd& s, Eigen::MatrixXd& S) {
  const double ys = y.dot(s);
  if (!(ys > 0.0)) return;
  const Eigen::VectorXd v = y - M * s - S * s;
  S += (v * y.transpose() + y * v.transpose()) / ys -
       (v.dot(s) / (ys * ys)) * (y * y.transpose());
}

// ln det H_i, H_i = Ω⁻¹ + Σ_j [a_j a_jᵀ + 2 b_j b_jᵀ] at the residuals `r`;
// inf if H_i is not positive definite.
double laplace_log_determinant(const SubjectResiduals& r,
                               const Eigen::MatrixXd& wi) {
  const Eigen::MatrixXd a = r.de.array().colwise() / r.sigma.array();
  const Eigen::MatrixXd b = r.dsigma.array().colwise() / r.sigma.array();
  const Eigen::MatrixXd H = wi + a.transpose() * a + 2.0 * b.transpose() * b;
  const Eigen::LLT<Eigen::MatrixXd> llt(H);
  if (llt.info() != Eigen::Success) return INFINITY;
  double log_det = 0.0;
  for (Eigen::Index k = 0; k < H.rows(); ++k) {
    log_det += 2.0 * std::log(llt.matrixL()(k, k));
  }
  return log_det;
}

}  // namespace

SubjectProblem::SubjectProblem(const FitProblem& problem, int experiment) {
  sub_ = problem;
  sub_.experiments = {problem.experiments[experiment]};
  for (const RandomEffect& e : problem.population.effects) {
    slots_.push_back(e.parameter);
  }
  count_ = static_cast<int>(sub_.experiments[0].measurements.size());
  model_ = std::make_unique<ExactModel>(sub_);
  theta_.assign(problem.parameter_count() + 1, 0.0);
}

bool SubjectProblem::residuals(std::span<const double> theta,
                               const Eigen::VectorXd& eta,
                               SubjectResiduals& out) {
  return values(theta, eta, out) && derivatives(out);
}

bool SubjectProblem::values(std::span<const double> theta,
                            const Eigen::VectorXd& eta, SubjectResiduals& out) {
  const int p = sub_.parameter_count();
  const int q = effect_count();
  std::copy(theta.begin(), theta.end(), theta_.begin());
  for (int k = 0; k < q; ++k) theta_[slots_[k]] = eta[k];
  model_->evaluate(std::span<const double>(theta_.data(), p), evaluation_);
  out.e.resize(count_);
  out.sigma.resize(count_);
  out.y.resize(count_);
  sigma_direct_.resize(count_, q);
  sigma_per_y_.resize(count_);
  out.constant = 0.0;
  bool ok = true;
  const std::vector<Measurement>& ms = sub_.experiments[0].measurements.rows();
  for (int j = 0; j < count_; ++j) {
    const Measurement& m = ms[j];
    const Scale h = sub_.noise_of(m.observable).transformation;
    const double y = evaluation_.y[j];
    theta_[p] = y;
    sigma_gradient_.assign(m.sigma.parameters().size(), 0.0);
    const double sigma =
        m.sigma.value_and_gradient(theta_, sigma_gradient_, scratch_);
    double per_y = 0.0;
    sigma_direct_.row(j).setZero();
    for (std::size_t u = 0; u < sigma_gradient_.size(); ++u) {
      const int k = m.sigma.parameters()[u];
      if (k == p) per_y += sigma_gradient_[u];
      for (int s = 0; s < q; ++s) {
        if (k == slots_[s]) sigma_direct_(j, s) += sigma_gradient_[u];
      }
    }
    sigma_per_y_[j] = per_y;
    out.y[j] = y;
    out.e[j] = transformed(h, y) - transformed(h, m.value);
    out.sigma[j] = sigma;
    out.constant +=
        std::log(2.0 * std::numbers::pi) + transformation_term(h, m.value);
    ok = ok && std::isfinite(out.e[j]) && sigma > 0.0 && std::isfinite(sigma);
  }
  return ok;
}

bool SubjectProblem::derivatives(SubjectResiduals& out) {
  const int p = sub_.parameter_count();
  const int q = effect_count();
  model_->jacobian(evaluation_, jacobian_);
  out.de.resize(count_, q);
  out.dsigma.resize(count_, q);
  out.dy_dtheta.resize(count_, p);
  const std::vector<Measurement>& ms = sub_.experiments[0].measurements.rows();
  for (int j = 0; j < count_; ++j) {
    const Scale h = sub_.noise_of(ms[j].observable).transformation;
    const double* row = jacobian_[j];
    const double slope = transformed_slope(h, out.y[j]);
    for (int s = 0; s < q; ++s) {
      out.de(j, s) = slope * row[slots_[s]];
      out.dsigma(j, s) = sigma_direct_(j, s) + sigma_per_y_[j] * row[slots_[s]];
    }
    for (int k = 0; k < p; ++k) out.dy_dtheta(j, k) = row[k];
  }
  return out.de.allFinite() && out.dsigma.allFinite();
}

double SubjectProblem::inner_objective(std::span<const double> theta,
                                       const Eigen::MatrixXd& omega_inverse,
                                       const Eigen::VectorXd& eta) {
  SubjectResiduals r;
  if (!values(theta, eta, r)) return INFINITY;
  return objective_of(r, omega_inverse, eta);
}

SubjectMode SubjectProblem::mode(std::span<const double> theta,
                                 const Eigen::MatrixXd& wi,
                                 double omega_log_determinant,
                                 const Eigen::VectorXd& start) {
  const int q = effect_count();
  SubjectMode out;
  out.eta = start;
  if (count_ == 0) {
    out.eta = Eigen::VectorXd::Zero(q);
    out.converged = out.finite = true;
    return out;
  }
  SubjectResiduals& now = work_;
  if (!residuals(theta, out.eta, now)) {
    out.eta = Eigen::VectorXd::Zero(q);
    if (!residuals(theta, out.eta, now)) {
      out.ofv = INFINITY;
      return out;
    }
  }
  double f = objective_of(now, wi, out.eta);
  double lambda = 1e-3;
  Eigen::VectorXd half_gradient(q);
  Eigen::MatrixXd M(q, q);
  Eigen::MatrixXd S = Eigen::MatrixXd::Zero(q, q);
  Eigen::VectorXd last_step, last_gradient;
  for (;;) {
    const Eigen::VectorXd r = now.e.cwiseQuotient(now.sigma);
    const Eigen::MatrixXd b = now.dsigma.array().colwise() / now.sigma.array();
    const Eigen::MatrixXd a = now.de.array().colwise() / now.sigma.array();
    const Eigen::MatrixXd rho = a - (b.array().colwise() * r.array()).matrix();
    half_gradient = rho.transpose() * r +
                    b.transpose() * Eigen::VectorXd::Ones(count_) +
                    wi * out.eta;
    out.gradient_norm = half_gradient.lpNorm<Eigen::Infinity>() * 2.0;
    if (out.gradient_norm <= kGradientTolerance) {
      out.converged = true;
      break;
    }
    if (out.iterations >= kMaxIterations) break;
    M = rho.transpose() * rho + 2.0 * b.transpose() * b + wi;
    if (out.iterations > 0) {
      update_curvature(half_gradient - last_gradient, M, last_step, S);
    }
    Eigen::MatrixXd B = M + S;
    if (Eigen::LLT<Eigen::MatrixXd>(B).info() != Eigen::Success) {
      S.setZero();
      B = M;
    }
    // A step below the resolution of η: the mode to rounding.
    const Eigen::VectorXd full = B.ldlt().solve(-half_gradient);
    if (full.lpNorm<Eigen::Infinity>() <=
        kStepTolerance * (1.0 + out.eta.lpNorm<Eigen::Infinity>())) {
      out.converged = true;
      break;
    }
    Eigen::VectorXd step;
    const bool moved =
        damped_step(theta, wi, B, half_gradient, lambda, f, out.eta, now, step);
    if (moved) {
      last_step = step;
      last_gradient = half_gradient;
    }
    ++out.iterations;
    if (!moved) break;
  }
  out.stalled = !out.converged && (out.iterations >= kMaxIterations ||
                                   !(out.gradient_norm <= kSettledGradient));
  const double log_det_h = laplace_log_determinant(now, wi);
  out.ofv = f + now.constant + omega_log_determinant + log_det_h;
  out.finite = std::isfinite(out.ofv);
  return out;
}

bool SubjectProblem::damped_step(std::span<const double> theta,
                                 const Eigen::MatrixXd& wi,
                                 const Eigen::MatrixXd& B,
                                 const Eigen::VectorXd& half_gradient,
                                 double& lambda, double& f,
                                 Eigen::VectorXd& eta, SubjectResiduals& now,
                                 Eigen::VectorXd& step) {
  SubjectResiduals& trial = trial_;
  while (lambda < 1e12) {
    Eigen::MatrixXd damped = B;
    damped.diagonal() *= 1.0 + lambda;
    step = damped.ldlt().solve(-half_gradient);
    const Eigen::VectorXd next = eta + step;
    if (next == eta) return false;
    // The Jacobian only once the trial is accepted: a rejected trial needs
    // its values alone.
    if (values(theta, next, trial)) {
      const double ft = objective_of(trial, wi, next);
      if (ft <= f && derivatives(trial)) {
        std::swap(now, trial);
        eta = next;
        f = ft;
        lambda = std::max(lambda * 0.1, 1e-12);
        return true;
      }
    }
    lambda *= 10.0;
  }
  return false;
}

}  // namespace identify
