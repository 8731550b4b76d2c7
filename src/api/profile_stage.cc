// Profiles at the fit's result. The threshold is the likelihood ratio's when
// the measurements carry their own σ (or σ is estimated), the profile-t's
// with unit σ; its n is the counted measurements and its p the estimated
// parameters as the residual statistics count them: a parameter whose
// estimate rests on a bound counts as fixed, everywhere in the report. The
// first step of each profile is a quarter of the Wald standard error in the
// fitting coordinate (the standard error in the parameter's units divided by
// dθ/dx), and the Wald interval is shown beside the profile interval in the
// report.
#include "api/profile_stage.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <ostream>

#include "fit/fit_setup.h"
#include "fit/fit_statistics.h"
#include "fit/multistart/worker_pool.h"
#include "fit/objective.h"
#include "fit/profile/method_profile_runner.h"
#include "fit/profile/profile_threshold.h"
#include "fit/wording.h"
#include "model/model_kind.h"
#include "output/result_tables.h"
#include "output/search_report.h"

namespace identify {

namespace {

constexpr std::size_t kNamesListed = 8;

bool errors_known(const FitProblem& problem, const Objective& objective) {
  if (objective.noise_is_estimated() || !objective.is_sum_of_squares()) {
    return true;
  }
  for (const Experiment& e : problem.experiments) {
    for (const Measurement& m : e.measurements) {
      if (!m.sigma.is_constant() || m.sigma.constant_value() != 1.0) {
        return true;
      }
    }
  }
  return false;
}

// The free coordinates to profile: the named ones, or all.
std::vector<int> profiled(const FitPlan& plan, const FitProblem& problem,
                          const std::vector<int>& free) {
  std::vector<int> js;
  for (std::size_t j = 0; j < free.size(); ++j) {
    const std::string& name = problem.parameters[free[j]].name;
    if (plan.profile_names.empty() ||
        std::find(plan.profile_names.begin(), plan.profile_names.end(),
                  name) != plan.profile_names.end()) {
      js.push_back(static_cast<int>(j));
    }
  }
  return js;
}

// The standard error in the fitting coordinate of a parameter at value v.
double coordinate_error(const ParameterEstimate& e, Scale scale, double v) {
  if (!e.determined) return std::nan("");
  const double per = unscaled_per_scaled(scale, to_scaled(scale, v));
  return e.standard_error / per;
}

int signal_of(const MonitorSettings& settings) {
  return settings.interrupt == nullptr ? 0 : settings.interrupt->load();
}

// Why there are no profiles at all, or "" when they can begin. A signal
// that came after the fit ended does not stop them before they begin: each
// side then ends at once as interrupted, so that the outputs say so.
std::string no_profiles_reason(const Summary& summary,
                               const MonitorSettings& settings) {
  if (summary.termination == Termination::kInterrupted) {
    return "the fit was interrupted";
  }
  if (!std::isfinite(summary.norm)) {
    return "the fit did not end at a finite objective";
  }
  return "";
}

// What one pass of profiles found.
struct Pass {
  std::optional<ProfileThreshold> threshold;
  FitStatistics stats;
  std::vector<double> x;
  ProfileRun run;
};

Pass profile_pass(const FitPlan& plan, const FitProblem& problem, Model& model,
                  const FitSetup& setup, const std::vector<int>& js,
                  const SideShare& share) {
  Pass pass;
  Objective objective(problem, model, setup.free, setup.base);
  pass.x = objective.coordinates(setup.base);
  const double optimum = objective.evaluate(pass.x);
  pass.stats = compute_fit_statistics(problem, model, setup.base);
  pass.threshold = profile_threshold(
      optimum, errors_known(problem, objective),
      static_cast<std::int64_t>(problem.counted_measurement_count()),
      pass.stats.free_parameters);
  if (!pass.threshold) return pass;
  pass.threshold->likelihood = !objective.is_sum_of_squares();
  std::vector<ProfileTarget> targets;
  for (int j : js) {
    const int k = setup.free[j];
    const Parameter& p = problem.parameters[k];
    ProfileTarget t;
    t.j = j;
    t.scale = p.scale;
    t.lower = objective.lower(j);
    t.upper = objective.upper(j);
    t.first_step = first_profile_step(
        p.scale, pass.x[j],
        coordinate_error(pass.stats.parameters[k], p.scale, setup.base[k]));
    targets.push_back(t);
  }
  pass.run = run_profiles(
      targets, pass.x, optimum, pass.threshold->value, plan.threads,
      [&setup](int) { return std::make_unique<MethodProfileRunner>(setup); },
      setup.settings.interrupt, share);
  return pass;
}

ProfilesReport report_of(const FitProblem& problem, const FitSetup& setup,
                         const Pass& pass, int restarts) {
  ProfilesReport report;
  report.threshold = *pass.threshold;
  report.n = static_cast<std::int64_t>(problem.counted_measurement_count());
  report.p = pass.stats.free_parameters;
  report.restarts = restarts;
  for (const ParameterProfile& profile : pass.run.profiles) {
    const int k = setup.free[profile.j];
    const ParameterEstimate& e = pass.stats.parameters[k];
    ProfileRow row;
    row.name = problem.parameters[k].name;
    row.estimate = setup.base[k];
    row.lower_end = profile.lower.end;
    row.lower = profile.lower.value;
    row.upper_end = profile.upper.end;
    row.upper = profile.upper.value;
    row.wald_lower = e.determined ? e.lower95 : std::nan("");
    row.wald_upper = e.determined ? e.upper95 : std::nan("");
    row.on_lower_bound = e.status == ParameterStatus::kOnLowerBound;
    row.on_upper_bound = e.status == ParameterStatus::kOnUpperBound;
    // A side held by the bound ends on it exactly (not on its coordinate
    // mapped back).
    const Parameter& p = problem.parameters[k];
    if (held_by_bound(row, -1)) row.lower = p.lower;
    if (held_by_bound(row, 1)) row.upper = p.upper;
    if (!e.determined) {
      row.wald_note = row.on_lower_bound || row.on_upper_bound
                          ? status_word(pass.stats, k)
                          : "not determined by the data";
    }
    report.rows.push_back(row);
  }
  return report;
}

// The fit from a lower point a profile met, by the profile method to its
// end (no --max-iter: the run goes on by its own decision), quietly, with
// the run's interrupt. The wall time adds to the first fit's.
Summary restart_fit(const FitSetup& setup, const FitTask& task, Model& model,
                    std::span<const double> x, double seconds_before) {
  MonitorSettings settings = setup.settings;
  settings.max_iter = 0;
  std::ostream silent(nullptr);
  Monitor monitor(settings, silent, setup.base.size());
  const std::atomic<int>* previous = model.stop_flag();
  model.set_stop_flag(settings.interrupt);
  const auto started = std::chrono::steady_clock::now();
  Summary summary = fit_from(setup.method, task.problem, model, task.descent,
                             theta_at(setup, x), monitor);
  model.set_stop_flag(previous);
  const std::chrono::duration<double> seconds =
      std::chrono::steady_clock::now() - started;
  summary.seconds = seconds_before + seconds.count();
  return summary;
}

void print_profiles(const ProfilesReport& report, std::ostream& out) {
  for (const ProfileRow& row : report.rows) {
    out << "profile of " << row.name << ": 95% interval "
        << profile_side_text(row, -1) << " .. " << profile_side_text(row, 1)
        << '\n';
  }
  out << '\n';
}

void keep_results(const FitProblem& problem, const FitSetup& setup, Pass& pass,
                  int restarts, SearchResults& results) {
  results.profiles = report_of(problem, setup, pass, restarts);
  results.curves = std::move(pass.run.profiles);
  for (int k : setup.free) {
    results.names.push_back(problem.parameters[k].name);
    results.scales.push_back(problem.parameters[k].scale);
  }
}

std::string side_name(const FitProblem& problem, const FitSetup& setup,
                      const std::vector<int>& js, int task) {
  return problem.parameters[setup.free[js[task / 2]]].name;
}

// The sides of the first pass: a shard's share of them, or at the merge
// the sides the shards walked.
SideShare first_share(const FitPlan& plan, const FitProblem& problem,
                      const FitSetup& setup, const std::vector<int>& js) {
  SideShare share;
  if (plan.shard.splits_sides) {
    share.index = static_cast<int>(plan.shard.index);
    share.count = static_cast<int>(plan.shard.count);
  }
  if (plan.known_sides == nullptr) return share;
  share.known = [&plan, &problem, &setup,
                 &js](int task) -> std::optional<ProfileSide> {
    const std::string name = side_name(problem, setup, js, task);
    const int direction = task % 2 == 0 ? -1 : 1;
    for (const NamedSide& s : *plan.known_sides) {
      if (s.name == name && s.direction == direction) return s.side;
    }
    return std::nullopt;
  };
  return share;
}

// A shard's sides, for the merge to take.
void keep_shard_sides(const FitPlan& plan, const FitProblem& problem,
                      const FitSetup& setup, const std::vector<int>& js,
                      const Pass& pass, SearchResults& results) {
  for (std::size_t q = 0; q < pass.run.profiles.size(); ++q) {
    for (int s = 0; s < 2; ++s) {
      const int task = static_cast<int>(2 * q) + s;
      if (task % plan.shard.count != plan.shard.index) continue;
      const ParameterProfile& p = pass.run.profiles[q];
      results.shard_sides.push_back({side_name(problem, setup, js, task),
                                     s == 0 ? -1 : 1,
                                     s == 0 ? p.lower : p.upper});
    }
  }
}

}  // namespace

std::vector<std::string> profiled_names(const FitPlan& plan,
                                        const FitProblem& problem) {
  const std::vector<int> free =
      fitted_parameters(profile_method(plan.choice), problem);
  std::vector<std::string> names;
  for (int j : profiled(plan, problem, free)) {
    names.push_back(problem.parameters[free[j]].name);
  }
  return names;
}

Method profile_method(RunChoice choice) {
  return choice.method == Method::kLbfgsb ? Method::kLbfgsb : Method::kLm;
}

std::string check_profile_names(const FitPlan& plan,
                                const FitProblem& problem) {
  const RunChoice choice = plan.choice;
  if (plan.profile_names.empty()) return "";
  const std::vector<int> free =
      fitted_parameters(profile_method(choice), problem);
  // At most kNamesListed names in the message, as for data tables.
  std::string list;
  for (std::size_t q = 0; q < free.size() && q < kNamesListed; ++q) {
    list += (q == 0 ? "" : ", ") + problem.parameters[free[q]].name;
  }
  if (free.size() > kNamesListed) {
    list += ", ... " + std::to_string(free.size()) + " in all";
  }
  for (const std::string& name : plan.profile_names) {
    const bool known = std::any_of(free.begin(), free.end(), [&](int k) {
      return problem.parameters[k].name == name;
    });
    if (!known) {
      return "--profile: expected a fitted parameter (" + list + "), found \"" +
             name + "\"";
    }
  }
  return "";
}

void profile_result(const FitPlan& plan, const FitTask& task, Model& model,
                    const MonitorSettings& settings, Summary& summary,
                    SearchResults& results, std::ostream& out,
                    std::ostream& err) {
  const RunChoice choice = plan.choice;
  const FitProblem& problem = task.problem;
  FitSetup setup = worker_setup(choice, profile_method(choice), task, settings);
  const std::vector<int> js = profiled(plan, problem, setup.free);
  for (int restarts = 0;; ++restarts) {
    setup.base = summary.theta;
    const std::string none = no_profiles_reason(summary, settings);
    if (!none.empty()) {
      err << "identify: --profile: no profiles: " << none << std::endl;
      return;
    }
    Pass pass = profile_pass(
        plan, problem, model, setup, js,
        restarts == 0 ? first_share(plan, problem, setup, js) : SideShare{});
    if (!pass.threshold) {
      err << "identify: --profile: no profiles: with unit sigma the "
             "threshold needs more measurements than fitted parameters"
          << std::endl;
      return;
    }
    if (plan.shard.splits_sides) {
      keep_shard_sides(plan, problem, setup, js, pass, results);
      return;
    }
    const std::optional<LowerPoint>& lower = pass.run.below_optimum;
    const int signal = signal_of(settings);
    if (!lower || restarts == kProfileRestarts || signal != 0) {
      keep_results(problem, setup, pass, restarts, results);
      if (!settings.quiet) print_profiles(*results.profiles, out);
      if (signal != 0) {
        err << "identify: --profile: interrupted by signal " << signal
            << ": the sides not finished are marked interrupted" << std::endl;
      }
      return;
    }
    err << "identify: profile of "
        << problem.parameters[setup.free[lower->j]].name
        << " found a lower objective " << number_text(lower->objective)
        << " than the fit's result " << number_text(pass.threshold->optimum)
        << ": the fit restarts there" << std::endl;
    summary = restart_fit(setup, task, model, lower->x, summary.seconds);
  }
}

}  // namespace identify
