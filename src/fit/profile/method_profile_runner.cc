// One profile point: θ is the optimum with free parameter j at the
// coordinate x and the others at `start` moved into their bounds (a start
// predicted along the profile may lie outside them); the Objective frees
// the others only, so the method moves them with j held; S is evaluated
// once more at the result. With no other parameter the profile is S itself.
#include "fit/profile/method_profile_runner.h"

#include <algorithm>
#include <cmath>

#include "fit/method.h"
#include "fit/objective.h"

namespace identify {

MethodProfileRunner::MethodProfileRunner(const FitSetup& setup)
    : setup_(setup), model_(setup.make_model()), settings_(setup.settings) {
  model_->set_stop_flag(setup.settings.interrupt);
  settings_.quiet = true;
  settings_.epsilon = 0.0;
  settings_.max_iter = 0;
  settings_.history = nullptr;
  settings_.trace = nullptr;
}

double MethodProfileRunner::reoptimise(int j, double x,
                                       std::span<const double> start,
                                       std::vector<double>& others) {
  const FitProblem& problem = *setup_.problem;
  std::vector<double> theta = setup_.base;
  std::vector<int> free;
  for (std::size_t k = 0, o = 0; k < setup_.free.size(); ++k) {
    const int p = setup_.free[k];
    const double coordinate = static_cast<int>(k) == j ? x : start[o++];
    theta[p] = from_scaled(problem.parameters[p].scale, coordinate);
    if (static_cast<int>(k) != j) free.push_back(p);
  }
  Objective objective(problem, *model_, std::move(free), theta);
  others.assign(start.begin(), start.end());
  for (int o = 0; o < objective.size(); ++o) {
    others[o] = std::clamp(others[o], objective.lower(o), objective.upper(o));
  }
  if (!others.empty()) {
    Monitor monitor(settings_, silent_, theta.size());
    const Summary summary =
        fit_coordinates(setup_.method, objective, monitor, others);
    if (summary.termination == Termination::kInterrupted) return std::nan("");
    others = objective.coordinates(summary.theta);
  }
  const double s = objective.evaluate(others);
  return objective.stop_requested() ? std::nan("") : s;
}

}  // namespace identify
