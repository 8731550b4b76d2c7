// Fixed-step gradient descent on θ: θ ← θ − step·∂S/∂θ over every
// parameter, then the rules' fixed parameters are set and a bounded one that
// left its interval returns to its value from before the step (not clamped
// to the bound). It starts from the rules' start as it is: the first
// iteration evaluates it unchanged, so a run that ends before its first
// step (or whose best θ is the start) returns parameters off their fixed
// values or outside their bounds (constraint_check.h says which).
//
// On the legacy files θ is the matrix A, row-major, and the rules are the
// file's own; every product and sum is then the original descent's, and so
// are the progress lines, the history and the result, bit for bit.
#pragma once

#include <span>

#include "fit/monitor.h"
#include "fit/objective.h"
#include "fit/summary.h"
#include "problem/descent_rules.h"

namespace identify {

// Runs the descent on `objective` (its model has the stop flag for the run
// already). Each iteration c: if the residual norm sqrt(S) is <= epsilon,
// stop; otherwise step, and close the iteration with the monitor. Besides
// the monitor's stops the run ends (after the iteration's progress line)
// when the norm is not finite (kDiverged) and when a step leaves θ
// unchanged (kStalled). An interrupted evaluation ends the run at once; an
// interrupted gradient takes no step but keeps its progress line. The
// summary's θ is the iterate that reached the tolerance, or else the best
// one seen (the start if none finished). Allocates nothing inside the loop.
Summary descend(Objective& objective, const DescentRules& rules, double step,
                Monitor& monitor);

// One step: θ ← θ − step·g, then the fixed parameters in order, then each
// bounded one outside its interval (a value on a bound is inside; NaN
// stays) back to its value from before the step, which `before` receives.
// Returns true when θ did not change at all (to the last bit).
bool descent_step(const DescentRules& rules, double step,
                  std::span<const double> g, std::span<double> before,
                  std::span<double> theta);

}  // namespace identify
