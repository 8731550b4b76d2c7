// A run's Result. The objective is that of the result θ of every fit: the
// sum of squares S = norm² (norm = sqrt(S)), or −2 ln L as it is, summed
// over the fits. The tables are parsed back from the formatters' text, so
// that the table objects and the files agree field for field.
#include "api/run_result.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "api/exit_codes.h"
#include "api/search_outputs.h"
#include "output/result_tables.h"

namespace identify {

namespace {

std::vector<std::string> split(const std::string& line) {
  std::vector<std::string> fields;
  std::size_t from = 0;
  for (;;) {
    const std::size_t tab = line.find('\t', from);
    fields.push_back(line.substr(from, tab - from));
    if (tab == std::string::npos) return fields;
    from = tab + 1;
  }
}

bool read_number(const std::string& field, double& value) {
  if (field.empty()) {
    value = std::nan("");
    return true;
  }
  char* end = nullptr;
  value = std::strtod(field.c_str(), &end);
  return end == field.c_str() + field.size();
}

TerminationType termination_type(Termination t) {
  return static_cast<TerminationType>(static_cast<int>(t));
}

// The table of starts: start (from 1), objective, iterations, finished,
// optimum (from 1; 0: none), with an experiment column for separate fits.
ColumnTable start_table(const std::vector<ProblemFit>& fits) {
  std::vector<std::string> experiment;
  std::vector<double> start, objective, iterations, finished, optimum;
  for (const ProblemFit& fit : fits) {
    if (!fit.search.starts) continue;
    const StartsReport& r = *fit.search.starts;
    for (const StartOutcome& o : r.outcomes) {
      experiment.push_back(fit.experiment);
      start.push_back(o.start + 1);
      objective.push_back(o.objective);
      iterations.push_back(static_cast<double>(o.iterations));
      finished.push_back(o.finished ? 1.0 : 0.0);
      double which = 0.0;
      for (std::size_t q = 0; q < r.optima.size(); ++q) {
        const std::vector<int>& s = r.optima[q].starts;
        if (std::find(s.begin(), s.end(), o.start) != s.end()) {
          which = static_cast<double>(q + 1);
        }
      }
      optimum.push_back(which);
    }
  }
  ColumnTable t;
  if (start.empty()) return t;
  if (fits.size() > 1) t.add("experiment", std::move(experiment));
  t.add("start", std::move(start))
      .add("objective", std::move(objective))
      .add("iterations", std::move(iterations))
      .add("finished", std::move(finished))
      .add("optimum", std::move(optimum));
  return t;
}

void add_parameters(const ResultViews& views, Result& r) {
  for (const FitResultView& v : views.views) {
    for (int k : v.parameters) {
      const ParameterEstimate& e = v.stats->parameters[k];
      r.parameters.push_back({v.problem->parameters[k].name, v.experiment,
                              e.value, e.standard_error, e.lower95, e.upper95,
                              status_word(*v.stats, k)});
    }
  }
}

void add_fit(const ProblemFit& fit, Result& r) {
  const Summary& s = fit.summary;
  FitVerdict v;
  v.experiment = fit.experiment;
  v.termination = termination_type(s.termination);
  v.message = verdict(s);
  v.signal = s.signal;
  v.converged = exit_code(s) == kExitSuccess;
  r.verdicts.push_back(v);
  r.likelihood = s.likelihood;
  r.objective += s.likelihood ? s.norm : s.norm * s.norm;
  r.iterations += s.iterations;
  r.model_evaluations += s.counts.evaluations;
  r.jacobians += s.counts.jacobians;
  r.gradients += s.counts.gradients;
}

}  // namespace

void name_subject(std::vector<ProblemFit>& fits) {
  for (ProblemFit& fit : fits) {
    fit.summary.subject = "point";
    fit.summary.overflow_hint = "the parameters' start values";
  }
}

int exit_code_of(const std::vector<ProblemFit>& fits, int signal) {
  if (signal != 0) return interrupted_exit_code(signal);
  int code = kExitSuccess;
  for (const ProblemFit& fit : fits) {
    if (code == kExitSuccess) code = exit_code(fit.summary);
  }
  return code;
}

ColumnTable columns_of_tsv(const std::string& text) {
  std::vector<std::vector<std::string>> rows;
  std::size_t from = 0;
  for (std::size_t end; (end = text.find('\n', from)) != std::string::npos;
       from = end + 1) {
    rows.push_back(split(text.substr(from, end - from)));
  }
  ColumnTable t;
  if (rows.empty()) return t;
  for (std::size_t c = 0; c < rows[0].size(); ++c) {
    Column column;
    column.name = rows[0][c];
    column.kind = Column::Kind::kNumber;
    for (std::size_t r = 1; r < rows.size(); ++r) {
      const std::string field = c < rows[r].size() ? rows[r][c] : "";
      double v = 0.0;
      if (!read_number(field, v)) column.kind = Column::Kind::kText;
      column.numbers.push_back(v);
      column.texts.push_back(field);
    }
    if (column.kind == Column::Kind::kText) column.numbers.clear();
    t.columns.push_back(std::move(column));
  }
  return t;
}

ResultTables result_tables(const std::vector<ProblemFit>& fits,
                           const ResultViews& views) {
  ResultTables t;
  t.parameters = columns_of_tsv(format_parameter_table(views.views));
  t.fit = columns_of_tsv(format_fit_table(views.views));
  std::vector<FitProfiles> profiled;
  for (const ProblemFit& fit : fits) {
    if (fit.search.profiles) profiled.push_back({fit.experiment, &fit.search});
  }
  if (!profiled.empty()) t.profiles = columns_of_tsv(profile_table_text(profiled));
  return t;
}

Result run_result(std::vector<ProblemFit>& fits, const RunFacts& facts) {
  Result r;
  if (!facts.legacy) name_subject(fits);
  for (const ProblemFit& fit : fits) add_fit(fit, r);
  r.signal = facts.signal;
  r.exit_code = exit_code_of(fits, facts.signal);
  r.converged = r.exit_code == kExitSuccess;
  r.method = method_name(facts.info.choice.method);
  r.model = model_name(facts.info.choice.model);
  r.starts = facts.info.choice.starts;
  r.threads = facts.info.threads;
  r.seconds = facts.info.seconds;
  const ResultViews views = results_of(fits);
  add_parameters(views, r);
  ResultTables tables = result_tables(fits, views);
  r.parameter_table = std::move(tables.parameters);
  r.fit_table = std::move(tables.fit);
  r.profile_table = std::move(tables.profiles);
  r.start_table = start_table(fits);
  const std::string bootstrap = bootstrap_table_text(fits);
  if (!bootstrap.empty()) r.bootstrap_table = columns_of_tsv(bootstrap);
  if (!facts.legacy) r.report = report_text(facts.name, facts.info, fits, views);
  return r;
}

}  // namespace identify
