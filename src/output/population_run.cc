// The report goes to `out` once the fit is done, then each table to its
// file; a file that cannot be written is named with the system's reason
// and the others are still written.
#include "output/population_run.h"

#include <cmath>
#include <ostream>

#include "fit/population/population_fit.h"
#include "output/output_file.h"
#include "output/plot_file.h"
#include "output/population_plot.h"
#include "output/population_tables.h"

namespace identify {

PopulationOutcome run_population(const FitProblem& problem,
                                 const PopulationRun& run, std::ostream& out,
                                 std::ostream& err) {
  PopulationSettings settings;
  settings.starts = run.starts;
  settings.seed = run.seed;
  settings.threads = run.threads;
  const PopulationFit fit = fit_population(problem, settings);
  if (!std::isfinite(fit.ofv)) {
    err << "identify: population fit: expected a finite objective at some "
           "start, found none (every start gave an OFV that is not finite)"
        << std::endl;
    return PopulationOutcome::kNotFinite;
  }
  const CovarianceStep covariance =
      covariance_step(problem, fit, run.covariance, run.threads);
  const std::string report = population_report(problem, fit, covariance);
  const std::string parameters =
      population_parameters_table(problem, fit, covariance);
  out << report << parameters << std::flush;
  bool written = true;
  const auto write = [&](const std::string& name, const std::string& text) {
    if (name.empty()) return;
    const std::string reason = write_output_file(name, text);
    if (reason.empty()) return;
    err << "identify: cannot write " << name << ": " << reason << std::endl;
    written = false;
  };
  write(run.parameters, parameters);
  write(run.individual, population_individual_table(problem, fit));
  write(run.fit, population_fit_table(problem, fit));
  if (run.report == "-") {
    err << report << std::flush;
  } else {
    write(run.report, report);
  }
  if (!run.plot.empty()) {
    const std::string reason =
        write_plot_file(run.plot, population_plot_data(problem, fit));
    if (!reason.empty()) {
      err << "identify: cannot write " << run.plot << ": " << reason
          << std::endl;
      written = false;
    }
  }
  if (covariance.r_not_positive) {
    err << "identify: warning: " << covariance_warning(covariance) << std::endl;
  }
  const std::string modes = mode_warning(problem, fit);
  if (!modes.empty()) err << "identify: warning: " << modes << std::endl;
  if (!written) return PopulationOutcome::kOutputError;
  return fit.converged ? PopulationOutcome::kFitted
                       : PopulationOutcome::kLimitReached;
}

}  // namespace identify
