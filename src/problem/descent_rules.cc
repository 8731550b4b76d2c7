// Descent rules of a problem posed by parameters: the start is the vector of
// values, the fixed list the parameters that are not estimated, and the
// bounded list the estimated parameters with at least one finite bound.
#include "problem/descent_rules.h"

#include <cmath>

namespace identify {

DescentRules descent_rules(const FitProblem& problem) {
  DescentRules rules;
  rules.start = problem.values();
  for (int k = 0; k < problem.parameter_count(); ++k) {
    const Parameter& p = problem.parameters[k];
    if (!p.estimated) {
      rules.fixed.push_back({k, p.value});
    } else if (std::isfinite(p.lower) || std::isfinite(p.upper)) {
      rules.bounded.push_back({k, p.lower, p.upper});
    }
  }
  return rules;
}

}  // namespace identify
