// The gradient of OFV_i (outer_gradient.cc) is a function G(x, η̂(x)) of
// the outer unknowns and of the mode; its derivative along x_k is
//
//   dG/dx_k = ∂G/∂x_k + ∂G/∂η·η̇,   η̇ = dη̂/dx_k = −K⁻¹·∂(∂f/∂η)/∂x_k,
//
// the mode's derivative by implicit differentiation of ∂f/∂η = 0:
// −K⁻¹·(∂²F/∂η∂θ_f)·dθ_f/dx_f for a fixed effect and −K⁻¹·2·D_l·η̂ for an
// entry u_l of Ω's factor (D_l = ∂Ω⁻¹/∂u_l = −Ω⁻¹Ω_lΩ⁻¹). Every step of
// the gradient is differentiated along the direction: the model's jets
// by one pass in dual jets (dual_jet.h), seeded with θ̇ and η̇, and the
// linear algebra by the product rule, with Ṗ = −P·Ḣ·P for P = H⁻¹ and
// ẇ = K⁻¹·(ḋ − K̇·w) for w = K⁻¹d, and, along u_k, Ω̇⁻¹ = D_k and
// Ω̇_l = ∂²Ω/∂u_l∂u_k; along a fixed effect the slope dθ_f/dx_f has the
// derivative d²θ_f/dx_f². No step is approximated: the columns are exact up
// to rounding and to the accuracy of the mode itself.
#include "fit/population/outer_hessian.h"

#include <Eigen/Dense>
#include <cmath>

