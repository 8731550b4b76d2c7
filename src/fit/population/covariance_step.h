// The covariance step of a population fit: the approximate covariance of
// the outer unknowns x = (fitted fixed effects on their scales, Ω's factor
// entries u) at the estimates. With ℓ = −OFV/2 the log-likelihood,
//
//   R = −∇²ℓ = ½·∇²OFV,   S = Σ_i ∇ℓ_i ∇ℓ_iᵀ = ¼·Σ_i g_i g_iᵀ,
//
// g_i the exact gradient of subject i's OFV_i (outer_gradient.h), the
// covariance is the sandwich R⁻¹·S·R⁻¹ (the default), R⁻¹ or S⁻¹. R is
// exact: the Hessian of the OFV by forward differentiation of the exact
// gradient, the conditional modes moving with x (outer_hessian.h). When R is
// not positive definite (condition number 1e7 or more counts as not) the
// step falls back to S⁻¹ and says so; when S is not positive definite
// either there is no covariance.
#pragma once

#include <Eigen/Core>

#include "fit/population/covariance_kind.h"
#include "fit/population/population_fit.h"
#include "problem/fit_problem.h"

namespace identify {

struct CovarianceStep {
  CovarianceKind requested = CovarianceKind::kSandwich;
  CovarianceKind used = CovarianceKind::kSandwich;
  bool available = false;       // covariance holds a result
  bool r_not_positive = false;  // R was needed and not positive definite
  Eigen::MatrixXd covariance;   // over x
  // λ_max/λ_min of the matrix inverted (R, or S where S⁻¹ is used).
  double condition = 0.0;
};

// The step at the estimates of `fit` (which must have the outer gradient:
// a problem the jet model covers); unavailable otherwise.
CovarianceStep covariance_step(const FitProblem& problem,
                               const PopulationFit& fit, CovarianceKind kind,
                               int threads);

}  // namespace identify
