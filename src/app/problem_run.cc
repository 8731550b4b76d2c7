// A problem file from load to exit code. The fits' verdicts go to stderr
// after their progress lines (with --separately, each fit's lines, its
// messages and its verdict named by its experiment, in experiment order,
// once all have run), then the parameter table to the console.
#include "app/problem_run.h"

#include <algorithm>
#include <optional>
#include <ostream>

#include "app/console.h"
#include "app/exit_codes.h"
#include "app/file_names.h"
#include "app/problem_fits.h"
#include "app/problem_outputs.h"
#include "app/profile_stage.h"
#include "fit/multistart/worker_pool.h"
#include "input/yaml_problem_file.h"
#include "output/fd_stream.h"

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
// verdict, in order.
void print_fits(const std::vector<ProblemFit>& fits, std::ostream& out,
                std::ostream& err) {
  for (std::size_t f = 0; f < fits.size() && fits.size() > 1; ++f) {
    out << "experiment " << fits[f].experiment << std::endl
        << fits[f].console << std::flush;
    print_messages(fits[f], err);
  }
  for (const ProblemFit& fit : fits) {
    const std::string line = verdict(fit.summary);
    if (line.empty()) continue;
    err << "identify: " << (fit.experiment.empty() ? "" : fit.experiment + ": ")
        << line << std::endl;
  }
}

int exit_code_of(const std::vector<ProblemFit>& fits) {
  int code = kExitSuccess;
  for (const ProblemFit& fit : fits) {
    const int c = exit_code(fit.summary);
    if (c == kExitSigint || c == kExitSigterm) return c;
    if (code == kExitSuccess) code = c;
  }
  return code;
}

}  // namespace

int run_problem_file(const Options& opt,
                     std::chrono::steady_clock::time_point start,
                     std::ostream& out, std::ostream& err) {
  const LoadedProblem loaded = read_yaml_problem(opt.problem);
  require_measurements(loaded);
  const std::string clash = check_problem_file_names(opt, tables_of(loaded));
  if (!clash.empty()) {
    err << "identify: " << clash << std::endl;
    return kExitUsage;
  }
  const RunChoice choice = run_choice(opt, InputKind::kProblemFile);
  const std::string bad_names =
      check_profile_names(opt, choice, loaded.problem);
  if (!bad_names.empty()) {
    err << "identify: " << bad_names << std::endl;
    return kExitUsage;
  }
  std::vector<ProblemFit> fits;
  try {
    fits = plan_fits(loaded.problem, choice.model, opt.separately);
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
    history->stream() << "iteration,residual_norm" << std::endl;
  }
  const MonitorSettings settings =
      settings_of(opt, history ? &history->stream() : nullptr);

  // Parallel experiments, or the worker threads of each fit's search.
  const int threads =
      searches(opt, choice)
          ? static_cast<int>(opt.threads > 0 ? opt.threads
                                             : default_thread_count())
          : std::min<int>(static_cast<int>(fits.size()), usable_cores());
  install_interrupt_handlers();
  run_fits(fits, opt, choice, settings, !opt.plot.empty(), threads, out, err);
  restore_interrupt_defaults();
  name_subject(fits);
  print_fits(fits, out, err);

  bool written = true;
  if (history) {
    const std::string error = history->finish();
    if (!error.empty()) {
      err << "identify: cannot write " << opt.history << ": " << error
          << std::endl;
      written = false;
    }
  }
  ProblemRunInfo info;
  info.loaded = &loaded;
  info.choice = choice;
  info.threads = threads;
  info.one_after_another = one_after_another(fits.size(), opt, choice, threads);
  const std::chrono::duration<double> elapsed =
      std::chrono::steady_clock::now() - start;
  info.seconds = elapsed.count();
  if (!write_problem_outputs(opt, info, fits, out, err)) written = false;
  const int code = exit_code_of(fits);
  return written ? code : with_output_failure(code);
}

}  // namespace identify
