// From the options and the problem to fits that are ready, and running
// them: the defaults of the input, the density rule, the worker threads
// and "are profiles wanted" are worked out here once for every front end.
#include "api/pipeline.h"

#include <utility>

#include "api/profile_stage.h"
#include "fit/multistart/worker_pool.h"
#include "identify/errors.h"
#include "model/model_kind.h"

namespace identify {

namespace {

RunChoice choice_of(const FitOptions& o, const LoadedInput& in) {
  RunChoice c = input_defaults(in.legacy);
  // validate() has checked the names.
  if (o.model) c.model = *model_named(*o.model);
  if (o.method) c.method = *method_named(*o.method);
  if (o.starts) c.starts = *o.starts;
  const std::string density =
      density_rule(in.loaded.problem, o.method.has_value(), c);
  if (!density.empty()) throw OptionsError(density);
  return c;
}

// The fits of the problem, each with its model; the legacy files' problem
// and descent moved from `movable` when given (it is `in`).
std::vector<ProblemFit> fits_of(const LoadedInput& in, const FitPlan& plan,
                                LoadedInput* movable) {
  try {
    if (!in.legacy) {
      return plan_fits(in.loaded.problem, plan.choice.model, plan.separately);
    }
    std::vector<ProblemFit> fits(1);
    if (movable != nullptr) {
      fits[0].problem = std::move(movable->loaded.problem);
      fits[0].descent = std::move(movable->descent);
    } else {
      fits[0].problem = in.loaded.problem;
      fits[0].descent = in.descent;
    }
    for (int k = 0; k < fits[0].problem.parameter_count(); ++k) {
      fits[0].parameters.push_back(k);
    }
    fits[0].model = make_model(plan.choice.model, fits[0].problem);
    return fits;
  } catch (const ProblemError& e) {
    throw OptionsError(std::string("--model ") + model_name(plan.choice.model) +
                       ": " + e.what());
  }
}

PreparedRun prepare(const LoadedInput& in, const FitOptions& options,
                    LoadedInput* movable) {
  PreparedRun run;
  run.plan = plan_of(options, choice_of(options, in));
  const std::string bad_names =
      check_profile_names(run.plan, in.loaded.problem);
  if (!bad_names.empty()) throw OptionsError(bad_names);
  run.fits = fits_of(in, run.plan, movable);
  run.threads = fit_threads(run.plan, run.fits.size());
  return run;
}

}  // namespace

FitPlan plan_of(const FitOptions& o, RunChoice choice) {
  FitPlan plan;
  plan.choice = choice;
  plan.seed = static_cast<std::uint64_t>(o.seed);
  plan.threads =
      static_cast<int>(o.threads > 0 ? o.threads : default_thread_count());
  plan.verbose = o.verbose;
  plan.profile = o.profile || !o.profile_names.empty();
  plan.profile_names = o.profile_names;
  plan.separately = o.separately;
  plan.bootstrap = o.bootstrap;
  return plan;
}

PreparedRun prepare_run(const LoadedInput& in, const FitOptions& options) {
  return prepare(in, options, nullptr);
}

PreparedRun prepare_run_moving(LoadedInput& in, const FitOptions& options) {
  return prepare(in, options, in.legacy ? &in : nullptr);
}

MonitorSettings monitor_settings(const LoadedInput& in,
                                 const FitOptions& options,
                                 const std::atomic<int>* stop) {
  MonitorSettings settings;
  settings.epsilon = in.legacy ? in.epsilon : 0.0;
  settings.max_iter = options.max_iter;
  settings.patience = options.patience;
  settings.min_improvement = options.min_improvement;
  settings.interrupt = stop;
  if (!in.legacy) settings.unknowns = "the parameters";
  return settings;
}

void run_prepared(const LoadedInput& in, PreparedRun& run,
                  const MonitorSettings& settings, bool keep_trace,
                  std::ostream& out, std::ostream& err) {
  if (!in.legacy) {
    check_fit_memory(in.name, run.plan.choice.method, run.fits, run.threads);
  }
  run_fits(run.fits, run.plan, settings, keep_trace, run.threads, out, err);
}

}  // namespace identify
