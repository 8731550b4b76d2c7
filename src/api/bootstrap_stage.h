// --bootstrap B: B fits of resampled data (resample.h), each from the
// fit's estimate, and the percentile intervals of their estimates.
#pragma once

#include <iosfwd>

#include "api/fit_plan.h"
#include "api/fit_task.h"
#include "api/search_results.h"
#include "fit/monitor.h"
#include "fit/summary.h"
#include "model/model.h"

namespace identify {

// The replicates of plan.bootstrap that plan.work gives this run, drawn
// from plan.seed, each fitted by plan.choice.method on its own model of
// plan.choice.model from `estimate`'s θ with `settings`' stops (quietly, no
// history or trace), on plan.threads threads; the results do not depend on
// the threads. `model` gives the model values at the estimate. Sets
// results.bootstrap, with the intervals at level 0.95, and writes one line
// on `out` unless settings.quiet. Does nothing for an estimate that an
// interrupt left or that has no finite objective.
void bootstrap_result(const FitPlan& plan, const FitTask& task, Model& model,
                      const MonitorSettings& settings, const Summary& estimate,
                      SearchResults& results, std::ostream& out);

// The word of the status column: "converged", "diverged", "stalled", "no
// progress", "iteration limit", "library failure", "interrupted".
const char* termination_word(Termination termination);

}  // namespace identify
