// A problem file from load to exit code. The fits' verdicts go to stderr
// after their progress lines (with --separately, each fit's lines, its
// messages and its verdict named by its experiment, in experiment order,
// once all have run), then the parameter table to the console.
#include "app/problem_run.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <memory>
#include <optional>
#include <ostream>

#include "app/console.h"
#include "api/exit_codes.h"
#include "app/file_names.h"
#include "app/interrupted_fits.h"
#include "api/pipeline.h"
#include "api/experiment_line.h"
#include "api/problem_fits.h"
#include "api/run_result.h"
#include "app/population_stage.h"
#include "app/problem_outputs.h"
#include "app/writing_phase.h"
#include "fit/multistart/worker_pool.h"
#include "fit/objective.h"
#include "fit/point_evaluation.h"
#include "fit/wording.h"
#include "identify/problem.h"
#include "input/input_error.h"
#include "input/yaml_problem_file.h"
#include "output/evaluation_report.h"
#include "output/fd_stream.h"
#include "output/output_file.h"
#include "output/petab_export.h"
#include "output/simulation_table.h"

namespace identify {

namespace {

// The names of the tables a problem file read, for the name check.
std::vector<RunFile> tables_of(const LoadedProblem& loaded) {
  std::vector<RunFile> tables;
  for (const TableRead& t : loaded.data_files) {
    tables.push_back({"a data table", t.path});
  }
  for (const TableRead& t : loaded.dose_files) {
    tables.push_back({"a dose table", t.path});
  }
  for (const TableRead& t : loaded.event_files) {
    tables.push_back({"an event table", t.path});
  }
  return tables;
}

// The kept messages of one experiment's fit, each line named by it:
// "identify: subject2: profile of ka ...".
void print_messages(const ProblemFit& fit, std::ostream& err) {
  const std::string prefix = "identify: ";
  std::size_t from = 0;
  for (std::size_t end;
       (end = fit.messages.find('\n', from)) != std::string::npos;
       from = end + 1) {
    std::string line = fit.messages.substr(from, end - from);
    if (line.rfind(prefix, 0) == 0) {
      line.insert(prefix.size(), fit.experiment + ": ");
    }
    err << line << '\n';
  }
  err.flush();
}

// The console text and messages of fits that ran beside others, then every
// verdict, in order. Of several fits, one that an interrupt left without a
// result of its own shows no console text and says so in its verdict.
void print_fits(const std::vector<ProblemFit>& fits, bool verbose,
                std::ostream& out, std::ostream& err) {
  const bool several = fits.size() > 1;
  const bool one_line = one_line_per_fit(fits.size(), verbose);
  for (std::size_t f = 0; f < fits.size() && several; ++f) {
    if (!has_result(fits[f])) continue;
    if (one_line) {
      out << experiment_line(fits[f]) << std::endl;
    } else {
      out << "experiment " << fits[f].experiment << std::endl
          << fits[f].console << std::flush;
    }
    print_messages(fits[f], err);
  }
  for (const ProblemFit& fit : fits) {
    const std::string line =
        several && !has_result(fit)
            ? "not fitted: interrupted before its first iteration finished"
            : verdict(fit.summary);
    if (line.empty()) continue;
    err << "identify: " << (fit.experiment.empty() ? "" : fit.experiment + ": ")
        << line << std::endl;
  }
}

bool finish_history(const Options& opt, std::optional<StreamedOutput>& history,
                    std::ostream& err) {
  if (!history) return true;
  const std::string error = history->finish();
  if (error.empty()) return true;
  err << "identify: cannot write " << opt.history << ": " << error << std::endl;
  return false;
}

// The verdicts, then the outputs of the fits that have a result (after an
// interrupt `signal` of several fits, those that got a point of their own).
// `writing_signal` gets the signal that came while the outputs were
// written (0: none). Returns false if an output could not be written.
bool write_run(const Options& opt, const ProblemRunInfo& info,
               std::vector<ProblemFit>& fits, int signal,
               std::optional<StreamedOutput>& history, WritingPhase& writing,
               int& writing_signal, std::ostream& out, std::ostream& err) {
  name_subject(fits);
  print_fits(fits, opt.verbose, out, err);
  if (signal != 0 && !any_cut_short(fits)) {
    // It came after the last iteration: the results are whole.
    err << "identify: interrupted by signal " << signal
        << " after the fits ended" << std::endl;
  }
  if (fits.size() > 1 && signal != 0) {
    err << "identify: " << interrupted_fits_line(fits, signal) << std::endl;
    fits = fits_with_results(fits);
  }
  bool written = finish_history(opt, history, err);
  if (fits.empty()) {
    err << "identify: no experiment has a result: the outputs are not written"
        << std::endl;
  } else if (!write_problem_outputs(opt, info, fits, writing, out, err)) {
    written = false;
  }
  writing_signal = writing.report(err);
  return written;
}

// The simulation table at θ, written to `path`; false (with the reason on
// err) if it could not be written.
bool write_simulations(const std::string& path, const LoadedProblem& loaded,
                       const PointEvaluation& at, std::ostream& err) {
  const std::string failure = write_output_file(
      path,
      format_simulation_table(loaded.problem, loaded.rows, at.simulations));
  if (failure.empty()) return true;
  err << "identify: cannot write " << path << ": " << failure << std::endl;
  return false;
}

// --evaluate: the report at the parameters' values, no fit.
int evaluate_only(const Options& opt, const LoadedProblem& loaded,
                  ModelKind kind, std::ostream& out, std::ostream& err) {
  const std::unique_ptr<Model> model = make_model(kind, loaded.problem);
  const std::vector<double> theta = loaded.problem.values();
  const PointEvaluation at = evaluate_point(loaded.problem, *model, theta);
  out << format_evaluation(at) << std::flush;
  if (!opt.simulations.empty() &&
      !write_simulations(opt.simulations, loaded, at, err)) {
    return kExitOutputError;
  }
  if (!std::isfinite(at.minus_2_ln_l)) {
    err << "identify: --evaluate: the objective is not finite at the "
           "parameters' values"
        << std::endl;
    return kExitDiverged;
  }
  return kExitSuccess;
}

// --export-petab: the problem as PEtab in `directory`, no fit.
int export_only(const std::string& directory, const FitProblem& problem,
                std::ostream& err) {
  std::error_code ec;
  std::filesystem::create_directories(directory, ec);
  if (ec) {
    err << "identify: cannot make " << directory << ": " << ec.message()
        << std::endl;
    return kExitOutputError;
  }
  const std::string failure = export_petab(problem, directory);
  if (failure.empty()) return kExitSuccess;
  err << "identify: --export-petab: " << failure << std::endl;
  return failure.rfind("cannot write", 0) == 0 ? kExitOutputError : kExitUsage;
}

}  // namespace

int run_problem_file(const Options& opt,
                     std::chrono::steady_clock::time_point start,
                     std::ostream& out, std::ostream& err) {
  const Problem problem = Problem::from_file(opt.problem);
  const LoadedProblem& loaded = problem.input().loaded;
  if (!opt.export_petab.empty()) {
    return export_only(opt.export_petab, loaded.problem, err);
  }
  require_measurements(loaded);
  const std::string clash = check_problem_file_names(opt, tables_of(loaded));
  if (!clash.empty()) {
    err << "identify: " << clash << std::endl;
    return kExitUsage;
  }
  if (loaded.problem.population.active() || opt.foce_i) {
    return population_run(opt, loaded.problem, out, err);
  }
  const FitOptions fit_opt = fit_options(opt);
  PreparedRun run;
  try {
    run = prepare_run(problem.input(), fit_opt);
  } catch (const OptionsError& e) {
    err << "identify: " << e.what() << std::endl;
    return kExitUsage;
  }
  if (opt.evaluate) {
    return evaluate_only(opt, loaded, run.plan.choice.model, out, err);
  }
  std::vector<ProblemFit>& fits = run.fits;
  std::optional<StreamedOutput> history;
  if (!opt.history.empty()) {
    history.emplace(opt.history);
    if (!history->open_error().empty()) {
      err << "identify: cannot write " << opt.history << ": "
          << history->open_error() << std::endl;
      return kExitOutputError;
    }
    history->stream() << (objective_is_likelihood(loaded.problem)
                              ? "iteration,minus_2_ln_L"
                              : "iteration,residual_norm")
                      << std::endl;
  }
  MonitorSettings settings =
      monitor_settings(problem.input(), fit_opt, &interrupt_flag());
  settings.quiet = opt.quiet;
  settings.history = history ? &history->stream() : nullptr;
  install_interrupt_handlers();
  run_prepared(problem.input(), run, settings, !opt.plot.empty(), out, err);
  const int signal = interrupt_flag().load();
  WritingPhase writing;
  ProblemRunInfo info;
  info.loaded = &loaded;
  info.choice = run.plan.choice;
  info.threads = run.threads;
  info.one_after_another = one_after_another(fits.size(), run.plan);
  const std::chrono::duration<double> elapsed =
      std::chrono::steady_clock::now() - start;
  info.seconds = elapsed.count();
  int writing_signal = 0;
  const bool written = write_run(opt, info, fits, signal, history, writing,
                                 writing_signal, out, err);
  const int code = exit_code_of(fits, signal != 0 ? signal : writing_signal);
  const bool simulated =
      opt.simulations.empty() || fits.size() != 1 ||
      fits[0].summary.theta.size() != loaded.problem.parameters.size() ||
      write_simulations(
          opt.simulations, loaded,
          evaluate_point(loaded.problem, *fits[0].model, fits[0].summary.theta),
          err);
  return written && simulated ? code : with_output_failure(code);
}

}  // namespace identify
