// The fit of a run, from one start or from several (--starts, --seed,
// --threads, --verbose).
#pragma once

#include <iosfwd>

#include "api/fit_task.h"
#include "api/fit_plan.h"
#include "api/search_results.h"
#include "fit/monitor.h"
#include "fit/summary.h"
#include "model/model.h"

namespace identify {

// The fit of `task`. One start (plan.choice.starts == 1): solve() with a
// Monitor on `settings`, the original run bit for bit. Several: the starts run
// on the worker threads (each with its own model of plan.choice.model), and `out`
// gets one line per start in start order unless settings.quiet ("start 3 of 20:
// objective 4.28601 after 17 iterations"), each start's progress lines before
// it with
// --verbose, then a line on the distinct optima. The start of the result
// (distinct_optima's first) is then fitted again on `model` with
// `settings` (its history and trace are the result's), quietly, and the
// ITERATION NUMBER block closes the fit. After an interrupt the result is
// the best end point so far. `results.starts` gets the report's data.
Summary fit_with_starts(const FitPlan& plan, const FitTask& task, Model& model,
                        const MonitorSettings& settings, std::ostream& out,
                        SearchResults& results);

}  // namespace identify
