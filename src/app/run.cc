// The run's fixed sequence, one for every input: load → plan and build the
// fits → fit → write → exit code. The input decides only how it is loaded,
// the checks a problem file has before its fits, and the writers of its
// result (run_outputs.h). Each stage either succeeds or ends the run with a
// message on stderr and its own exit code; no stage starts on bad data.
// Writes are checked everywhere: every output file, standard output and the
// report stream; a failure among them is reported with the system's reason
// and gives the output-error code, but never stops the other outputs.
#include "app/run.h"

#ifdef __GLIBC__
#include <malloc.h>
#endif

#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <new>
#include <optional>
#include <ostream>

#include "api/convert_events.h"
#include "api/convert_files.h"
#include "api/exit_codes.h"
#include "api/run_result.h"
#include "api/shard_run.h"
#include "app/console.h"
#include "app/file_names.h"
#include "app/options.h"
#include "app/problem_modes.h"
#include "app/run_input.h"
#include "app/run_outputs.h"
#include "fit/objective.h"
#include "identify/errors.h"
#include "input/input_error.h"
#include "output/fd_stream.h"

namespace identify {

namespace {

using Clock = std::chrono::steady_clock;

// --history, its header written: the norm, or -2 ln L of a likelihood.
// False (with the reason on `err`) if it cannot be opened.
bool open_history(const Options& opt, bool likelihood,
                  std::optional<StreamedOutput>& history, std::ostream& err) {
  if (opt.history.empty()) return true;
  history.emplace(opt.history);
  if (!history->open_error().empty()) {
    err << "identify: cannot write " << opt.history << ": "
        << history->open_error() << std::endl;
    return false;
  }
  history->stream() << (likelihood ? "iteration,minus_2_ln_L"
                                   : "iteration,residual_norm")
                    << std::endl;
  return true;
}

ShardSettings shard_settings(const Options& opt) {
  return {opt.problem,   opt.shard_index, opt.shard_count,
          opt.shard_dir, opt.merge_dirs,  opt.parameters,
          opt.fit,       opt.profiles,    opt.bootstrap_file};
}

// The fits of `input` planned, run and written. Ctrl-C from the end of
// loading to the end of the fits abandons the model computation under way
// and keeps the best θ of a finished iteration; before (at the legacy
// files' pauses) it ends the program, and after it stops the writing
// between two outputs (WritingPhase).
int fit_and_write(const Options& opt, const RunInput& input,
                  Clock::time_point start, std::ostream& out,
                  std::ostream& err) {
  LoadedInput& in = *input.in;
  const FitOptions fit_opt = fit_options(opt);
  const ShardSettings shards = shard_settings(opt);
  const bool likelihood =
      !opt.history.empty() && objective_is_likelihood(in.loaded.problem);
  PreparedRun run;
  try {
    run = prepare_run_moving(in, fit_opt);
  } catch (const OptionsError& e) {
    err << "identify: " << e.what() << std::endl;
    return kExitUsage;
  }
  if (opt.evaluate) {
    // The evaluation makes its own model: the planned fits' go first.
    std::vector<ProblemFit>().swap(run.fits);
    return evaluate_only(opt, in.loaded, run.plan.choice.model, out, err);
  }
  ShardWork known;
  if (const std::optional<int> code =
          begin_shards(shards, fit_opt, run, known, err)) {
    return *code;
  }
  std::optional<StreamedOutput> history;
  if (!open_history(opt, likelihood, history, err)) {
    return kExitOutputError;
  }
  MonitorSettings settings = monitor_settings(in, fit_opt, &interrupt_flag());
  settings.quiet = opt.quiet;
  settings.history = history ? &history->stream() : nullptr;
  install_interrupt_handlers();
  run_prepared(in, run, settings, !opt.plot.empty(), out, err);

  const std::chrono::duration<double> elapsed = Clock::now() - start;
  RunOutcome outcome{opt, input, run, interrupt_flag().load(), elapsed.count()};
  int writing_signal = 0;
  bool written = write_run(outcome, history, writing_signal, out, err);
  written = write_result_simulations(opt, in.loaded, run.fits, err) && written;
  if (written && opt.shard_count > 0 &&
      !finish_shard(shards, fit_opt, run, err)) {
    written = false;
  }
  if (input.legacy()) {
    // Ctrl-C at the pause ends the program.
    restore_interrupt_defaults();
    pause_for_user(!opt.no_pause, out);
  }
  // An interrupt during the profiles leaves a converged fit as it is but
  // still ends the run as interrupted.
  const int code = exit_code_of(
      run.fits, outcome.signal != 0 ? outcome.signal : writing_signal);
  return written ? code : with_output_failure(code);
}

// Returns the heap's free pages to the system (glibc; elsewhere nothing).
void release_freed_memory() {
#ifdef __GLIBC__
  malloc_trim(0);
#endif
}

// Loads the input of `opt` and runs it. Throws InputError and
// std::bad_alloc.
int load_and_run(const Options& opt, Clock::time_point start,
                 std::vector<std::string>& warnings, std::ostream& out,
                 std::ostream& err) {
  if (input_kind(opt) == InputKind::kLegacyFiles) {
    return fit_and_write(opt, load_legacy_input(opt, warnings, out, err), start,
                         out, err);
  }
  const RunInput input = load_problem_file(opt);
  // The text of the tables and the builder's blocks are freed now; main()
  // asks glibc to keep freed memory for the fits' repeated Jacobians, so
  // hand this once back to the system rather than carry it through the run.
  release_freed_memory();
  const std::optional<int> ended =
      run_before_fits(opt, input.in->loaded, out, err);
  return ended ? *ended : fit_and_write(opt, input, start, out, err);
}

// The stages after the options, with the failures that end them.
int run_with(const Options& opt, Clock::time_point start, std::ostream& out,
             std::ostream& err) {
  if (!opt.directory.empty() && chdir(opt.directory.c_str()) != 0) {
    err << "identify: -C: cannot change to directory \"" << opt.directory
        << "\": " << std::strerror(errno) << std::endl;
    return kExitUsage;
  }
  if (input_kind(opt) == InputKind::kLegacyFiles && !opt.convert) {
    const std::string clash = check_file_names(opt);
    if (!clash.empty()) {
      err << "identify: " << clash << std::endl;
      return kExitUsage;
    }
  }
  std::vector<std::string> warnings;
  try {
    if (opt.convert)
      return convert_legacy_files(opt.input, opt.data, warnings, out, err);
    if (opt.convert_events) return convert_event_files(opt.problem, out, err);
    return load_and_run(opt, start, warnings, out, err);
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
