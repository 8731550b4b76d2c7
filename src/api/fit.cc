// fit(): one pipeline for every input. The options give one FitPlan; the
// problem gives its fits (the whole problem, each experiment on its own, or
// the legacy files' one fit with their descent rules); the fits run
// (run_fits) with the console lines and iterations handed to the
// callbacks; the result is made from the fits (result_of).
#include "identify/fit.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <mutex>

#include "api/fit_results.h"
#include "api/line_stream.h"
#include "api/loaded_input.h"
#include "api/problem_fits.h"
#include "api/profile_stage.h"
#include "api/run_result.h"
#include "fit/multistart/worker_pool.h"
#include "model/model_kind.h"

namespace identify {

namespace {

RunChoice choice_of(const FitOptions& o, const LoadedInput& in) {
  RunChoice c = input_defaults(in.legacy);
  if (o.model) c.model = *o.model == "grid" ? ModelKind::kGrid : ModelKind::kExact;
  if (o.method) {
    c.method = *o.method == "descent" ? Method::kDescent
               : *o.method == "lm"    ? Method::kLm
                                      : Method::kLbfgsb;
  }
  if (o.starts) c.starts = *o.starts;
  const std::string density =
      density_rule(in.loaded.problem, o.method.has_value(), c);
  if (!density.empty()) throw OptionsError(density);
  return c;
}

FitPlan plan_of(const FitOptions& o, RunChoice choice) {
  FitPlan plan;
  plan.choice = choice;
  plan.seed = static_cast<std::uint64_t>(o.seed);
  plan.threads =
      static_cast<int>(o.threads > 0 ? o.threads : default_thread_count());
  plan.verbose = o.verbose;
  plan.profile = o.profile || !o.profile_names.empty();
  plan.profile_names = o.profile_names;
  plan.separately = o.separately;
  return plan;
}

// The fits of the problem, each with its model.
std::vector<ProblemFit> fits_of(const LoadedInput& in, const FitPlan& plan) {
  try {
    if (!in.legacy) {
      return plan_fits(in.loaded.problem, plan.choice.model, plan.separately);
    }
    std::vector<ProblemFit> fits(1);
    fits[0].problem = in.loaded.problem;
    fits[0].descent = in.descent;
    for (int k = 0; k < fits[0].problem.parameter_count(); ++k) {
      fits[0].parameters.push_back(k);
    }
    fits[0].model = make_model(plan.choice.model, fits[0].problem);
    return fits;
  } catch (const ProblemError& e) {
    throw OptionsError(std::string("--model ") +
                       model_name(plan.choice.model) + ": " + e.what());
  }
}

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
  const FitPlan plan = plan_of(options, choice_of(options, in));
  const std::string bad_names = check_profile_names(plan, in.loaded.problem);
  if (!bad_names.empty()) throw OptionsError(bad_names);
  if (!in.legacy) require_measurements(in.loaded);
  std::vector<ProblemFit> fits = fits_of(in, plan);

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
  MonitorSettings settings;
  settings.epsilon = in.legacy ? in.epsilon : 0.0;
  settings.max_iter = options.max_iter;
  settings.patience = options.patience;
  settings.min_improvement = options.min_improvement;
  settings.interrupt = stop;
  if (callbacks.on_iteration) settings.on_iteration = &hook;

  const int threads = fit_threads(plan, fits.size());
  if (!in.legacy) {
    check_fit_memory(problem.name(), plan.choice.method, fits, threads);
  }
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
    run_fits(fits, plan, settings, false, threads, out, err);
  }
  hand_kept_lines(fits, callbacks);
  RunFacts facts;
  facts.info.loaded = &in.loaded;
  facts.info.choice = plan.choice;
  facts.info.threads = threads;
  facts.info.one_after_another = one_after_another(fits.size(), plan);
  facts.signal = stop->load();
  facts.legacy = in.legacy;
  facts.name = problem.name();
  const std::chrono::duration<double> elapsed =
      std::chrono::steady_clock::now() - started;
  facts.info.seconds = elapsed.count();
  return run_result(fits, facts);
}

}  // namespace identify
