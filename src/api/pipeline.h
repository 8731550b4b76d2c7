// The part of a run that every front end shares: from the options and the
// problem to the fits ready to run, and running them. fit() is these two
// steps with the callbacks; the console program adds its history, plot
// trace, signal handlers and writers around them.
#pragma once

#include <iosfwd>
#include <vector>

#include "api/fit_plan.h"
#include "api/loaded_input.h"
#include "api/problem_fits.h"
#include "fit/monitor.h"
#include "identify/options.h"

namespace identify {

// The plan of valid `options` for `choice`: the threads resolved (0: the
// machine's cores), profiles wanted for a flag or names.
FitPlan plan_of(const FitOptions& options, RunChoice choice);

struct PreparedRun {
  FitPlan plan;
  std::vector<ProblemFit> fits;
  int threads = 1;  // fit_threads
};

// The plan of `options` (valid) for the problem of `in`: the input's
// defaults, the density rule, the threads worked out once; the profile
// names checked; the fits of the problem with their models (a problem
// file: the whole problem or, separately, each experiment; the legacy
// files: one fit with their descent rules). Throws OptionsError with the
// console program's words.
PreparedRun prepare_run(const LoadedInput& in, const FitOptions& options);

// prepare_run, with the legacy files' problem and descent moved into their
// fit rather than copied (their matrix may have millions of entries):
// in.loaded.problem and in.descent are left empty then.
PreparedRun prepare_run_moving(LoadedInput& in, const FitOptions& options);

// The monitor settings of `options` for `in` (the legacy files' tolerance),
// stopping on `stop`; no history, trace or hook.
MonitorSettings monitor_settings(const LoadedInput& in,
                                 const FitOptions& options,
                                 const std::atomic<int>* stop);

// Refuses fits too large for the memory (InputError, a problem file only),
// then runs them (run_fits).
void run_prepared(const LoadedInput& in, PreparedRun& run,
                  const MonitorSettings& settings, bool keep_trace,
                  std::ostream& out, std::ostream& err);

}  // namespace identify
