// After a run: the parameters of the θ written that break what the problem
// says of them. The descent on the legacy files starts from the zero matrix
// and sets the fixed entries and checks the bounds only after each step, so
// a run that ends before its first step, or whose best matrix is the start,
// writes fixed entries at 0 and bounded entries whose interval excludes 0
// at 0; and an entry fixed outside its own bounds is put back by every step.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "fit/summary.h"
#include "problem/fit_problem.h"

namespace identify {

// One line per parameter (in order) that is not estimated and differs from
// its value, or is estimated and lies outside finite bounds (NaN is
// outside), for the user after the run, without the "warning: " prefix:
//   "a12 is 0, not its fixed value 0.5 (the run stopped before the first step)"
//   "a21 is 0, outside its bounds [1, 2]"
// The note in parentheses says why where `result` tells: no step taken, or
// the θ written is the start. Numbers as on the console (%g), with 17
// digits where six would show a fixed value and a different value alike.
std::vector<std::string> constraint_warnings(const FitProblem& problem,
                                             std::span<const double> theta,
                                             const Summary& result);

}  // namespace identify
