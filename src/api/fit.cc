// fit(): the shared pipeline (pipeline.h) with the console lines and the
// iterations handed to the callbacks, and the result made from the fits
// (run_result).
#include "identify/fit.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <mutex>

#include "api/fit_results.h"
#include "api/line_stream.h"
#include "api/loaded_input.h"
#include "api/pipeline.h"
#include "api/run_result.h"

namespace identify {

namespace {

// What the console program prints on stderr starts "identify: "; the
// callback gets the line without it.
std::string without_program(const std::string& line) {
  const std::string prefix = "identify: ";
  return line.rfind(prefix, 0) == 0 ? line.substr(prefix.size()) : line;
}

// The lines that fits run beside others kept, each fit's after the other's.
void hand_kept_lines(const std::vector<ProblemFit>& fits,
                     const Callbacks& callbacks) {
  if (fits.size() < 2 || !callbacks.on_line) return;
  for (const ProblemFit& fit : fits) {
    callbacks.on_line("experiment " + fit.experiment, false);
    for (const auto& [text, to_stderr] :
         {std::pair{&fit.console, false}, std::pair{&fit.messages, true}}) {
      std::size_t from = 0;
      for (std::size_t end; (end = text->find('\n', from)) != std::string::npos;
           from = end + 1) {
        const std::string line = text->substr(from, end - from);
        callbacks.on_line(
            to_stderr ? fit.experiment + ": " + without_program(line) : line,
            to_stderr);
      }
    }
  }
}

}  // namespace

Result fit(const Problem& problem, const FitOptions& options,
           const Callbacks& callbacks) {
  const auto started = std::chrono::steady_clock::now();
  options.validate();
  const LoadedInput& in = problem.input();
  if (!in.legacy) require_measurements(in.loaded);
  PreparedRun run = prepare_run(in, options);
  std::vector<ProblemFit>& fits = run.fits;

  std::atomic<int> own_flag{0};
  std::atomic<int>* stop = options.stop ? options.stop : &own_flag;
  std::mutex lock;
  const std::function<void(const std::string&, std::int64_t, double, bool)>
      hook = [&](const std::string& label, std::int64_t count, double shown,
                 bool likelihood) {
        const std::lock_guard<std::mutex> hold(lock);
        const IterationEvent event{label, count, shown, likelihood};
        if (callbacks.on_iteration(event) == CallbackReturn::kStop) {
          int none = 0;
          stop->compare_exchange_strong(none, SIGINT);
        }
      };
  MonitorSettings settings = monitor_settings(in, options, stop);
  if (callbacks.on_iteration) settings.on_iteration = &hook;
  {
    LineStream out(
        [&](const std::string& line) {
          if (callbacks.on_line) callbacks.on_line(line, false);
        },
        lock);
    LineStream err(
        [&](const std::string& line) {
          if (callbacks.on_line) callbacks.on_line(without_program(line), true);
        },
        lock);
    run_prepared(in, run, settings, false, out, err);
  }
  hand_kept_lines(fits, callbacks);
  RunFacts facts;
  facts.info.loaded = &in.loaded;
  facts.info.choice = run.plan.choice;
  facts.info.threads = run.threads;
  facts.info.one_after_another = one_after_another(fits.size(), run.plan);
  facts.signal = stop->load();
  facts.legacy = in.legacy;
  facts.name = problem.name();
  const std::chrono::duration<double> elapsed =
      std::chrono::steady_clock::now() - started;
  facts.info.seconds = elapsed.count();
  return run_result(fits, facts);
}

}  // namespace identify
