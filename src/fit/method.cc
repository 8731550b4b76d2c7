// Dispatch to the methods. The descent's Objective frees every estimated
// parameter (its rules decide what a step may change); the library
// methods' frees those that can move at all, so that a parameter confined to
// one point is not an unknown to them. Each starts from a θ of the caller's,
// which also gives the values of the parameters it does not move.
#include "fit/method.h"

#include <chrono>
#include <ostream>
#include <vector>

#include "fit/descent.h"
#include "fit/lbfgsb.h"
#include "fit/lm.h"
#include "fit/objective.h"

namespace identify {

namespace {

// The fit's stop flag on the model for the length of the fit.
class StopFlagScope {
 public:
  StopFlagScope(Model& model, const std::atomic<int>* flag)
      : model_(model), previous_(model.stop_flag()) {
    model.set_stop_flag(flag);
  }
  ~StopFlagScope() { model_.set_stop_flag(previous_); }
  StopFlagScope(const StopFlagScope&) = delete;
  StopFlagScope& operator=(const StopFlagScope&) = delete;

 private:
  Model& model_;
  const std::atomic<int>* previous_;
};

}  // namespace

std::vector<int> fitted_parameters(Method method, const FitProblem& problem) {
  if (method == Method::kDescent) return problem.estimated_parameters();
  std::vector<int> free;
  for (int k = 0; k < problem.parameter_count(); ++k) {
    const Parameter& p = problem.parameters[k];
    if (p.estimated && p.lower < p.upper) free.push_back(k);
  }
  return free;
}

Summary fit_from(Method method, const FitProblem& problem, Model& model,
                 const DescentSetup& descent, std::span<const double> start,
                 Monitor& monitor) {
  const std::vector<double> theta(start.begin(), start.end());
  Objective objective(problem, model, fitted_parameters(method, problem),
                      theta);
  if (method == Method::kDescent) {
    if (theta == descent.rules.start) {
      return descend(objective, descent.rules, descent.step, monitor);
    }
    DescentRules rules = descent.rules;
    rules.start = theta;
    return descend(objective, rules, descent.step, monitor);
  }
  return fit_coordinates(method, objective, monitor,
                         objective.coordinates(theta));
}

Summary fit_coordinates(Method method, Objective& objective, Monitor& monitor,
                        std::vector<double> x) {
  return method == Method::kLm ? fit_lm(objective, monitor, std::move(x))
                               : fit_lbfgsb(objective, monitor, std::move(x));
}

const char* method_name(Method method) {
  switch (method) {
    case Method::kDescent:
      return "descent";
    case Method::kLm:
      return "lm";
    case Method::kLbfgsb:
      return "lbfgsb";
  }
  return "";
}

std::optional<Method> method_named(std::string_view name) {
  for (Method m : {Method::kDescent, Method::kLm, Method::kLbfgsb}) {
    if (name == method_name(m)) return m;
  }
  return std::nullopt;
}

Summary solve(Method method, const FitProblem& problem, Model& model,
              const DescentSetup& descent, Monitor& monitor,
              std::ostream& out) {
  const auto start = std::chrono::steady_clock::now();
  const StopFlagScope stop_scope(model, monitor.settings().interrupt);
  Summary summary = fit_from(
      method, problem, model, descent,
      method == Method::kDescent ? descent.rules.start : problem.values(),
      monitor);
  const std::chrono::duration<double> seconds =
      std::chrono::steady_clock::now() - start;
  summary.seconds = seconds.count();
  print_iteration_count(out, summary.iterations);
  return summary;
}

}  // namespace identify
