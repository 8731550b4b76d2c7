// The exact Hessian of one subject's FOCE-I term OFV_i (subject_mode.h)
// with respect to the outer unknowns x = (fitted fixed effects on their
// scales, Ω's factor entries u): column k is the derivative of the exact
// gradient (outer_gradient.h) along x_k, with the mode moving with x,
// dη̂/dx_k, by forward differentiation of every step of the gradient
// (outer_hessian.cc states it). The sum over the subjects is ∇²OFV, the R
// of the covariance step.
#pragma once

#include <Eigen/Core>
#include <vector>

#include "fit/population/omega.h"
#include "fit/population/outer_gradient.h"
#include "fit/population/subject_jets.h"

namespace identify {

// What the second derivatives add to an OuterPoint at the same x.
struct OuterCurvature {
  Eigen::VectorXd slope_derivative;  // d²θ_f/dx_f² per fitted fixed effect
  // ∂²Ω/∂u_l∂u_k, by l then k.
  std::vector<std::vector<Eigen::MatrixXd>> omega_second;
};

OuterCurvature outer_curvature(const FitProblem& problem,
                               const std::vector<int>& fitted,
                               const OmegaParameters& omega,
                               std::span<const double> x);

// ∂²OFV_i/∂x² at the subject's mode `eta` into `hessian` (square, of the
// gradient's size; as computed, not symmetrised); false if the model or H_i
// is not finite there. A subject without measurements has Hessian 0.
bool subject_outer_hessian(SubjectJets& subject, const OuterPoint& point,
                           const OuterCurvature& curvature,
                           const Eigen::VectorXd& eta,
                           Eigen::MatrixXd& hessian);

}  // namespace identify
