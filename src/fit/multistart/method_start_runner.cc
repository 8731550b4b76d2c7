// One start: θ from the coordinates, a quiet Monitor of the fit's own (its
// progress lines into a string when verbose), the run's method from θ, and
// the objective S evaluated once more at the result θ (every parameter: the
// descent sets parameters that it does not move) so that the outcome
// carries S itself rather than the square of the residual norm.
#include "fit/multistart/method_start_runner.h"

#include <cmath>
#include <sstream>

namespace identify {

const char* ending_words(Termination termination) {
  switch (termination) {
    case Termination::kToleranceReached:
    case Termination::kOptimumReached:
      return "";
    case Termination::kDiverged:
      return "diverged";
    case Termination::kStalled:
      return "stalled";
    case Termination::kNoProgress:
      return "no progress";
    case Termination::kIterationLimit:
      return "iteration limit";
    case Termination::kLibraryFailure:
      return "stopped without converging";
    case Termination::kInterrupted:
      return "interrupted";
  }
  return "";
}

MethodStartRunner::MethodStartRunner(const FitSetup& setup, bool verbose)
    : setup_(setup), verbose_(verbose), model_(setup.make_model()) {
  model_->set_stop_flag(setup.settings.interrupt);
  objective_ = std::make_unique<Objective>(*setup.problem, *model_, setup.free,
                                           setup.base);
}

double MethodStartRunner::objective_at(std::span<const double> x) {
  const double s = objective_->evaluate(x);
  return objective_->stop_requested() ? std::nan("") : s;
}

StartOutcome MethodStartRunner::fit_from(std::span<const double> x,
                                         bool drawn) {
  MonitorSettings settings = setup_.settings;
  settings.quiet = !verbose_;
  const bool bounded =
      drawn && setup_.method != Method::kDescent && settings.max_iter == 0;
  if (bounded) settings.max_iter = kDrawnStartIterations;
  std::ostringstream log;
  Monitor monitor(settings, log, setup_.base.size());
  const Summary summary =
      identify::fit_from(setup_.method, *setup_.problem, *model_,
                         setup_.descent, theta_at(setup_, x), monitor);
  StartOutcome o;
  o.x = objective_->coordinates(summary.theta);
  o.theta = summary.theta;
  o.objective = objective_->evaluate_theta(summary.theta);
  if (objective_->stop_requested()) o.objective = std::nan("");
  o.finished = std::isfinite(o.objective) &&
               summary.termination != Termination::kInterrupted;
  o.iterations = summary.iterations;
  o.ending = ending_words(summary.termination);
  if (bounded && summary.termination == Termination::kIterationLimit) {
    if (objective_->is_sum_of_squares() &&
        o.objective <= setup_.exact_fit_floor) {
      o.ending = "";
    } else {
      o.capped = true;
      o.finished = false;
    }
  }
  o.log = log.str();
  return o;
}

}  // namespace identify
