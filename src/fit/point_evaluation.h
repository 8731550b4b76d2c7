// The problem evaluated at one point, without a fit: the model values of
// every measurement, the standardised residuals r_m, and
//
//   chi2 = Σ r_m²,   −2 ln L (objective.h),   llh = ln L,
//
// the numbers a PEtab tool reports for a problem at its nominal parameters.
#pragma once

#include <span>
#include <vector>

#include "model/model.h"
#include "problem/fit_problem.h"

namespace identify {

struct PointEvaluation {
  std::vector<double> simulations;  // y_m, in problem order
  std::vector<double> residuals;    // r_m
  double chi2 = 0.0;
  double minus_2_ln_l = 0.0;
  double llh = 0.0;
  // What a fit minimises: Σ r² for a sum of squares, else −2 ln L.
  double objective = 0.0;
};

// Evaluates `problem` with `model` at θ (every parameter, unscaled).
PointEvaluation evaluate_point(const FitProblem& problem, Model& model,
                               std::span<const double> theta);

}  // namespace identify
