// Assembles the optional fit outputs from the run's records: statistics for
// the report, the model solution at the TimeGrid nodes for the trajectory
// file and the plot, the measured samples grouped by component, and the
// residual-norm trace.
#include "app/fit_outputs.h"

#include <algorithm>
#include <ostream>

#include "app/file_names.h"
#include "fit/fit_statistics.h"
#include "fit/run_monitor.h"
#include "output/fit_report.h"
#include "output/output_file.h"
#include "output/plot_file.h"
#include "output/trajectory_file.h"

namespace identify {

namespace {

// The stop line of the report: the verdict, or for a run that reached its
// tolerance the numbers that show it.
std::string stop_text(const IdentifyResult& result, double epsilon) {
  if (!result.verdict.empty()) return result.verdict;
  return converged_text(result, epsilon);
}

PlotData plot_data(const ObservationRecord& obs, std::vector<double> times,
                   Table trajectory, const NormTrace& trace) {
  PlotData data;
  data.times = std::move(times);
  data.trajectory = std::move(trajectory);
  std::vector<int> components(obs.is_data_exist.begin(),
                              obs.is_data_exist.end());
  std::sort(components.begin(), components.end());
  components.erase(std::unique(components.begin(), components.end()),
                   components.end());
  for (int c : components) {
    PlotData::Panel panel;
    panel.component = c;
    for (int k = 0; k < obs.data_num; ++k) {
      if (obs.is_data_exist[k] != c) continue;
      for (int s = 1; s < obs.points(); ++s) {
        panel.sample_time.push_back(obs.data_time[k][s]);
        panel.sample_value.push_back(obs.add_data[k][s]);
      }
    }
    data.panels.push_back(std::move(panel));
  }
  trace.points(data.iterations, data.norms);
  return data;
}

}  // namespace

bool write_fit_outputs(const Options& opt, const ProblemRecord& problem,
                       const ObservationRecord& obs, MatrixModel& model,
                       const Matrix& A, const IdentifyResult& result,
                       const NormTrace& trace, double seconds,
                       std::ostream& err) {
  bool ok = true;
  const auto check = [&](const std::string& path, const std::string& error) {
    if (error.empty()) return;
    err << "identify: cannot write " << path << ": " << error << std::endl;
    ok = false;
  };
  const auto prepare = [&](const std::string& path) {
    if (!path.empty() && path != "-") clear_stale_temps(path, err);
  };
  if (!opt.report.empty()) {
    const FitStatistics stats = compute_fit_statistics(problem, obs, model, A);
    const RunSummary run{opt.method, opt.model,
                         stop_text(result, problem.epsilon), result.iterations,
                         seconds};
    const std::string text = format_fit_report(stats, run, problem.dim);
    if (opt.report == "-") {
      // Standard error that fails has no room left for a message either.
      if (!(err << text << std::flush)) ok = false;
    } else {
      prepare(opt.report);
      check(opt.report, write_output_file(opt.report, text));
    }
  }
  if (opt.trajectory.empty() && opt.plot.empty()) return ok;
  std::vector<double> times = grid_times(problem.T);
  Trajectory X;
  model.trajectory(A, X);
  if (!opt.trajectory.empty()) {
    prepare(opt.trajectory);
    check(opt.trajectory, write_trajectory_file(opt.trajectory, times, X));
  }
  if (!opt.plot.empty()) {
    prepare(opt.plot);
    check(opt.plot, write_plot_file(opt.plot, plot_data(obs, std::move(times),
                                                        std::move(X), trace)));
  }
  return ok;
}

}  // namespace identify
