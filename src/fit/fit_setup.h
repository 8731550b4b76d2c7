// Everything a worker thread needs to run fits of its own for a multi-start
// fit or a profile: the problem, the method and its settings, and how to
// make a model (models are not shared between threads).
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "fit/method.h"
#include "fit/monitor.h"
#include "model/model.h"
#include "problem/fit_problem.h"

namespace identify {

struct FitSetup {
  const FitProblem* problem = nullptr;
  Method method = Method::kLm;
  DescentSetup descent;
  // The stops of each fit; no history and no trace (a fit of a worker is
  // not the run's), the interrupt flag of the run.
  MonitorSettings settings;
  std::function<std::unique_ptr<Model>()> make_model;
  // fitted_parameters(method, problem): the coordinates x are theirs.
  std::vector<int> free;
  // θ of the usual start: the value of every parameter outside `free`.
  std::vector<double> base;
  // An objective at or below this is at the optimum of exact data, as far
  // as rounding goes: a fit stopped there by an iteration bound converged.
  double exact_fit_floor = 0.0;
};

// θ: `base` with the free parameters at coordinates x (unscaled); a
// coordinate equal to that of its base value keeps the base value.
std::vector<double> theta_at(const FitSetup& setup, std::span<const double> x);

}  // namespace identify
