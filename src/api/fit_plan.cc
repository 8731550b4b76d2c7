// The defaults of each input and the rule of the Laplace density.
#include "api/fit_plan.h"

namespace identify {

RunChoice input_defaults(bool legacy_files) {
  if (legacy_files) return {ModelKind::kGrid, Method::kDescent, 1};
  return {ModelKind::kExact, Method::kLm, kProblemFileStarts};
}

std::string density_rule(const FitProblem& problem, bool method_named,
                         RunChoice& choice) {
  bool laplace = false;
  for (const NoiseModel& n : problem.noise) {
    laplace |= n.distribution == Distribution::kLaplace;
  }
  if (!laplace) return "";
  if (method_named && choice.method == Method::kLm) {
    return "--method: expected lbfgsb with a laplace distribution (lm fits "
           "sums of squares), found \"lm\"";
  }
  if (!method_named) choice.method = Method::kLbfgsb;
  return "";
}

}  // namespace identify
