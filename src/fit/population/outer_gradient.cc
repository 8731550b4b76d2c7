// With z = (η, θ_f), the jets of e_j and σ_j (subject_jets.h) give the data
// part F(z) = Σ_j [r_j² + 2 ln σ_j], r_j = e_j/σ_j, with its gradient ∇F
// and Hessian ∇²F, and the inner objective f = F + ηᵀΩ⁻¹η has
//
//   K = ∂²f/∂η² = ∇²_ηη F + 2Ω⁻¹,   ∂²f/∂η∂θ = ∇²_ηθ F.
//
// With a_j = (∂e_j/∂η)/σ_j, b_j = (∂σ_j/∂η)/σ_j, H = Ω⁻¹ + Σ_j [a_j a_jᵀ +
// 2 b_j b_jᵀ] and P = H⁻¹, the derivative of ln det H along z_m is
//
//   ∂_m ln det H = Σ_j [2 (P a_j)·∂_m a_j + 4 (P b_j)·∂_m b_j],
//   ∂_m a_j = (∂_m ∂_η e_j)/σ_j − a_j (∂_m σ_j)/σ_j   (b_j likewise),
//
// which needs the second derivatives of the model in η and θ (the jets').
// OFV_i = f + ln det Ω + ln det H + const at η = η̂(θ, Ω), the mode
// satisfying ∂f/∂η = 0, so dη̂/dθ = −K⁻¹ ∂²f/∂η∂θ and, with the partial
// derivatives ∂OFV/∂η = ∂f/∂η + ∂ ln det H/∂η and w = K⁻¹ ∂OFV/∂η,
//
//   dOFV_i/dθ_f = ∂F/∂θ_f + ∂ ln det H/∂θ_f − (∂²f/∂θ_f∂η)·w.
//
// For an entry u_l of Ω's factor, with ∂Ω/∂u_l = Ω_l and
// D_l = ∂Ω⁻¹/∂u_l = −Ω⁻¹ Ω_l Ω⁻¹ (and dη̂/du_l = −K⁻¹·2 D_l η̂),
//
//   dOFV_i/du_l = η̂ᵀ D_l η̂ + tr(Ω⁻¹ Ω_l) + tr(P D_l) − 2 (D_l η̂)·w.
//
// ∂f/∂η is kept in ∂OFV/∂η (it is 0 at an exact mode) so that the result
// is the derivative of the OFV at the mode as computed. The fixed effects'
// entries are finally multiplied by dθ_f/dx_f of their scales.
#include "fit/population/outer_gradient.h"

#include <Eigen/Dense>
#include <cmath>

namespace identify {

OuterPoint outer_point(const FitProblem& problem,
                       const std::vector<int>& fitted,
                       const OmegaParameters& omega, std::span<const double> x,
                       std::vector<double>& theta) {
  OuterPoint point;
  const int nf = static_cast<int>(fitted.size());
  point.slope.resize(nf);
  for (int k = 0; k < nf; ++k) {
    const Scale scale = problem.parameters[fitted[k]].scale;
    theta[fitted[k]] = from_scaled(scale, x[k]);
    point.slope[k] = unscaled_per_scaled(scale, x[k]);
  }
  const std::span<const double> u = x.subspan(nf);
  point.omega_inverse = OmegaTerms::from_factor(omega.factor(u)).inverse;
  for (int l = 0; l < omega.size(); ++l) {
    point.omega_derivative.push_back(omega.omega_derivative(u, l));
  }
  point.theta = theta;
  return point;
}

bool subject_terms(const std::vector<Jet>& e, const std::vector<Jet>& sigma,
                   const Eigen::MatrixXd& wi, const Eigen::VectorXd& eta,
                   SubjectTerms& t) {
  const int q = static_cast<int>(eta.size());
  const int m = e[0].size();
  const int n = static_cast<int>(e.size());
  t.data = Jet(0.0, m, q);
  t.a.resize(q, n);
  t.b.resize(q, n);
  for (int j = 0; j < n; ++j) {
    const Jet r = e[j] / sigma[j];
    t.data += r * r + 2.0 * log(sigma[j]);
    t.a.col(j) = e[j].g.head(q) / sigma[j].v;
    t.b.col(j) = sigma[j].g.head(q) / sigma[j].v;
  }
  Eigen::MatrixXd H = wi;
  H += t.a * t.a.transpose() + 2.0 * t.b * t.b.transpose();
  const Eigen::LLT<Eigen::MatrixXd> llt(H);
  if (llt.info() != Eigen::Success) return false;
  t.P = llt.solve(Eigen::MatrixXd::Identity(q, q));
  const Eigen::MatrixXd pa = t.P * t.a, pb = t.P * t.b;
  t.log_det.resize(m);
  for (int k = 0; k < m; ++k) {
    double sum = 0.0;
    for (int j = 0; j < n; ++j) {
      const double s = sigma[j].v, ds = sigma[j].g[k];
      const Eigen::VectorXd da =
          (e[j].h.row(k).transpose() - t.a.col(j) * ds) / s;
      const Eigen::VectorXd db =
          (sigma[j].h.row(k).transpose() - t.b.col(j) * ds) / s;
      sum += 2.0 * pa.col(j).dot(da) + 4.0 * pb.col(j).dot(db);
    }
    t.log_det[k] = sum;
  }
  t.K = t.data.h.topLeftCorner(q, q) + 2.0 * wi;
  const Eigen::VectorXd d_eta =
      t.data.g.head(q) + 2.0 * wi * eta + t.log_det.head(q);
  t.w = t.K.ldlt().solve(d_eta);
  return true;
}

bool subject_outer_gradient(SubjectJets& subject, const OuterPoint& point,
                            const Eigen::VectorXd& eta,
                            Eigen::VectorXd& gradient,
                            Eigen::MatrixXd* mode_slope) {
  const int q = static_cast<int>(eta.size());
  const int nf = static_cast<int>(point.slope.size());
  const int nu = static_cast<int>(point.omega_derivative.size());
  gradient = Eigen::VectorXd::Zero(nf + nu);
  if (mode_slope != nullptr) mode_slope->setZero(q, nf + nu);
  std::vector<Jet> e, sigma;
  if (!subject.residuals(point.theta, eta, e, sigma)) return false;
  if (e.empty()) return true;
  const Eigen::MatrixXd& wi = point.omega_inverse;
  SubjectTerms t;
  if (!subject_terms(e, sigma, wi, eta, t)) return false;
  Eigen::LDLT<Eigen::MatrixXd> k_ldlt;
  if (mode_slope != nullptr) k_ldlt.compute(t.K);
  for (int f = 0; f < nf; ++f) {
    const double total =
        t.data.g[q + f] + t.log_det[q + f] - t.data.h.row(q + f).dot(t.w);
    gradient[f] = total * point.slope[f];
    if (mode_slope != nullptr) {
      mode_slope->col(f) = -k_ldlt.solve(
          t.data.h.row(q + f).head(q).transpose() * point.slope[f]);
    }
  }
  for (int l = 0; l < nu; ++l) {
    const Eigen::MatrixXd& om = point.omega_derivative[l];
    const Eigen::MatrixXd D = -wi * om * wi;
    gradient[nf + l] = eta.dot(D * eta) + (wi * om).trace() +
                       (t.P * D).trace() - 2.0 * (D * eta).dot(t.w);
    if (mode_slope != nullptr) {
      mode_slope->col(nf + l) = -k_ldlt.solve(2.0 * D * eta);
    }
  }
  return gradient.allFinite();
}

}  // namespace identify
