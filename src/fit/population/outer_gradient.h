// The exact gradient of one subject's FOCE-I term OFV_i (subject_mode.h)
// with respect to the outer unknowns x = (the fitted fixed effects on their
// scales, Ω's factor entries u, omega.h), by implicit differentiation
// through the conditional mode η̂_i(θ, Ω) (outer_gradient.cc states the
// formulas). The sum over the subjects is the gradient of the OFV; the
// subjects' gradients are also the scores of the covariance step.
#pragma once

#include <Eigen/Core>
#include <span>
#include <vector>

#include "fit/population/omega.h"
#include "fit/population/subject_jets.h"

namespace identify {

// What every subject's gradient at one outer point shares.
struct OuterPoint {
  std::span<const double> theta;                  // every parameter, unscaled
  Eigen::MatrixXd omega_inverse;                  // Ω⁻¹
  std::vector<Eigen::MatrixXd> omega_derivative;  // ∂Ω/∂u_l per entry l
  Eigen::VectorXd slope;  // dθ_f/dx_f of each fitted fixed effect
};

// The point x = (fitted fixed effects on their scales, u): θ written into
// `theta` (its other entries kept), Ω⁻¹, ∂Ω/∂u_l and the scales' slopes;
// `theta` must outlive the result.
OuterPoint outer_point(const FitProblem& problem,
                       const std::vector<int>& fitted,
                       const OmegaParameters& omega, std::span<const double> x,
                       std::vector<double>& theta);

// What the gradient of one subject's OFV_i is made of (outer_gradient.cc
// names them), at θ, Ω⁻¹ and η, from the residuals' jets.
struct SubjectTerms {
  Jet data;                 // F(z) = Σ_j [r_j² + 2 ln σ_j]
  Eigen::MatrixXd a, b;     // q × n: (∂e_j/∂η)/σ_j, (∂σ_j/∂η)/σ_j
  Eigen::MatrixXd P;        // H⁻¹
  Eigen::VectorXd log_det;  // ∂ ln det H/∂z
  Eigen::MatrixXd K;        // ∂²f/∂η²
  Eigen::VectorXd w;        // K⁻¹·∂OFV/∂η
};

// The terms from e_j and σ_j (at least one measurement); false if H is not
// positive definite.
bool subject_terms(const std::vector<Jet>& e, const std::vector<Jet>& sigma,
                   const Eigen::MatrixXd& omega_inverse,
                   const Eigen::VectorXd& eta, SubjectTerms& t);

// ∂OFV_i/∂x at the subject's mode `eta` into `gradient` (resized to
// slope.size() + omega_derivative.size()); false if the model or H_i is not
// finite there. A subject without measurements has gradient 0. With
// `mode_slope`, also dη̂/dx there (q rows, one column per entry of x; 0 for
// a subject without measurements), the first-order prediction of the mode
// at a nearby x.
bool subject_outer_gradient(SubjectJets& subject, const OuterPoint& point,
                            const Eigen::VectorXd& eta,
                            Eigen::VectorXd& gradient,
                            Eigen::MatrixXd* mode_slope = nullptr);

}  // namespace identify
