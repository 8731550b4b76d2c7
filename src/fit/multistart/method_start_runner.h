// The StartRunner of a run: one start is a fit by the run's method from
// that start (fit_from), on the worker's own model, with the run's stops.
#pragma once

#include <memory>
#include <vector>

#include "fit/fit_setup.h"
#include "fit/multistart/multistart.h"
#include "fit/objective.h"

namespace identify {

class MethodStartRunner : public StartRunner {
 public:
  // `verbose`: each fit's progress lines go into its outcome's log.
  // Makes the worker's model (with the run's interrupt as its stop flag).
  MethodStartRunner(const FitSetup& setup, bool verbose);

  double objective_at(std::span<const double> x) override;
  // Objective and end point are those of the fit's result θ (its best, or
  // the one that reached the tolerance); `ending` names a stop other than
  // the method's convergence. A drawn start of lm or lbfgsb runs at most
  // kDrawnStartIterations iterations unless the run sets its own limit
  // (--max-iter, then for every start); one stopped by that bound is
  // `capped`, not finished, unless its objective is down to the exact fit
  // floor of the setup.
  StartOutcome fit_from(std::span<const double> x, bool drawn) override;

 private:
  const FitSetup& setup_;
  bool verbose_;
  std::unique_ptr<Model> model_;
  std::unique_ptr<Objective> objective_;
};

// A few words for how a fit ended, for a start's progress line: "" for a
// tolerance or an optimum reached, else "diverged", "iteration limit", ...
const char* ending_words(Termination termination);

}  // namespace identify
