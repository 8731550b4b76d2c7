// Dispatch to the methods. The descent's Objective frees every estimated
// parameter (its rules decide what a step may change); the library
// methods' frees those that can move at all, so that a parameter confined to
// one point is not an unknown to them.
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

std::vector<int> movable_parameters(const FitProblem& problem) {
  std::vector<int> free;
  for (int k = 0; k < problem.parameter_count(); ++k) {
    const Parameter& p = problem.parameters[k];
    if (p.estimated && p.lower < p.upper) free.push_back(k);
  }
  return free;
}

}  // namespace

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
  Summary summary;
  if (method == Method::kDescent) {
    Objective objective(problem, model, problem.estimated_parameters(),
                        descent.rules.start);
    summary = descend(objective, descent.rules, descent.step, monitor);
  } else {
    Objective objective(problem, model, movable_parameters(problem),
                        problem.values());
    summary = method == Method::kLm ? fit_lm(objective, monitor)
                                    : fit_lbfgsb(objective, monitor);
  }
  const std::chrono::duration<double> seconds =
      std::chrono::steady_clock::now() - start;
  summary.seconds = seconds.count();
  print_iteration_count(out, summary.iterations);
  return summary;
}

}  // namespace identify
