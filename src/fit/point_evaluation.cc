// One evaluation of the objective with no free parameter: every parameter
// held at θ, so that S, its constant part and the residuals are those of θ
// itself; chi2 sums the squared residuals whatever the kind of objective.
#include "fit/point_evaluation.h"

#include "fit/objective.h"

namespace identify {

PointEvaluation evaluate_point(const FitProblem& problem, Model& model,
                               std::span<const double> theta) {
  Objective objective(problem, model, {},
                      std::vector<double>(theta.begin(), theta.end()));
  PointEvaluation out;
  out.objective = objective.evaluate(std::span<const double>());
  out.minus_2_ln_l = out.objective + objective.constant();
  out.llh = -0.5 * out.minus_2_ln_l;
  out.residuals = objective.residuals();
  for (const double r : out.residuals) out.chi2 += r * r;
  out.simulations = objective.evaluation().y;
  return out;
}

}  // namespace identify
