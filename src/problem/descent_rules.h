// How the fixed-step descent treats the parameters: where it starts, which
// parameters it sets back to a value after every step, and which it puts
// back to their value before the step when the step took them out of an
// interval. The problem-file front door derives these from the parameters;
// the legacy files carry rules of their own (start from the zero matrix,
// fixed and bounded entries applied in file order, every interval named).
#pragma once

#include <vector>

#include "problem/fit_problem.h"

namespace identify {

struct DescentRules {
  std::vector<double> start;  // θ at iteration 0, one value per parameter
  struct Fixed {
    int parameter = 0;
    double value = 0.0;
  };
  struct Bounded {
    int parameter = 0;
    double lower = 0.0;
    double upper = 0.0;
  };
  std::vector<Fixed> fixed;      // applied in order after every step
  std::vector<Bounded> bounded;  // checked in order after the fixed ones
};

// Rules for a problem posed by parameters: start at the parameters' values,
// keep every parameter that is not estimated at its value, and put back an
// estimated one that a step takes out of its bounds (infinite bounds never
// fire).
DescentRules descent_rules(const FitProblem& problem);

}  // namespace identify
