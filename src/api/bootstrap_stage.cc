// The bootstrap of a fit: replicate r refits the problem resampled by the
// stream of (seed, r) from the estimate θ̂, and the percentile interval of
// a parameter is taken over the replicates that ended at a finite
// objective and were not interrupted (resample.h). Every replicate depends on (seed, r) and θ̂
// alone, so the threads that run them, and the machines when a run is
// split into shards, change no bit of them.
#include "api/bootstrap_stage.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <exception>
#include <ostream>
#include <thread>

#include "fit/bootstrap/resample.h"
#include "fit/library_logging.h"
#include "fit/method.h"
#include "fit/objective.h"
#include "fit/wording.h"
#include "model/model_kind.h"

namespace identify {

namespace {

constexpr double kBootstrapLevel = 0.95;

// What replicate `r` draws from: the items' names in its resample and its
// problem.
struct Resample {
  std::vector<std::string> items;
  FitProblem problem;
};

Resample resample_of(const FitProblem& problem, const std::vector<double>& y,
                     const std::vector<double>& sigmas, std::uint64_t seed,
                     std::int64_t r) {
  const std::vector<std::size_t> drawn = bootstrap_indices(
      seed, static_cast<std::uint64_t>(r), resample_items(problem));
  Resample s;
  if (resamples_experiments(problem)) {
    for (std::size_t e : drawn) s.items.push_back(problem.experiments[e].id);
    s.problem = experiment_resample(problem, drawn);
  } else {
    for (std::size_t m : drawn) s.items.push_back(std::to_string(m + 1));
    s.problem = residual_resample(problem, y, sigmas, drawn);
  }
  return s;
}

BootstrapReplicate fit_replicate(const FitPlan& plan, const FitTask& task,
                                 const MonitorSettings& quiet,
                                 const std::vector<double>& y,
                                 const std::vector<double>& sigmas,
                                 const std::vector<double>& estimate,
                                 std::int64_t r) {
  Resample s = resample_of(task.problem, y, sigmas, plan.seed, r);
  BootstrapReplicate b;
  b.replicate = r;
  b.resample = std::move(s.items);
  const std::unique_ptr<Model> model = make_model(plan.choice.model, s.problem);
  std::ostream silent(nullptr);
  Monitor monitor(quiet, silent, estimate.size());
  model->set_stop_flag(quiet.interrupt);
  const Summary fit = fit_from(plan.choice.method, s.problem, *model,
                               task.descent, estimate, monitor);
  b.objective = fit.likelihood ? fit.norm : fit.norm * fit.norm;
  b.status = termination_word(fit.termination);
  b.theta = fit.theta;
  return b;
}

// The replicates of this run: all, or those of plan.shard.
std::vector<std::int64_t> replicates_of(const FitPlan& plan) {
  std::vector<std::int64_t> mine;
  for (std::int64_t r = 1; r <= plan.bootstrap; ++r) {
    if (!plan.shard.splits_replicates ||
        (r - 1) % plan.shard.count == plan.shard.index) {
      mine.push_back(r);
    }
  }
  return mine;
}

// The replicate `r` that a shard fitted, when merging; else null.
const BootstrapReplicate* known_replicate(const FitPlan& plan, std::int64_t r) {
  if (plan.known_replicates == nullptr) return nullptr;
  const std::vector<BootstrapReplicate>& known = *plan.known_replicates;
  const auto at =
      std::lower_bound(known.begin(), known.end(), r,
                       [](const BootstrapReplicate& b, std::int64_t v) {
                         return b.replicate < v;
                       });
  return at != known.end() && at->replicate == r ? &*at : nullptr;
}

void set_intervals(const FitPlan& plan, const FitProblem& problem,
                   BootstrapReport& report) {
  const std::size_t n = problem.parameters.size();
  report.lower.assign(n, std::nan(""));
  report.upper.assign(n, std::nan(""));
  for (int k : fitted_parameters(plan.choice.method, problem)) {
    std::vector<double> values;
    for (const BootstrapReplicate& r : report.replicates) {
      // A replicate that an interrupt cut short ended nowhere in particular.
      if (std::isfinite(r.objective) && r.status != "interrupted") {
        values.push_back(r.theta[k]);
      }
    }
    std::tie(report.lower[k], report.upper[k]) =
        percentile_interval(std::move(values), report.level);
  }
}

}  // namespace

const char* termination_word(Termination termination) {
  switch (termination) {
    case Termination::kToleranceReached:
    case Termination::kOptimumReached:
      return "converged";
    case Termination::kDiverged:
      return "diverged";
    case Termination::kStalled:
      return "stalled";
    case Termination::kNoProgress:
      return "no progress";
    case Termination::kIterationLimit:
      return "iteration limit";
    case Termination::kLibraryFailure:
      return "library failure";
    case Termination::kInterrupted:
      break;
  }
  return "interrupted";
}

void bootstrap_result(const FitPlan& plan, const FitTask& task, Model& model,
                      const MonitorSettings& settings, const Summary& estimate,
                      SearchResults& results, std::ostream& out) {
  if (plan.bootstrap <= 0 ||
      estimate.termination == Termination::kInterrupted ||
      !std::isfinite(estimate.norm)) {
    return;
  }
  const std::vector<double>& theta = estimate.theta;
  Objective at(task.problem, model, {}, theta);
  at.keep_columns();
  at.evaluate_theta(theta);
  const std::vector<double> y = at.evaluation().y;
  const std::vector<double> sigmas = at.sigmas();
  MonitorSettings quiet = settings;
  quiet.quiet = true;
  quiet.history = nullptr;
  quiet.trace = nullptr;
  quiet.on_iteration = nullptr;
  BootstrapReport report;
  report.seed = plan.seed;
  report.level = kBootstrapLevel;
  report.by_experiment = resamples_experiments(task.problem);
  const std::vector<std::int64_t> mine = replicates_of(plan);
  report.replicates.resize(mine.size());
  std::vector<std::exception_ptr> errors(mine.size());
  std::atomic<std::size_t> next{0};
  const auto work = [&] {
    for (std::size_t i; (i = next.fetch_add(1)) < mine.size();) {
      if (settings.interrupt != nullptr && settings.interrupt->load() != 0) {
        report.replicates[i] = {
            mine[i],
            {},
            std::nan(""),
            "not run",
            std::vector<double>(theta.size(), std::nan(""))};
        continue;
      }
      if (const BootstrapReplicate* known = known_replicate(plan, mine[i])) {
        report.replicates[i] = *known;
        continue;
      }
      try {
        report.replicates[i] =
            fit_replicate(plan, task, quiet, y, sigmas, theta, mine[i]);
      } catch (...) {
        errors[i] = std::current_exception();
      }
    }
  };
  silence_library_logging();
  std::vector<std::thread> helpers;
  const std::size_t count = std::min<std::size_t>(
      mine.size(), static_cast<std::size_t>(std::max(plan.threads, 1)));
  for (std::size_t t = 1; t < count; ++t) helpers.emplace_back(work);
  work();
  for (std::thread& t : helpers) t.join();
  for (const std::exception_ptr& e : errors) {
    if (e) std::rethrow_exception(e);
  }
  set_intervals(plan, task.problem, report);
  if (!settings.quiet) {
    const auto converged = std::count_if(
        report.replicates.begin(), report.replicates.end(),
        [](const BootstrapReplicate& r) { return r.status == "converged"; });
    out << "bootstrap: "
        << count_text(static_cast<std::int64_t>(mine.size()), "replicate",
                      "replicates")
        << (report.by_experiment ? " by experiment" : " by residual") << ", "
        << converged << " converged\n"
        << std::flush;
  }
  results.bootstrap = std::move(report);
}

}  // namespace identify
