// Assembles the optional fit outputs: statistics for the report, the model's
// states at the trajectory times for the trajectory file and the plot, the
// counted measurements grouped by the state their observable reads, and
// the residual-norm trace.
#include "app/fit_outputs.h"

#include <ostream>

#include "app/file_names.h"
#include "api/search_outputs.h"
#include "fit/fit_statistics.h"
#include "output/fit_report.h"
#include "output/output_file.h"
#include "output/plot_file.h"
#include "output/trajectory_file.h"

namespace identify {

namespace {

// One panel per observable that reads one state as it is (every observable
// of the legacy files), with its counted measurements.
PlotData plot_data(const FitProblem& problem, std::vector<double> times,
                   Table states, const NormTrace& trace) {
  PlotData data;
  data.times = std::move(times);
  data.trajectory = std::move(states);
  const Experiment& e = problem.experiments[0];
  for (std::size_t o = 0; o < e.observables.size(); ++o) {
    const ObservableTerms& terms = e.observables[o];
    if (terms.coefficients.size() != 1) continue;
    PlotData::Panel panel;
    panel.component = terms.coefficients[0].first;
    for (const Measurement& m : e.measurements) {
      if (m.observable != static_cast<int>(o) || !m.counted) continue;
      panel.sample_time.push_back(m.time);
      panel.sample_value.push_back(m.value);
    }
    data.panels.push_back(std::move(panel));
  }
  trace.points(data.iterations, data.norms);
  return data;
}

}  // namespace

bool write_fit_outputs(const Options& opt, const FitInput& input,
                       RunChoice choice, Model& model, const Summary& summary,
                       const NormTrace& trace, const SearchResults& search,
                       double seconds, WritingPhase& writing,
                       std::ostream& err) {
  bool ok = true;
  const auto check = [&](const std::string& path, const std::string& error) {
    if (error.empty()) return;
    err << "identify: cannot write " << path << ": " << error << std::endl;
    ok = false;
  };
  // Whether to write `path` now; its stale temporary files are removed.
  const auto prepare = [&](const std::string& path) {
    if (!writing.admit(path == "-" ? "the report on standard error" : path)) {
      return false;
    }
    if (path != "-") clear_stale_temps(path, err);
    return true;
  };
  if (!opt.report.empty() && prepare(opt.report)) {
    const FitStatistics stats =
        compute_fit_statistics(input.problem, model, summary.theta);
    const RunSummary run{method_name(choice.method), model_name(choice.model),
                         stop_text(summary), summary.iterations, seconds};
    const std::string text =
        format_fit_report(stats, run) + search_report_sections(search);
    if (opt.report == "-") {
      // Standard error that fails has no room left for a message either.
      if (!(err << text << std::flush)) ok = false;
    } else {
      check(opt.report, write_output_file(opt.report, text));
    }
  }
  if (!opt.profiles.empty() && search.profiles && prepare(opt.profiles)) {
    check(opt.profiles,
          write_output_file(opt.profiles, profile_table_text({{"", &search}})));
  }
  if (opt.trajectory.empty() && opt.plot.empty()) return ok;
  std::vector<double> times = input.trajectory_times;
  Table X;
  model.states(summary.theta, 0, times, X);
  if (!opt.trajectory.empty() && prepare(opt.trajectory)) {
    check(opt.trajectory, write_trajectory_file(opt.trajectory, times, X));
  }
  if (!opt.plot.empty() && prepare(opt.plot)) {
    PlotData data =
        plot_data(input.problem, std::move(times), std::move(X), trace);
    add_search_panels(search, "", data);
    check(opt.plot, write_plot_file(opt.plot, data));
  }
  return ok;
}

}  // namespace identify
