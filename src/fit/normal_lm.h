// Levenberg–Marquardt on the normal equations, for problems with many
// unknowns or many residuals and a tall Jacobian: the same trust-region
// rules, stopping tests, step summaries and termination messages as the
// Ceres Solver run in lm.cc (identity damping, projection onto the box,
// Ceres' radius schedule), but JᵀJ and Jᵀr are formed once per Jacobian, so
// a rejected step costs one Cholesky factorisation and one cost evaluation,
// and the loop itself holds nothing per residual.
#pragma once

#include <ceres/iteration_callback.h>
#include <ceres/solver.h>

#include <Eigen/Core>
#include <functional>
#include <vector>

namespace identify {

// Residuals r (count n) at the scaled unknowns y, and, when `jacobian` is
// not null, J = ∂r/∂y (n × q, row-major). False where they are not usable
// (not finite, or the run was asked to stop).
using NormalLmResiduals =
    std::function<bool(const double* y, double* r, double* jacobian)>;

// The problem as the loop sees it at scaled unknowns y (q of them). A
// source may keep working storage between calls; the loop asks for the
// normal equations only at the points it accepts.
class NormalEquations {
 public:
  virtual ~NormalEquations() = default;
  // The cost c = ½‖r‖² at y; false where it is not usable (not finite, or
  // the run was asked to stop).
  virtual bool cost(const double* y, double& c) = 0;
  // c, the lower triangle of N = JᵀJ (q × q) and g = Jᵀr (q) at y; false
  // where they are not usable.
  virtual bool normal(const double* y, double& c, Eigen::MatrixXd& N,
                      Eigen::VectorXd& g) = 0;
  // The decrease of c that the linear model predicts for the step δ from
  // the point of the last normal(): −(gᵀδ + ½δᵀNδ), which a source that
  // keeps J may compute as −(Jδ)ᵀ(r + Jδ/2) instead.
  virtual double model_decrease(const Eigen::VectorXd& delta,
                                const Eigen::MatrixXd& N,
                                const Eigen::VectorXd& g) const;
};

struct NormalLmSettings {
  double function_tolerance = 0.0;   // |Δcost|/cost, as Ceres
  double parameter_tolerance = 0.0;  // ‖Δy‖/(‖y‖ + tol), as Ceres
};

// Minimises the cost of `source` from y (q unknowns within [lower, upper]),
// as the overload below.
void normal_lm(NormalEquations& source, std::vector<double>& y,
               const std::vector<double>& lower,
               const std::vector<double>& upper,
               const NormalLmSettings& settings,
               ceres::IterationCallback& callback,
               ceres::Solver::Summary& summary);

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
