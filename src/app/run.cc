// The run's fixed sequence. Each stage either succeeds or ends the run with
// a message on stderr and its own exit code; no stage starts on bad data.
#include "app/run.h"

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <fstream>
#include <memory>
#include <new>
#include <ostream>

#include "app/console.h"
#include "app/exit_codes.h"
#include "app/fit_outputs.h"
#include "app/options.h"
#include "fit/descent.h"
#include "fit/least_squares.h"
#include "input/measurement_file.h"
#include "input/problem_file.h"
#include "model/exact/exact_matrix_model.h"
#include "model/grid/grid_model.h"
#include "output/result_file.h"

namespace identify {

namespace {

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

}  // namespace

int run(int argc, const char* const* argv, std::ostream& out,
        std::ostream& err) {
  const auto start = std::chrono::steady_clock::now();
  const ParsedOptions parsed = parse_options(argc, argv, out, err);
  if (!parsed.options) return parsed.exit_code;
  const Options& opt = *parsed.options;
  if (!opt.directory.empty() && chdir(opt.directory.c_str()) != 0) {
    err << "identify: -C: cannot change to directory \"" << opt.directory
        << "\": " << std::strerror(errno) << std::endl;
    return kExitUsage;
  }
  // Warnings of the token loop are printed even when the file then fails
  // its checks: a skipped line is often why a file comes up short.
  std::vector<std::string> warnings;
  try {
    const ProblemRecord problem = read_problem_file(opt.input, &warnings);
    flush_warnings(err, warnings);
    out << "File was successfully loaded!" << std::endl << std::endl;
    pause_for_user(!opt.no_pause, out);

    ObservationRecord obs =
        read_measurement_file(opt.data, problem.dim, problem.T, &warnings);
    flush_warnings(err, warnings);
    out << std::endl
        << "Data file was successfully loaded!" << std::endl
        << std::endl;
    pause_for_user(!opt.no_pause, out);

    // Point 0 of every series is the known initial value of the component
    // that the series observes.
    for (int k = 0; k < obs.data_num; ++k) {
      obs.add_data[k][0] = problem.init_val[obs.is_data_exist[k]];
    }

    const double need = working_bytes(problem.dim);
    const double have = physical_bytes();
    if (have > 0.0 && need > have) {
      err << "identify: " << opt.input << ": dim " << problem.dim
          << " needs about " << need / (1u << 30)
          << " GiB of working memory, more than this machine has ("
          << have / (1u << 30) << " GiB)" << std::endl;
      return kExitInputError;
    }

    std::ofstream history;
    NormTrace trace;
    StopSettings stop;
    stop.max_iter = opt.max_iter;
    stop.patience = opt.patience;
    stop.min_improvement = opt.min_improvement;
    stop.quiet = opt.quiet;
    stop.interrupt = &interrupt_flag();
    if (!opt.plot.empty()) stop.trace = &trace;
    if (!opt.history.empty()) {
      history.open(opt.history, std::ios::out | std::ios::trunc);
      if (!history) {
        err << "identify: cannot write " << opt.history << ": "
            << std::strerror(errno) << std::endl;
        return kExitOutputError;
      }
      history << "iteration,residual_norm" << std::endl;
      stop.history = &history;
    }

    // --model picks how the samples are computed, --method how A is fitted
    // to them; the defaults are the grid model and the descent.
    Matrix A = make_matrix(problem.dim);
    std::unique_ptr<MatrixModel> model;
    if (opt.model == "exact") {
      model = std::make_unique<ExactMatrixModel>(problem, obs);
    } else {
      model = std::make_unique<GridModel>(problem, obs);
    }
    // Ctrl-C during the fit finishes the iteration and keeps the best
    // matrix; before and after it (at the pauses) it ends the program.
    install_interrupt_handlers();
    IdentifyResult result;
    if (opt.method == "descent") {
      result = identify_matrix(problem, obs, *model, A, stop, out);
    } else {
      result = fit_least_squares(problem, obs, *model, A, stop, out,
                                 opt.method == "lm"
                                     ? LeastSquaresMethod::kLevenbergMarquardt
                                     : LeastSquaresMethod::kQuasiNewton);
    }

    restore_interrupt_defaults();
    const std::string write_error = write_result_file(opt.output, A);
    if (!write_error.empty()) {
      err << "identify: cannot write " << opt.output << ": " << write_error
          << std::endl;
    }
    print_matrix_report(out, A);
    const std::chrono::duration<double> elapsed =
        std::chrono::steady_clock::now() - start;
    print_time_line(out, elapsed.count());
    if (!result.verdict.empty()) {
      err << "identify: " << result.verdict << std::endl;
    }
    if (history.is_open()) {
      history.close();
      if (!history) {
        err << "identify: cannot write " << opt.history << std::endl;
      }
    }
    // The optional outputs come after output.txt and the report, so that a
    // failure among them costs neither.
    const bool extras_written = write_fit_outputs(
        opt, problem, obs, *model, A, result, trace, elapsed.count(), err);
    pause_for_user(!opt.no_pause, out);
    if (!write_error.empty() || !extras_written) return kExitOutputError;
    return exit_code_for(result);
  } catch (const InputError& e) {
    flush_warnings(err, warnings);
    err << "identify: " << e.what() << std::endl;
    return kExitInputError;
  } catch (const std::bad_alloc&) {
    err << "identify: out of memory" << std::endl;
    return kExitInternal;
  }
}

}  // namespace identify
