// The run's fixed sequence. Each stage either succeeds or ends the run with
// a message on stderr and its own exit code; no stage starts on bad data.
// Writes are checked everywhere: every output file, standard output and the
// report stream; a failure among them is reported with the system's reason
// and gives the output-error code, but never stops the other outputs.
#include "app/run.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <ostream>

#include "app/console.h"
#include "app/exit_codes.h"
#include "app/file_names.h"
#include "app/fit_outputs.h"
#include "app/options.h"
#include "fit/constraint_check.h"
#include "fit/descent.h"
#include "fit/least_squares.h"
#include "input/measurement_file.h"
#include "input/problem_file.h"
#include "model/exact/exact_matrix_model.h"
#include "model/grid/grid_matrix_model.h"
#include "output/fd_stream.h"
#include "output/result_file.h"

namespace identify {

namespace {

using Clock = std::chrono::steady_clock;

int exit_code_for(const IdentifyResult& result) {
  switch (result.reason) {
    case StopReason::kConverged:
      return kExitSuccess;
    case StopReason::kDiverged:
      return kExitDiverged;
    case StopReason::kStalled:
      return kExitStalled;
    case StopReason::kNoProgress:
      return kExitNoProgress;
    case StopReason::kIterationLimit:
      return kExitIterationLimit;
    case StopReason::kMethodConverged:
      return kExitMethodStopped;
    case StopReason::kInterrupted:
      return result.signal == SIGTERM ? kExitSigterm : kExitSigint;
  }
  return kExitInternal;
}

// An output that could not be written replaces the code of a fit that ran
// (converged, not converged, interrupted); the codes of runs that never got
// to their outputs stay.
int with_output_failure(int code) {
  const bool fit_ran = code == kExitSuccess || code >= kExitDiverged;
  return fit_ran ? kExitOutputError : code;
}

// Working memory of the identification for N components, in bytes: the two
// trajectories with the fast kernels' node-major copies and source table,
// and a handful of N×N matrices.
double working_bytes(double n) {
  return 8.0 * (5.0 * n * kNodeCount + 8.0 * n * n);
}

double physical_bytes() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long page = sysconf(_SC_PAGE_SIZE);
  if (pages <= 0 || page <= 0) return 0.0;
  return static_cast<double>(pages) * static_cast<double>(page);
}

// Prints the collected warnings and forgets them.
void flush_warnings(std::ostream& err, std::vector<std::string>& w) {
  for (const std::string& line : w) err << "identify: " << line << std::endl;
  w.clear();
}

void report_write_error(std::ostream& err, const std::string& name,
                        const std::string& reason) {
  err << "identify: cannot write " << name << ": " << reason << std::endl;
}

struct Inputs {
  ProblemRecord problem;
  ObservationRecord obs;
};

// Reads both files with their console lines and pauses, and anchors point 0
// of every series at the initial value of the component it observes.
// Warnings of the token loop are printed even when the file then fails its
// checks (InputError): a skipped line is often why a file comes up short.
Inputs read_inputs(const Options& opt, std::vector<std::string>& warnings,
                   std::ostream& out, std::ostream& err) {
  Inputs in;
  in.problem = read_problem_file(opt.input, &warnings);
  flush_warnings(err, warnings);
  out << "File was successfully loaded!" << std::endl << std::endl;
  pause_for_user(!opt.no_pause, out);

  in.obs =
      read_measurement_file(opt.data, in.problem.dim, in.problem.T, &warnings);
  flush_warnings(err, warnings);
  out << std::endl
      << "Data file was successfully loaded!" << std::endl
      << std::endl;
  pause_for_user(!opt.no_pause, out);

  for (int k = 0; k < in.obs.data_num; ++k) {
    in.obs.add_data[k][0] = in.problem.init_val[in.obs.is_data_exist[k]];
  }
  return in;
}

bool fits_in_memory(const Options& opt, const ProblemRecord& problem,
                    std::ostream& err) {
  const double need = working_bytes(problem.dim);
  const double have = physical_bytes();
  if (have <= 0.0 || need <= have) return true;
  err << "identify: " << opt.input << ": dim " << problem.dim << " needs about "
      << need / (1u << 30)
      << " GiB of working memory, more than this machine has ("
      << have / (1u << 30) << " GiB)" << std::endl;
  return false;
}

StopSettings stop_settings(const Options& opt, NormTrace& trace,
                           std::optional<StreamedOutput>& history) {
  StopSettings stop;
  stop.max_iter = opt.max_iter;
  stop.patience = opt.patience;
  stop.min_improvement = opt.min_improvement;
  stop.quiet = opt.quiet;
  stop.interrupt = &interrupt_flag();
  if (!opt.plot.empty()) stop.trace = &trace;
  if (history) stop.history = &history->stream();
  return stop;
}

// --model picks how the samples are computed, --method how A is fitted to
// them; the defaults are the grid model and the descent. Ctrl-C during the
// fit abandons the model computation under way and keeps the best matrix of
// a finished iteration; before and after it (at the pauses) it ends the
// program.
IdentifyResult fit(const Options& opt, const Inputs& in, MatrixModel& model,
                   const StopSettings& stop, Matrix& A, std::ostream& out) {
  install_interrupt_handlers();
  IdentifyResult result;
  if (opt.method == "descent") {
    result = identify_matrix(in.problem, in.obs, model, A, stop, out);
  } else {
    result = fit_least_squares(in.problem, in.obs, model, A, stop, out,
                               opt.method == "lm"
                                   ? LeastSquaresMethod::kLevenbergMarquardt
                                   : LeastSquaresMethod::kQuasiNewton);
  }
  restore_interrupt_defaults();
  return result;
}

// Everything after the options: inputs, fit, result file, report, the
// optional outputs. Throws InputError and std::bad_alloc.
int identify_and_write(const Options& opt, Clock::time_point start,
                       std::vector<std::string>& warnings, std::ostream& out,
                       std::ostream& err) {
  Inputs in = read_inputs(opt, warnings, out, err);
  if (!fits_in_memory(opt, in.problem, err)) return kExitInputError;

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
  const StopSettings stop = stop_settings(opt, trace, history);

  Matrix A = make_matrix(in.problem.dim);
  std::unique_ptr<MatrixModel> model;
  if (opt.model == "exact") {
    model = std::make_unique<ExactMatrixModel>(in.problem, in.obs);
  } else {
    model = std::make_unique<GridMatrixModel>(in.problem, in.obs);
  }
  const IdentifyResult result = fit(opt, in, *model, stop, A, out);

  bool written = true;
  clear_stale_temps(opt.output, err);
  const std::string write_error = write_result_file(opt.output, A);
  if (!write_error.empty()) {
    report_write_error(err, opt.output, write_error);
    written = false;
  }
  print_matrix_report(out, A);
  const std::chrono::duration<double> elapsed = Clock::now() - start;
  print_time_line(out, elapsed.count());
  if (!result.verdict.empty()) {
    err << "identify: " << result.verdict << std::endl;
  }
  for (const std::string& line : constraint_warnings(in.problem, A, result)) {
    err << "identify: warning: " << line << std::endl;
  }
  if (history) {
    const std::string history_error = history->finish();
    if (!history_error.empty()) {
      report_write_error(err, opt.history, history_error);
      written = false;
    }
  }
  // The optional outputs come after output.txt and the report, so that a
  // failure among them costs neither.
  if (!write_fit_outputs(opt, in.problem, in.obs, *model, A, result, trace,
                         elapsed.count(), err)) {
    written = false;
  }
  pause_for_user(!opt.no_pause, out);
  const int code = exit_code_for(result);
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
  const std::string clash = check_file_names(opt);
  if (!clash.empty()) {
    err << "identify: " << clash << std::endl;
    return kExitUsage;
  }
  std::vector<std::string> warnings;
  try {
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
