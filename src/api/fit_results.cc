// The statistics at a fit's result θ (Jacobian-based standard errors and
// intervals, cut at the bounds), and the model values, sigmas and
// standardised residuals r = (h(y) − h(m))/σ of every measurement at θ,
// evaluated once and shared by the tables, the console and the report.
#include "api/fit_results.h"

#include "api/search_outputs.h"
#include "fit/objective.h"
#include "output/problem_report.h"

namespace identify {

ResultViews results_of(std::vector<ProblemFit>& fits) {
  ResultViews r;
  r.stats.reserve(fits.size());
  for (ProblemFit& fit : fits) {
    const std::vector<double>& theta = fit.summary.theta;
    r.stats.push_back(compute_fit_statistics(fit.problem, *fit.model, theta));
    cut_at_bounds(fit.problem, r.stats.back());
    FitResultView view;
    view.experiment = fit.experiment;
    view.problem = &fit.problem;
    view.stats = &r.stats.back();
    view.parameters = fit.parameters;
    if (fit.search.profiles) view.profiles = &*fit.search.profiles;
    if (fit.search.bootstrap) view.bootstrap = &*fit.search.bootstrap;
    Objective& at = *r.at.emplace_back(
        std::make_unique<Objective>(fit.problem, *fit.model,
                                    std::vector<int>{}, theta));
    at.evaluate_theta(theta);
    view.simulation = at.evaluation().y;
    view.sigma = at.sigmas();
    view.transformed_measurement = at.transformed_measurements();
    view.transformed_simulation = at.transformed_simulation();
    view.weighted = at.residuals();
    r.views.push_back(std::move(view));
  }
  return r;
}

std::string bootstrap_table_text(const std::vector<ProblemFit>& fits) {
  std::vector<FitBootstrap> bootstraps;
  for (const ProblemFit& fit : fits) {
    if (fit.search.bootstrap) {
      bootstraps.push_back({fit.experiment, &*fit.search.bootstrap});
    }
  }
  if (bootstraps.empty()) return "";
  std::vector<std::string> names;
  for (const Parameter& p : fits.front().problem.parameters) {
    names.push_back(p.name);
  }
  return format_bootstrap_table(names, bootstraps);
}

std::string report_text(const std::string& problem_file,
                        const ProblemRunInfo& info,
                        const std::vector<ProblemFit>& fits,
                        const ResultViews& results) {
  ProblemReport report;
  report.problem_file = problem_file;
  report.method = method_name(info.choice.method);
  report.model = model_name(info.choice.model);
  report.seconds = info.seconds;
  report.threads = info.threads;
  report.one_after_another = info.one_after_another;
  for (const TableRead& t : info.loaded->data_files) {
    report.tables.push_back({t.path, t.rows_used, t.missing});
  }
  for (const TableRead& t : info.loaded->event_files) {
    report.tables.push_back({t.path, t.rows_used, t.missing});
  }
  for (std::size_t f = 0; f < fits.size(); ++f) {
    report.fits.push_back({&results.views[f], stop_text(fits[f].summary),
                           fits[f].summary.iterations,
                           search_report_sections(fits[f].search)});
  }
  return format_problem_report(report);
}

}  // namespace identify
