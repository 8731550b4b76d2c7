// The profile-likelihood intervals of a run (--profile[=NAMES],
// --profiles FILE), after its fit.
#pragma once

#include <iosfwd>
#include <string>
#include <vector>

#include "api/fit_task.h"
#include "api/fit_plan.h"
#include "api/search_results.h"
#include "fit/monitor.h"
#include "fit/summary.h"
#include "model/model.h"

namespace identify {

// The method that re-fits the others along a profile: lbfgsb for a run of
// lbfgsb, lm otherwise (the descent is far too slow for it).
Method profile_method(RunChoice choice);

// The names of --profile=NAMES against the parameters that the profile
// method fits: "" or the message, `--profile: expected a fitted parameter
// (a11, a21, a22), found "ka"`.
std::string check_profile_names(const FitPlan& plan,
                                const FitProblem& problem);

// The names of the parameters that the profiles of `plan` profile, in
// order: the named ones, or every one the profile method fits.
std::vector<std::string> profiled_names(const FitPlan& plan,
                                        const FitProblem& problem);

// With --profile (or --profiles): the profiles of the named parameters
// of `task` (every fitted one if none is named) at the result θ of
// `summary`, each
// side on the worker threads, every re-fit on a model of its own; one line
// per profile on `out` unless settings.quiet. A profile that meets a lower
// objective than the optimum is said on `err`; the fit then restarts there
// (quietly, by the profile method, to its end whatever --max-iter says),
// `summary` becomes that fit's, and the
// profiles start again (at most kProfileRestarts times). A fit that did not
// end at a finite objective, or a threshold that cannot be set (unit errors
// and no degrees of freedom), gets one line on `err` and no profiles.
// `results` gets the report's data and the profile points. A shard of
// profile sides walks its share of the first pass's sides only, keeps them
// in results.shard_sides and neither reports nor restarts: the merge, given
// every side, does both (plan.known_sides).
void profile_result(const FitPlan& plan, const FitTask& task, Model& model,
                    const MonitorSettings& settings, Summary& summary,
                    SearchResults& results, std::ostream& out,
                    std::ostream& err);

inline constexpr int kProfileRestarts = 3;

}  // namespace identify
