// The fit methods and the one entry that runs any of them on a problem: it
// poses the Objective the method works on, hands the model the run's stop
// flag for the length of the fit, times it, and closes the console with the
// "ITERATION NUMBER" block.
#pragma once

#include <iosfwd>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "fit/monitor.h"
#include "fit/summary.h"
#include "model/model.h"
#include "problem/descent_rules.h"
#include "problem/fit_problem.h"

namespace identify {

enum class Method {
  kDescent,  // fixed-step gradient descent (descent.h)
  kLm,       // bounded Levenberg–Marquardt, Ceres (lm.h)
  kLbfgsb,   // bounded limited-memory quasi-Newton, NLopt (lbfgsb.h)
};

// "descent", "lm", "lbfgsb".
const char* method_name(Method method);
// The method of that name, or nothing.
std::optional<Method> method_named(std::string_view name);

// What the descent needs beyond the problem: its rules and its step.
struct DescentSetup {
  DescentRules rules;
  double step = 0.0;
};

// Fits `problem` with `method` on `model`. The descent moves every
// parameter under `descent`'s rules; the library methods move the estimated
// parameters whose bounds leave room (lower < upper) from the problem's
// values, the others held at their values. The model gets the monitor's
// interrupt flag as its stop flag during the fit and its own flag back
// afterwards (outputs computed later must run to their end). The summary
// carries the wall time of the fit.
Summary solve(Method method, const FitProblem& problem, Model& model,
              const DescentSetup& descent, Monitor& monitor, std::ostream& out);

class Objective;

// The one dispatch of the library methods: lm or lbfgsb (`method` is not
// the descent) on `objective` from its coordinates `x`.
Summary fit_coordinates(Method method, Objective& objective, Monitor& monitor,
                        std::vector<double> x);

// The parameters `method` moves: every estimated one for the descent (its
// rules decide what a step may change), the estimated ones whose bounds
// leave room (lower < upper) for the library methods. Ascending.
std::vector<int> fitted_parameters(Method method, const FitProblem& problem);

// The fit of solve() from θ `start` (one value per parameter) instead of the
// problem's values (for the descent: instead of its rules' start), without
// the timing, the stop-flag hand-over and the closing block: one start of a
// multi-start fit.
Summary fit_from(Method method, const FitProblem& problem, Model& model,
                 const DescentSetup& descent, std::span<const double> start,
                 Monitor& monitor);

}  // namespace identify
