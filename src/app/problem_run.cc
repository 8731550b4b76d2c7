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
#include <sstream>
#include <tuple>

#include "app/console.h"
#include "app/exit_codes.h"
#include "app/file_names.h"
#include "app/interrupted_fits.h"
#include "app/problem_fits.h"
#include "app/problem_outputs.h"
#include "app/profile_stage.h"
#include "app/writing_phase.h"
#include "fit/dense_memory.h"
#include "fit/multistart/worker_pool.h"
#include "fit/objective.h"
#include "fit/point_evaluation.h"
#include "fit/wording.h"
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
  return tables;
}

MonitorSettings settings_of(const Options& opt, std::ostream* history) {
  MonitorSettings s;
  s.epsilon = 0.0;
  s.max_iter = opt.max_iter;
  s.patience = opt.patience;
  s.min_improvement = opt.min_improvement;
  s.quiet = opt.quiet;
  s.interrupt = &interrupt_flag();
  s.history = history;
  return s;
}

// Refuses, as an input error, fits whose dense Jacobians need more memory
// than the process may use: the fits' factorisations could not be
// interrupted once begun.
void check_fit_memory(const Options& opt, RunChoice choice,
                      const std::vector<ProblemFit>& fits, int threads) {
  const int workers = choice.method == Method::kLm ? threads : 0;
  double need = 0.0;
  std::size_t m = 0, n = 0;
  for (const ProblemFit& fit : fits) {
    const std::size_t fm = fit.problem.counted_measurement_count();
    const std::size_t fn = fitted_parameters(choice.method, fit.problem).size();
    const double bytes = dense_fit_bytes(
        static_cast<std::int64_t>(fm), static_cast<std::int64_t>(fn), workers);
    if (bytes > need) std::tie(need, m, n) = std::tuple(bytes, fm, fn);
  }
  const double have = usable_memory_bytes();
  if (have <= 0.0 || need <= have) return;
  std::ostringstream s;
  s.precision(3);
  s << opt.problem << ": " << n << " fitted parameters and " << m
    << " measurements: the dense Jacobians of the fit ("
    << count_text(std::max(workers, 1), "thread", "threads") << ") need about "
    << need / (1u << 30) << " GiB of memory, more than this process may use ("
    << have / (1u << 30) << " GiB)";
  throw InputError(s.str());
}

// What the verdicts call the fitted point.
void name_subject(std::vector<ProblemFit>& fits) {
  for (ProblemFit& fit : fits) {
    fit.summary.subject = "point";
    fit.summary.overflow_hint = "the parameters' start values";
  }
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
void print_fits(const std::vector<ProblemFit>& fits, std::ostream& out,
                std::ostream& err) {
  const bool several = fits.size() > 1;
  for (std::size_t f = 0; f < fits.size() && several; ++f) {
    if (!has_result(fits[f])) continue;
    out << "experiment " << fits[f].experiment << std::endl
        << fits[f].console << std::flush;
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

// The code of the fits; an interrupt at any stage (a profile of a fit that
// converged included) makes it 130 or 143.
int exit_code_of(const std::vector<ProblemFit>& fits, int signal) {
  if (signal != 0) return interrupted_exit_code(signal);
  int code = kExitSuccess;
  for (const ProblemFit& fit : fits) {
    if (code == kExitSuccess) code = exit_code(fit.summary);
  }
  return code;
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
  print_fits(fits, out, err);
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

bool has_laplace(const FitProblem& problem) {
  for (const NoiseModel& n : problem.noise) {
    if (n.distribution == Distribution::kLaplace) return true;
  }
  return false;
}

}  // namespace

int run_problem_file(const Options& opt,
                     std::chrono::steady_clock::time_point start,
                     std::ostream& out, std::ostream& err) {
  const LoadedProblem loaded = read_yaml_problem(opt.problem);
  if (!opt.export_petab.empty()) {
    return export_only(opt.export_petab, loaded.problem, err);
  }
  require_measurements(loaded);
  const std::string clash = check_problem_file_names(opt, tables_of(loaded));
  if (!clash.empty()) {
    err << "identify: " << clash << std::endl;
    return kExitUsage;
  }
  RunChoice choice = run_choice(opt, InputKind::kProblemFile);
  // Least squares cannot take a Laplace density: lbfgsb fits it.
  if (has_laplace(loaded.problem)) {
    if (opt.method == Method::kLm) {
      err << "identify: --method: expected lbfgsb with a laplace "
             "distribution (lm fits sums of squares), found \"lm\""
          << std::endl;
      return kExitUsage;
    }
    if (!opt.method) choice.method = Method::kLbfgsb;
  }
  const std::string bad_names =
      check_profile_names(opt, choice, loaded.problem);
  if (!bad_names.empty()) {
    err << "identify: " << bad_names << std::endl;
    return kExitUsage;
  }
  std::vector<ProblemFit> fits;
  try {
    fits = plan_fits(loaded.problem, choice.model, opt.separately);
    if (opt.evaluate) return evaluate_only(opt, loaded, choice.model, out, err);
  } catch (const ProblemError& e) {
    err << "identify: --model " << model_name(choice.model) << ": " << e.what()
        << std::endl;
    return kExitUsage;
  }
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
  const MonitorSettings settings =
      settings_of(opt, history ? &history->stream() : nullptr);

  // Parallel experiments, or the worker threads of each fit's search.
  const int threads =
      searches(opt, choice)
          ? static_cast<int>(opt.threads > 0 ? opt.threads
                                             : default_thread_count())
          : std::min<int>(static_cast<int>(fits.size()), usable_cores());
  check_fit_memory(opt, choice, fits, threads);
  install_interrupt_handlers();
  run_fits(fits, opt, choice, settings, !opt.plot.empty(), threads, out, err);
  const int signal = interrupt_flag().load();
  WritingPhase writing;
  ProblemRunInfo info;
  info.loaded = &loaded;
  info.choice = choice;
  info.threads = threads;
  info.one_after_another = one_after_another(fits.size(), opt, choice, threads);
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