namespace identify {

namespace {

// The tangents of the inputs along x_k.
struct Direction {
  int fixed = -1;                 // f if x_k is fixed effect f
  int entry = -1;                 // l if x_k is u_l
  Eigen::VectorXd theta;          // θ̇_f for every fitted effect
  Eigen::VectorXd eta;            // η̇
  Eigen::MatrixXd omega_inverse;  // Ω̇⁻¹
};

Direction direction(int k, const OuterPoint& point, const SubjectTerms& t,
                    const Eigen::VectorXd& eta) {
  const int q = static_cast<int>(eta.size());
  const int nf = static_cast<int>(point.slope.size());
  Direction d;
  d.theta = Eigen::VectorXd::Zero(nf);
  d.omega_inverse = Eigen::MatrixXd::Zero(q, q);
  Eigen::VectorXd cross;  // ∂(∂f/∂η)/∂x_k
  if (k < nf) {
    d.fixed = k;
    d.theta[k] = point.slope[k];
    cross = t.data.h.row(q + k).transpose() * point.slope[k];
  } else {
    d.entry = k - nf;
    const Eigen::MatrixXd& wi = point.omega_inverse;
    d.omega_inverse = -wi * point.omega_derivative[d.entry] * wi;
    cross = 2.0 * d.omega_inverse * eta;
  }
  d.eta = -t.K.ldlt().solve(cross);
  return d;
}

// The tangents of the terms that the gradient reads.
struct TermTangents {
  Jet data;                 // Ḟ with its derivatives
  Eigen::MatrixXd P;        // Ṗ
  Eigen::VectorXd log_det;  // d/dx_k of ∂ ln det H/∂z
  Eigen::VectorXd w;        // ẇ
};

// d/dx_k of ∂ ln det H/∂z_m = Σ_j [2 (P a_j)·∂_m a_j + 4 (P b_j)·∂_m b_j].
Eigen::VectorXd log_det_tangent(const std::vector<DualJet>& e,
                                const std::vector<DualJet>& sigma,
                                const SubjectTerms& t,
                                const Eigen::MatrixXd& a_dot,
                                const Eigen::MatrixXd& b_dot,
                                const Eigen::MatrixXd& P_dot) {
  const int m = static_cast<int>(t.log_det.size());
  const Eigen::MatrixXd pa = t.P * t.a, pb = t.P * t.b;
  const Eigen::MatrixXd pa_dot = P_dot * t.a + t.P * a_dot;
  const Eigen::MatrixXd pb_dot = P_dot * t.b + t.P * b_dot;
  Eigen::VectorXd out(m);
  for (int k = 0; k < m; ++k) {
    double sum = 0.0;
    for (std::size_t j = 0; j < e.size(); ++j) {
      const Jet &ev = e[j].v, &ed = e[j].d, &sv = sigma[j].v, &sd = sigma[j].d;
      const double s = sv.v, ds = sv.g[k], s_dot = sd.v, ds_dot = sd.g[k];
      const Eigen::VectorXd da =
          (ev.h.row(k).transpose() - t.a.col(j) * ds) / s;
      const Eigen::VectorXd db =
          (sv.h.row(k).transpose() - t.b.col(j) * ds) / s;
      const Eigen::VectorXd da_dot =
          (ed.h.row(k).transpose() - a_dot.col(j) * ds - t.a.col(j) * ds_dot) /
              s -
          da * (s_dot / s);
      const Eigen::VectorXd db_dot =
          (sd.h.row(k).transpose() - b_dot.col(j) * ds - t.b.col(j) * ds_dot) /
              s -
          db * (s_dot / s);
      sum += 2.0 * (pa_dot.col(j).dot(da) + pa.col(j).dot(da_dot)) +
             4.0 * (pb_dot.col(j).dot(db) + pb.col(j).dot(db_dot));
    }
    out[k] = sum;
  }
  return out;
}

TermTangents term_tangents(const std::vector<DualJet>& e,
                           const std::vector<DualJet>& sigma,
                           const SubjectTerms& t, const Direction& d,
                           const OuterPoint& point,
                           const Eigen::VectorXd& eta) {
  const int q = static_cast<int>(eta.size());
  const int m = t.data.size();
  const int n = static_cast<int>(e.size());
  DualJet data(0.0, m, q);
  Eigen::MatrixXd a_dot(q, n), b_dot(q, n);
  for (int j = 0; j < n; ++j) {
    const DualJet r = e[j] / sigma[j];
    data += r * r + 2.0 * log(sigma[j]);
    const double s = sigma[j].v.v, s_dot = sigma[j].d.v;
    a_dot.col(j) = (e[j].d.g.head(q) - t.a.col(j) * s_dot) / s;
    b_dot.col(j) = (sigma[j].d.g.head(q) - t.b.col(j) * s_dot) / s;
  }
  const Eigen::MatrixXd aa = a_dot * t.a.transpose();
  const Eigen::MatrixXd bb = b_dot * t.b.transpose();
  const Eigen::MatrixXd H_dot =
      d.omega_inverse + aa + aa.transpose() + 2.0 * (bb + bb.transpose());
  TermTangents tt;
  tt.data = data.d;
  tt.P = -t.P * H_dot * t.P;
  tt.log_det = log_det_tangent(e, sigma, t, a_dot, b_dot, tt.P);
  const Eigen::MatrixXd& wi = point.omega_inverse;
  const Eigen::MatrixXd K_dot =
      tt.data.h.topLeftCorner(q, q) + 2.0 * d.omega_inverse;
  const Eigen::VectorXd d_eta_dot = tt.data.g.head(q) +
                                    2.0 * d.omega_inverse * eta +
                                    2.0 * wi * d.eta + tt.log_det.head(q);
  tt.w = t.K.ldlt().solve(d_eta_dot - K_dot * t.w);
  return tt;
}

// Column k of the Hessian: the gradient's formulas differentiated.
Eigen::VectorXd gradient_tangent(const SubjectTerms& t, const TermTangents& tt,
                                 const Direction& d, const OuterPoint& point,
                                 const OuterCurvature& curvature,
                                 const Eigen::VectorXd& eta) {
  const int q = static_cast<int>(eta.size());
  const int nf = static_cast<int>(point.slope.size());
  const int nu = static_cast<int>(point.omega_derivative.size());
  Eigen::VectorXd column(nf + nu);
  for (int f = 0; f < nf; ++f) {
    const double total =
        t.data.g[q + f] + t.log_det[q + f] - t.data.h.row(q + f).dot(t.w);
    const double total_dot = tt.data.g[q + f] + tt.log_det[q + f] -
                             tt.data.h.row(q + f).dot(t.w) -
                             t.data.h.row(q + f).dot(tt.w);
    column[f] = total_dot * point.slope[f];
    if (d.fixed == f) column[f] += total * curvature.slope_derivative[f];
  }
  const Eigen::MatrixXd& wi = point.omega_inverse;
  const Eigen::MatrixXd& wi_dot = d.omega_inverse;
  for (int l = 0; l < nu; ++l) {
    const Eigen::MatrixXd& om = point.omega_derivative[l];
    const Eigen::MatrixXd om_dot = d.entry >= 0
                                       ? curvature.omega_second[l][d.entry]
                                       : Eigen::MatrixXd::Zero(q, q);
    const Eigen::MatrixXd D = -wi * om * wi;
    const Eigen::MatrixXd D_dot =
        -(wi_dot * om * wi + wi * om_dot * wi + wi * om * wi_dot);
    column[nf + l] =
        2.0 * d.eta.dot(D * eta) + eta.dot(D_dot * eta) +
        (wi_dot * om + wi * om_dot).trace() + (tt.P * D + t.P * D_dot).trace() -
        2.0 * (D_dot * eta + D * d.eta).dot(t.w) - 2.0 * (D * eta).dot(tt.w);
  }
  return column;
}

// d²v/ds² of a parameter's scale at the scaled value s (the derivative of
// unscaled_per_scaled): 0, exp s, or ln(10)²·10^s.
double unscaled_curvature(Scale scale, double scaled) {
  switch (scale) {
    case Scale::kLin:
      return 0.0;
    case Scale::kLog:
      return std::exp(scaled);
    case Scale::kLog10:
      return std::log(10.0) * std::log(10.0) * std::pow(10.0, scaled);
  }
  return 0.0;
}

}  // namespace

OuterCurvature outer_curvature(const FitProblem& problem,
                               const std::vector<int>& fitted,
                               const OmegaParameters& omega,
                               std::span<const double> x) {
  OuterCurvature c;
  const int nf = static_cast<int>(fitted.size());
  c.slope_derivative.resize(nf);
  for (int f = 0; f < nf; ++f) {
    c.slope_derivative[f] =
        unscaled_curvature(problem.parameters[fitted[f]].scale, x[f]);
  }
  const std::span<const double> u = x.subspan(nf);
  c.omega_second.resize(omega.size());
  for (int l = 0; l < omega.size(); ++l) {
    for (int k = 0; k < omega.size(); ++k) {
      c.omega_second[l].push_back(omega.omega_second_derivative(u, l, k));
    }
  }
  return c;
}

bool subject_outer_hessian(SubjectJets& subject, const OuterPoint& point,
                           const OuterCurvature& curvature,
                           const Eigen::VectorXd& eta,
                           Eigen::MatrixXd& hessian) {
  const int n =
      static_cast<int>(point.slope.size() + point.omega_derivative.size());
  hessian = Eigen::MatrixXd::Zero(n, n);
  std::vector<Jet> e, sigma;
  if (!subject.residuals(point.theta, eta, e, sigma)) return false;
  if (e.empty()) return true;
  SubjectTerms t;
  if (!subject_terms(e, sigma, point.omega_inverse, eta, t)) return false;
  std::vector<DualJet> de, dsigma;
  for (int k = 0; k < n; ++k) {
    const Direction d = direction(k, point, t, eta);
    if (!subject.residuals(point.theta, eta, d.theta, d.eta, de, dsigma)) {
      return false;
    }
    const TermTangents tt = term_tangents(de, dsigma, t, d, point, eta);
    hessian.col(k) = gradient_tangent(t, tt, d, point, curvature, eta);
  }
  return hessian.allFinite();
}

}  // namespace identify
