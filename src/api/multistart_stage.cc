// Multi-start: the usual start and N − 1 Latin hypercube samples in the
// box of the fitted parameters (start_sampler.h), fitted on the worker
// pool; the end points grouped into distinct optima (optima.h), two end
// points being one optimum when their objectives agree to 1e-6 relative or
// their points lie within 1% of each other, and the objective halfway
// between them, in the parameters' values or in their fitting coordinates,
// is as low as at the higher end (a valley, however flat, not a ridge
// between two wells);
// and the result's start fitted again with the run's own monitor, which
// gives the same end point (every fit depends on its start alone) with the
// run's history, trace and verdict.
#include "api/multistart_stage.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ostream>

#include "fit/fit_setup.h"
#include "fit/multistart/method_start_runner.h"
#include "fit/multistart/multistart.h"
#include "fit/multistart/worker_pool.h"
#include "fit/objective.h"
#include "fit/wording.h"
#include "model/model_kind.h"

namespace identify {

namespace {

// Objectives of an exact fit end at rounding level, anywhere below this
// fraction of the data's own sum of squares: they count as equal.
constexpr double kExactFitFloor = 1e-14;

// 0 for −2 ln L, which is no sum of squares and may be negative.
double data_floor(const FitProblem& problem) {
  if (objective_is_likelihood(problem)) return 0.0;
  std::vector<double> scratch;
  const std::vector<double> theta = problem.values();
  double sum = 0.0;
  for (const Experiment& e : problem.experiments) {
    for (const Measurement& m : e.measurements) {
      const double v = m.value / m.sigma.value(theta, scratch);
      if (std::isfinite(v)) sum = v * v + sum;
    }
  }
  return kExactFitFloor * sum;
}

// End points whose coordinates differ by at most this, relative to their
// size (at least 1), are near: a model whose derivatives are not exact (the
// grid model) leaves its fits this close to each other but with objectives
// further apart than kSameObjective.
constexpr double kNearPoints = 1e-2;

bool near_points(const StartOutcome& a, const StartOutcome& b) {
  for (std::size_t j = 0; j < a.x.size(); ++j) {
    const double size = std::max({1.0, std::abs(a.x[j]), std::abs(b.x[j])});
    if (!(std::abs(a.x[j] - b.x[j]) <= kNearPoints * size)) return false;
  }
  return true;
}

// Whether the objective f halfway from a to b, in the parameters' values or
// in their coordinates, is at most the higher of the two ends: no ridge
// between them.
bool one_valley(Objective& f, const FitSetup& setup, const StartOutcome& a,
                const StartOutcome& b, double floor) {
  const double high = std::max(a.objective, b.objective);
  const double level = high + kSameObjective * std::abs(high) + floor;
  std::vector<double> mid(a.theta.size());
  for (std::size_t k = 0; k < mid.size(); ++k) {
    mid[k] = 0.5 * a.theta[k] + 0.5 * b.theta[k];
  }
  if (f.evaluate_theta(mid) <= level) return true;
  std::vector<double> x(a.x.size());
  for (std::size_t j = 0; j < x.size(); ++j) x[j] = 0.5 * a.x[j] + 0.5 * b.x[j];
  const std::vector<double> theta = theta_at(setup, x);
  for (std::size_t j = 0; j < x.size(); ++j)
    mid[setup.free[j]] = theta[setup.free[j]];
  return f.evaluate_theta(mid) <= level;
}

// One optimum: objectives that agree or points that are near, and no ridge
// between them.
bool same_optimum(Objective& f, const FitSetup& setup, const StartOutcome& a,
                  const StartOutcome& b, double floor) {
  if (a.x == b.x) return true;
  return (objectives_agree(a.objective, b.objective, kSameObjective, floor) ||
          near_points(a, b)) &&
         one_valley(f, setup, a, b, floor);
}

void print_start_line(std::ostream& out, const StartOutcome& o,
                      std::int64_t count) {
  out << "start " << o.start + 1 << " of " << count << ": ";
  if (o.skipped) {
    out << "not run (interrupted)";
  } else if (o.redraws == kMaxStartDraws) {
    out << "no start with a finite objective in " << kMaxStartDraws << " draws";
  } else if (o.capped) {
    out << "objective " << number_text(o.objective) << " after "
        << count_text(o.iterations, "iteration", "iterations")
        << " (not converged: not counted as an optimum)";
  } else if (!o.finished) {
    out << "no finite objective at its end"
        << (o.ending.empty() ? "" : " (" + o.ending + ")");
  } else {
    out << "objective " << number_text(o.objective) << " after "
        << count_text(o.iterations, "iteration", "iterations");
    if (!o.ending.empty()) out << " (" << o.ending << ")";
  }
  if (o.redraws > 0 && o.redraws < kMaxStartDraws) {
    out << ", " << count_text(o.redraws, "draw", "draws") << " rejected first";
  }
  out << '\n';
}

void print_optima_line(std::ostream& out, const std::vector<Optimum>& optima,
                       std::int64_t count) {
  if (optima.empty()) {
    out << "no start ended at a finite objective\n";
    return;
  }
  const Optimum& best = optima.front();
  out << count_text(static_cast<std::int64_t>(optima.size()),
                    "distinct optimum", "distinct optima")
      << "; the result: objective " << number_text(best.objective)
      << ", reached from " << best.starts.size() << " of " << count
      << " starts, the first start " << best.starts.front() + 1 << '\n';
}

// The summary of a fit cut short by an interrupt: the best end point so
// far as the result, with the run's verdict of an interrupt.
Summary interrupted_result(const RunChoice& choice, const StartOutcome& best,
                           const MonitorSettings& settings, std::size_t n,
                           bool likelihood) {
  MonitorSettings quiet = settings;
  quiet.quiet = true;
  quiet.history = nullptr;
  std::ostream silent(nullptr);
  Monitor monitor(quiet, silent, n);
  monitor.set_likelihood(likelihood);
  const double shown = likelihood ? best.objective : std::sqrt(best.objective);
  monitor.set_start(best.theta, shown);
  monitor.observe(shown, best.theta);
  monitor.end_iteration(shown);
  monitor.stop(Termination::kInterrupted);
  Summary s = monitor.summary(Termination::kInterrupted, "");
  s.method = method_name(choice.method);
  return s;
}

// Where the starts of each fitted parameter are drawn.
std::vector<SampleRange> start_ranges(const FitProblem& problem,
                                      const FitSetup& setup) {
  std::vector<SampleRange> ranges;
  for (int k : setup.free) {
    ranges.push_back(sample_range(problem.parameters[k], setup.base[k]));
  }
  return ranges;
}

// The warnings on a result that drawn starts rarely come near.
std::vector<std::string> small_result_warnings(const FitProblem& problem,
                                               const FitSetup& setup,
                                               const Summary& summary) {
  std::vector<std::string> warnings;
  if (summary.termination == Termination::kInterrupted) return warnings;
  const std::vector<SampleRange> ranges = start_ranges(problem, setup);
  for (std::size_t j = 0; j < setup.free.size(); ++j) {
    const int k = setup.free[j];
    std::string w = small_result_warning(problem.parameters[k].name, ranges[j],
                                         summary.theta[k]);
    if (!w.empty()) warnings.push_back(std::move(w));
  }
  return warnings;
}

// The starts on the worker pool, each line printed in start order unless
// `quiet`.
std::vector<StartOutcome> run_all_starts(const FitPlan& plan, RunChoice choice,
                                         const FitProblem& problem,
                                         const FitSetup& setup,
                                         std::span<const double> first,
                                         bool quiet, std::ostream& out) {
  const std::vector<SampleRange> ranges = start_ranges(problem, setup);
  MultiStartSettings ms;
  ms.starts = static_cast<int>(choice.starts);
  ms.seed = plan.seed;
  ms.threads = plan.threads;
  ms.interrupt = setup.settings.interrupt;
  if (plan.shard.splits_starts) {
    ms.shard_index = static_cast<int>(plan.shard.index);
    ms.shard_count = static_cast<int>(plan.shard.count);
  }
  ms.known = plan.known_starts;
  const bool verbose = plan.verbose;
  return run_starts(
      ms, first, ranges,
      [&](int) { return std::make_unique<MethodStartRunner>(setup, verbose); },
      [&](const StartOutcome& o) {
        if (quiet) return;
        out << o.log;
        print_start_line(out, o, choice.starts);
        out.flush();
      });
}

// The fit of the result: its start fitted again on the run's model with
// the run's settings, quietly; or after an interrupt the best end point.
Summary result_fit(RunChoice choice, const FitTask& task, Model& model,
                   const MonitorSettings& settings, const FitSetup& setup,
                   const StartOutcome& chosen, bool have_optimum,
                   std::ostream& out) {
  const std::size_t n = task.problem.parameters.size();
  const bool interrupted =
      settings.interrupt != nullptr && settings.interrupt->load() != 0;
  if (interrupted && have_optimum) {
    return interrupted_result(choice, chosen, settings, n,
                              objective_is_likelihood(task.problem));
  }
  MonitorSettings quiet = settings;
  quiet.quiet = true;
  Monitor monitor(quiet, out, n);
  const std::atomic<int>* previous = model.stop_flag();
  model.set_stop_flag(settings.interrupt);
  Summary summary = fit_from(choice.method, task.problem, model, task.descent,
                             theta_at(setup, chosen.start_x), monitor);
  model.set_stop_flag(previous);
  return summary;
}

StartsReport starts_report(const FitPlan& plan, const FitProblem& problem,
                           const FitSetup& setup,
                           std::vector<StartOutcome> outcomes,
                           std::vector<Optimum> optima) {
  StartsReport report;
  report.seed = plan.seed;
  report.optima = std::move(optima);
  for (int k : setup.free) {
    report.names.push_back(problem.parameters[k].name);
    report.scales.push_back(problem.parameters[k].scale);
  }
  report.outcomes = std::move(outcomes);
  return report;
}

}  // namespace

Summary fit_with_starts(const FitPlan& plan, const FitTask& task, Model& model,
                        const MonitorSettings& settings, std::ostream& out,
                        SearchResults& results) {
  const RunChoice choice = plan.choice;
  if (choice.starts <= 1) {
    Monitor monitor(settings, out, task.problem.parameters.size());
    return solve(choice.method, task.problem, model, task.descent, monitor,
                 out);
  }
  const auto started = std::chrono::steady_clock::now();
  FitSetup setup = worker_setup(choice, choice.method, task, settings);
  setup.exact_fit_floor = data_floor(task.problem);
  Objective base(task.problem, model, setup.free, setup.base);
  std::vector<StartOutcome> outcomes =
      run_all_starts(plan, choice, task.problem, setup,
                     base.coordinates(setup.base), settings.quiet, out);
  const double floor = setup.exact_fit_floor;
  std::vector<Optimum> optima = distinct_optima(
      outcomes,
      [&](const StartOutcome& a, const StartOutcome& b) {
        return same_optimum(base, setup, a, b, floor);
      },
      floor);
  if (!settings.quiet) print_optima_line(out, optima, choice.starts);
  // Without an optimum the result is fitted again from the usual start,
  // whose point is known even when an interrupt skipped it.
  StartOutcome chosen =
      optima.empty() ? outcomes.front() : outcomes[optima.front().best_start];
  if (chosen.start_x.empty()) chosen.start_x = base.coordinates(setup.base);
  Summary summary = result_fit(choice, task, model, settings, setup, chosen,
                               !optima.empty(), out);
  const std::chrono::duration<double> seconds =
      std::chrono::steady_clock::now() - started;
  summary.seconds = seconds.count();
  print_iteration_count(out, summary.iterations);
  results.starts = starts_report(plan, task.problem, setup, std::move(outcomes),
                                 std::move(optima));
  results.warnings = small_result_warnings(task.problem, setup, summary);
  return summary;
}

}  // namespace identify
