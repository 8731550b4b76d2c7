// The run's fixed sequence: load → model → solve → write. Each stage either
// succeeds or ends the run with a message on stderr and its own exit code;
// no stage starts on bad data. Writes are checked everywhere: every output
// file, standard output and the report stream; a failure among them is
// reported with the system's reason and gives the output-error code, but
// never stops the other outputs.
#include "app/run.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <ostream>

#include "app/console.h"
#include "app/convert.h"
#include "api/exit_codes.h"
#include "app/file_names.h"
#include "app/fit_input.h"
#include "app/fit_outputs.h"
#include "app/interrupted_fits.h"
#include "api/multistart_stage.h"
#include "app/options.h"
#include "app/problem_run.h"
#include "api/profile_stage.h"
#include "app/writing_phase.h"
#include "fit/constraint_check.h"
#include "fit/method.h"
#include "input/input_error.h"
#include "model/model_kind.h"
#include "output/fd_stream.h"
#include "output/result_file.h"

namespace identify {

namespace {

using Clock = std::chrono::steady_clock;

void report_write_error(std::ostream& err, const std::string& name,
                        const std::string& reason) {
  err << "identify: cannot write " << name << ": " << reason << std::endl;
}

MonitorSettings monitor_settings(const Options& opt, double epsilon,
                                 NormTrace& trace,
                                 std::optional<StreamedOutput>& history) {
  MonitorSettings s;
  s.epsilon = epsilon;
  s.max_iter = opt.max_iter;
  s.patience = opt.patience;
  s.min_improvement = opt.min_improvement;
  s.quiet = opt.quiet;
  s.interrupt = &interrupt_flag();
  if (!opt.plot.empty()) s.trace = &trace;
  if (history) s.history = &history->stream();
  return s;
}

// The matrix A of the (only) experiment at θ: what the legacy files call
// the result.
Matrix matrix_at(const FitProblem& problem, std::span<const double> theta) {
  const int n = problem.state_count();
  Matrix A = make_matrix(n);
  std::vector<double> scratch;
  for (const MatrixTerm& t : problem.experiments[0].matrix) {
    A[t.row][t.col] = t.value.value(theta, scratch);
  }
  return A;
}

// The fit proper, from one start or several, and the profiles asked for.
// Ctrl-C from the end of loading to the end of the profiles
// (load_legacy_input installs the handlers) abandons the model computation
// under way and keeps the best θ of a finished iteration; before (at the
// pauses) it ends the program, and after it stops the writing between two
// outputs (WritingPhase).
Summary fit(const Options& opt, RunChoice choice, const FitInput& input,
            Model& model, const MonitorSettings& settings,
            SearchResults& results, std::ostream& out, std::ostream& err) {
  const FitTask task = input.task();
  const FitPlan plan = fit_plan(opt, choice);
  Summary summary = fit_with_starts(plan, task, model, settings, out, results);
  if (plan.profile) {
    profile_result(plan, task, model, settings, summary, results, out, err);
  }
  return summary;
}

// The result of the legacy files: output.txt (if `writing` admits it), the
// console report, the time line, the verdict and the warnings of entries off
// their fixed values or bounds. Returns false if output.txt could not be
// written.
bool write_result(const Options& opt, const FitInput& input,
                  const Summary& summary, double seconds, WritingPhase& writing,
                  std::ostream& out, std::ostream& err) {
  const Matrix A = matrix_at(input.problem, summary.theta);
  std::string write_error;
  if (writing.admit(opt.output)) {
    clear_stale_temps(opt.output, err);
    write_error = write_result_file(opt.output, A);
  }
  if (!write_error.empty()) report_write_error(err, opt.output, write_error);
  print_matrix_report(out, A);
  print_time_line(out, seconds);
  const std::string line = verdict(summary);
  if (!line.empty()) err << "identify: " << line << std::endl;
  for (const std::string& warning :
       constraint_warnings(input.problem, summary.theta, summary)) {
    err << "identify: warning: " << warning << std::endl;
  }
  return write_error.empty();
}

// Every output of the fit, in the writing phase: output.txt and the console
// report, the end of --history, then the optional outputs. `writing_signal`
// gets the signal that came meanwhile (0: none). Returns false if any could
// not be written.
bool write_outputs(const Options& opt, const FitInput& input, RunChoice choice,
                   Model& model, const Summary& summary, const NormTrace& trace,
                   const SearchResults& results,
                   std::optional<StreamedOutput>& history, double seconds,
                   int& writing_signal, std::ostream& out, std::ostream& err) {
  WritingPhase writing;
  bool written = write_result(opt, input, summary, seconds, writing, out, err);
  if (history) {
    // Written as the fit went: only its last bytes and its name are left.
    const std::string history_error = history->finish();
    if (!history_error.empty()) {
      report_write_error(err, opt.history, history_error);
      written = false;
    }
  }
  // The optional outputs come after output.txt and the report, so that a
  // failure among them costs neither.
  if (!write_fit_outputs(opt, input, choice, model, summary, trace, results,
                         seconds, writing, err)) {
    written = false;
  }
  writing_signal = writing.report(err);
  return written;
}

// Everything after the options: load, model, solve, write. Throws
// InputError and std::bad_alloc.
int identify_and_write(const Options& opt, Clock::time_point start,
                       std::vector<std::string>& warnings, std::ostream& out,
                       std::ostream& err) {
  const FitInput input = load_legacy_input(opt, warnings, out, err);
  const RunChoice choice = run_choice(opt, input.kind);
  std::unique_ptr<Model> model;
  try {
    model = make_model(choice.model, input.problem);
  } catch (const ProblemError& e) {
    err << "identify: --model " << model_name(choice.model) << ": " << e.what()
        << std::endl;
    return kExitUsage;
  }
  const std::string bad_names =
      check_profile_names(fit_plan(opt, choice), input.problem);
  if (!bad_names.empty()) {
    err << "identify: " << bad_names << std::endl;
    return kExitUsage;
  }

  std::optional<StreamedOutput> history;
  if (!opt.history.empty()) {
    history.emplace(opt.history);
    if (!history->open_error().empty()) {
      report_write_error(err, opt.history, history->open_error());
      return kExitOutputError;
    }
    history->stream() << "iteration,residual_norm" << std::endl;
  }
  NormTrace trace;
  const MonitorSettings settings =
      monitor_settings(opt, input.epsilon, trace, history);
  SearchResults results;
  const Summary summary =
      fit(opt, choice, input, *model, settings, results, out, err);
  const int fit_signal = interrupt_flag().load();
  if (fit_signal != 0 && !cut_short(summary, results)) {
    // It came after the last iteration: the result is whole.
    err << "identify: interrupted by signal " << fit_signal
        << " after the fit ended" << std::endl;
  }

  const std::chrono::duration<double> elapsed = Clock::now() - start;
  int writing_signal = 0;
  const bool written =
      write_outputs(opt, input, choice, *model, summary, trace, results,
                    history, elapsed.count(), writing_signal, out, err);
  // Ctrl-C at the pause ends the program.
  restore_interrupt_defaults();
  pause_for_user(!opt.no_pause, out);
  // An interrupt during the profiles leaves a converged fit as it is but
  // still ends the run as interrupted.
  const int signal = fit_signal != 0 ? fit_signal : writing_signal;
  const int code =
      signal != 0 ? interrupted_exit_code(signal) : exit_code(summary);
  return written ? code : with_output_failure(code);
}

// The stages after the options, with the failures that end them.
int run_with(const Options& opt, Clock::time_point start, std::ostream& out,
             std::ostream& err) {
  if (!opt.directory.empty() && chdir(opt.directory.c_str()) != 0) {
    err << "identify: -C: cannot change to directory \"" << opt.directory
        << "\": " << std::strerror(errno) << std::endl;
    return kExitUsage;
  }
  const bool legacy = input_kind(opt) == InputKind::kLegacyFiles;
  if (legacy && !opt.convert) {
    const std::string clash = check_file_names(opt);
    if (!clash.empty()) {
      err << "identify: " << clash << std::endl;
      return kExitUsage;
    }
  }
  std::vector<std::string> warnings;
  try {
    if (opt.convert) return convert_legacy_files(opt, warnings, out, err);
    if (!legacy) return run_problem_file(opt, start, out, err);
    return identify_and_write(opt, start, warnings, out, err);
  } catch (const InputError& e) {
    flush_warnings(err, warnings);
    err << "identify: " << e.what() << std::endl;
    return kExitInputError;
  } catch (const std::bad_alloc&) {
    err << "identify: out of memory" << std::endl;
    return kExitInternal;
  }
}

// Standard output is checked once, after all console text: a closed pipe or
// a full disk there is reported on stderr in one line.
int check_console(std::ostream& out, std::ostream& err, int code) {
  out.flush();
  if (out) return code;
  err << "identify: cannot write standard output: "
      << std::strerror(write_error_of(out)) << std::endl;
  return with_output_failure(code);
}

}  // namespace

int run(int argc, const char* const* argv, std::ostream& out,
        std::ostream& err) {
  const Clock::time_point start = Clock::now();
  reserve_standard_descriptors();
  ignore_write_signals();
  const ParsedOptions parsed = parse_options(argc, argv, out, err);
  int code = parsed.exit_code;
  if (parsed.options) code = run_with(*parsed.options, start, out, err);
  return check_console(out, err, code);
}

}  // namespace identify
