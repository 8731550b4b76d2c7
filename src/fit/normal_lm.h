// Levenberg–Marquardt on the normal equations, for problems with many
// unknowns and a tall Jacobian: the same trust-region rules, stopping tests,
// step summaries and termination messages as the Ceres Solver run in lm.cc
// (identity damping, projection onto the box, Ceres' radius schedule), but
// JᵀJ and Jᵀr are formed once per Jacobian, so a rejected step costs one
// Cholesky factorisation and one residual evaluation.
#pragma once

#include <ceres/iteration_callback.h>
#include <ceres/solver.h>

#include <functional>
#include <vector>

namespace identify {

// Residuals r (count n) at the scaled unknowns y, and, when `jacobian` is
// not null, J = ∂r/∂y (n × q, row-major). False where they are not usable
// (not finite, or the run was asked to stop).
using NormalLmResiduals =
    std::function<bool(const double* y, double* r, double* jacobian)>;

struct NormalLmSettings {
  double function_tolerance = 0.0;   // |Δcost|/cost, as Ceres
  double parameter_tolerance = 0.0;  // ‖Δy‖/(‖y‖ + tol), as Ceres
};

// Minimises ½‖r(y)‖² from y (q unknowns within [lower, upper]); y holds the
// current iterate whenever `callback` runs (after every step, accepted or
// not) and the end point on return. `summary` receives the termination
// type, its message and one IterationSummary per step, with the fields
// Ceres fills for a trust-region run.
void normal_lm(const NormalLmResiduals& residuals, int n,
               std::vector<double>& y, const std::vector<double>& lower,
               const std::vector<double>& upper,
               const NormalLmSettings& settings,
               ceres::IterationCallback& callback,
               ceres::Solver::Summary& summary);

}  // namespace identify
