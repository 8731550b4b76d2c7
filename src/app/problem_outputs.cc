// The outputs of a problem file run, from the fits' results. Statistics,
// model values and sigmas are computed once per fit and shared by the
// tables, the console and the report; the trajectory and the plot take the
// model's states of each experiment on a fine grid of times from 0 to its
// last measurement, and its observables from those states.
#include "app/problem_outputs.h"

#include <algorithm>
#include <limits>
#include <ostream>

#include "app/file_names.h"
#include "api/fit_results.h"
#include "api/search_outputs.h"
#include "fit/fit_statistics.h"
#include "fit/objective.h"
#include "output/output_file.h"
#include "output/plot_file.h"
#include "output/problem_report.h"
#include "output/result_tables.h"
#include "output/trajectory_file.h"

namespace identify {

namespace {

// Points of the fine grid of a trajectory, ends included.
constexpr int kTrajectoryPoints = 1001;

// The model of one experiment of a fit on the fine grid.
ExperimentTrajectory trajectory_of(ProblemFit& fit, int experiment) {
  const Experiment& e = fit.problem.experiments[experiment];
  double end = 0.0;
  for (const Measurement& m : e.measurements) end = std::max(end, m.time);
  if (end == 0.0) end = std::max(fit.problem.end_time(), 1.0);
  ExperimentTrajectory t;
  t.id = e.id;
  for (int k = 0; k < kTrajectoryPoints; ++k) {
    t.times.push_back(
        k == kTrajectoryPoints - 1 ? end : end * k / (kTrajectoryPoints - 1));
  }
  const std::vector<double>& theta = fit.summary.theta;
  fit.model->states(theta, experiment, t.times, t.states);
  t.observables = Table(e.observables.size(), t.times.size());
  std::vector<double> scratch;
  for (std::size_t o = 0; o < e.observables.size(); ++o) {
    const ObservableTerms& terms = e.observables[o];
    const double offset = terms.offset.value(theta, scratch);
    for (std::size_t q = 0; q < t.times.size(); ++q) {
      t.observables[o][q] = offset;
    }
    for (const auto& [state, c] : terms.coefficients) {
      const double coefficient = c.value(theta, scratch);
      for (std::size_t q = 0; q < t.times.size(); ++q) {
        t.observables[o][q] += coefficient * t.states[state][q];
      }
    }
  }
  return t;
}

std::vector<ExperimentTrajectory> trajectories(std::vector<ProblemFit>& fits) {
  std::vector<ExperimentTrajectory> all;
  for (ProblemFit& fit : fits) {
    for (std::size_t e = 0; e < fit.problem.experiments.size(); ++e) {
      all.push_back(trajectory_of(fit, static_cast<int>(e)));
    }
  }
  return all;
}

// One panel per observable and experiment with measurements, the weighted
// residuals, and the norm traces of the fits one after another.
PlotData plot_data(const Options& opt, const std::vector<ProblemFit>& fits,
                   const ResultViews& results,
                   const std::vector<ExperimentTrajectory>& curves) {
  PlotData data;
  data.log_y = opt.plot_log_y;
  data.residuals = true;
  data.likelihood = !fits.empty() && objective_is_likelihood(fits[0].problem);
  std::size_t curve = 0;
  for (std::size_t f = 0; f < fits.size(); ++f) {
    const FitProblem& problem = fits[f].problem;
    const FitResultView& view = results.views[f];
    std::size_t m = 0;
    for (const Experiment& e : problem.experiments) {
      const ExperimentTrajectory& t = curves[curve++];
      const std::size_t first = m;
      for (std::size_t o = 0; o < problem.observables.size(); ++o) {
        PlotData::Series s;
        s.title = problem.observables[o] + ", " + e.id;
        s.y_label = problem.observables[o];
        s.line_time = t.times;
        s.line_value.assign(t.observables[o],
                            t.observables[o] + t.times.size());
        for (const Measurement& ms : e.measurements) {
          if (ms.observable != static_cast<int>(o)) continue;
          s.sample_time.push_back(ms.time);
          s.sample_value.push_back(ms.value);
        }
        if (!s.sample_time.empty()) data.series.push_back(std::move(s));
      }
      for (m = first; m < first + e.measurements.size(); ++m) {
        data.residual_time.push_back(e.measurements[m - first].time);
        data.residual_value.push_back(view.weighted[m]);
      }
    }
    std::vector<std::int64_t> iterations;
    std::vector<double> norms;
    fits[f].trace.points(iterations, norms);
    if (f > 0 && !norms.empty()) {
      data.iterations.push_back(0);
      data.norms.push_back(std::numeric_limits<double>::quiet_NaN());
    }
    data.iterations.insert(data.iterations.end(), iterations.begin(),
                           iterations.end());
    data.norms.insert(data.norms.end(), norms.begin(), norms.end());
  }
  for (const ProblemFit& fit : fits) {
    add_search_panels(fit.search, fit.experiment, data);
  }
  return data;
}

}  // namespace

bool write_problem_outputs(const Options& opt, const ProblemRunInfo& info,
                           std::vector<ProblemFit>& fits, WritingPhase& writing,
                           std::ostream& out, std::ostream& err) {
  bool ok = true;
  const auto write_by = [&](const std::string& path, const auto& writer) {
    if (!writing.admit(path)) return;
    clear_stale_temps(path, err);
    const std::string error = writer(path);
    if (error.empty()) return;
    err << "identify: cannot write " << path << ": " << error << std::endl;
    ok = false;
  };
  const auto write = [&](const std::string& path, const std::string& text) {
    write_by(path, [&](const std::string& p) {
      return write_output_file(p, text);
    });
  };
  const ResultViews results = results_of(fits);
  write(opt.parameters, format_parameter_table(results.views));
  write_by(opt.fit, [&](const std::string& p) {
    return write_fit_table(p, results.views);
  });
  print_parameter_table(out, results.views);
  if (!opt.report.empty()) {
    const std::string text = report_text(opt.problem, info, fits, results);
    if (opt.report == "-") {
      if (writing.admit("the report on standard error") &&
          !(err << text << std::flush)) {
        ok = false;
      }
    } else {
      write(opt.report, text);
    }
  }
  if (!opt.profiles.empty()) {
    std::vector<FitProfiles> profiled;
    for (const ProblemFit& fit : fits) {
      if (fit.search.profiles)
        profiled.push_back({fit.experiment, &fit.search});
    }
    if (!profiled.empty()) write(opt.profiles, profile_table_text(profiled));
  }
  if (opt.trajectory.empty() && opt.plot.empty()) return ok;
  const std::vector<ExperimentTrajectory> curves = trajectories(fits);
  if (!opt.trajectory.empty()) {
    write(opt.trajectory,
          format_problem_trajectory(fits[0].problem.states,
                                    fits[0].problem.observables, curves));
  }
  if (!opt.plot.empty() && writing.admit(opt.plot)) {
    clear_stale_temps(opt.plot, err);
    const std::string error =
        write_plot_file(opt.plot, plot_data(opt, fits, results, curves));
    if (!error.empty()) {
      err << "identify: cannot write " << opt.plot << ": " << error
          << std::endl;
      ok = false;
    }
  }
  return ok;
}

}  // namespace identify
