// Fits of a problem file. Parallel fits take experiments from a shared
// counter, so a thread that finishes early takes the next one; every fit
// writes only its own ProblemFit, and each result depends on its
// experiment alone, so neither the order in which fits finish nor the
// number of threads changes a bit of it.
#include "api/problem_fits.h"

#include <sched.h>

#include <algorithm>
#include <atomic>
#include <exception>
#include <set>
#include <sstream>
#include <thread>
#include <tuple>

#include "api/bootstrap_stage.h"
#include "api/multistart_stage.h"
#include "api/profile_stage.h"
#include "fit/dense_memory.h"
#include "fit/library_logging.h"
#include "fit/long_table.h"
#include "fit/objective.h"
#include "fit/wording.h"
#include "input/input_error.h"

namespace identify {

namespace {

template <class E>
void add_parameters(const E& e, std::set<int>& used) {
  used.insert(e.parameters().begin(), e.parameters().end());
}

std::set<int> parameters_of(const Experiment& e, int problem_parameter_count) {
  std::set<int> used;
  for (const MatrixTerm& t : e.matrix) add_parameters(t.value, used);
  for (const BoundExpression& x : e.x0) add_parameters(x, used);
  for (const Source& s : e.sources) {
    add_parameters(s.amp, used);
    add_parameters(s.rate, used);
  }
  for (const Dose& d : e.doses) {
    add_parameters(d.time, used);
    add_parameters(d.amount, used);
    if (d.infusion) add_parameters(d.duration, used);
  }
  add_parameters(e.lag, used);
  for (const ObservableTerms& o : e.observables) {
    for (const auto& [state, c] : o.coefficients) add_parameters(c, used);
    add_parameters(o.offset, used);
  }
  for (const Measurement& m : e.measurements) add_parameters(m.sigma, used);
  // A sigma's slot of the model value is no parameter.
  used.erase(used.lower_bound(problem_parameter_count), used.end());
  return used;
}

// One fit under its own copy of the settings: its starts, then its
// profiles if asked for.
void run_one(ProblemFit& fit, const FitPlan& plan, MonitorSettings settings,
             bool keep_trace, std::ostream& out, std::ostream& err) {
  if (keep_trace) settings.trace = &fit.trace;
  settings.label = &fit.experiment;
  const FitTask task{fit.problem, fit.descent};
  fit.summary =
      fit_with_starts(plan, task, *fit.model, settings, out, fit.search);
  for (const std::string& warning : fit.search.warnings) {
    err << "identify: warning: " << warning << std::endl;
  }
  if (plan.profile) {
    profile_result(plan, task, *fit.model, settings, fit.summary, fit.search,
                   out, err);
  }
  bootstrap_result(plan, task, *fit.model, settings, fit.summary, fit.search,
                   out);
}

// One fit of several, its console text and messages kept.
void run_kept(ProblemFit& fit, const FitPlan& plan,
              const MonitorSettings& settings, bool keep_trace) {
  std::ostringstream console, messages;
  run_one(fit, plan, settings, keep_trace, console, messages);
  fit.console = console.str();
  fit.messages = messages.str();
}

}  // namespace

FitProblem experiment_problem(const FitProblem& problem, int experiment,
                              std::vector<int>& used) {
  FitProblem one;
  one.states = problem.states;
  one.parameters = problem.parameters;
  one.observables = problem.observables;
  one.noise = problem.noise;
  one.horizon = problem.horizon;
  one.experiments = {problem.experiments[experiment]};
  const std::set<int> uses =
      parameters_of(one.experiments[0], one.parameter_count());
  used.assign(uses.begin(), uses.end());
  for (int k = 0; k < one.parameter_count(); ++k) {
    if (!uses.contains(k)) one.parameters[k].estimated = false;
  }
  return one;
}

std::vector<ProblemFit> plan_fits(const FitProblem& problem, ModelKind model,
                                  bool separately) {
  std::vector<ProblemFit> fits;
  if (!separately) {
    fits.emplace_back();
    fits[0].problem = problem;
    for (int k = 0; k < problem.parameter_count(); ++k) {
      fits[0].parameters.push_back(k);
    }
  } else {
    fits.resize(problem.experiments.size());
    for (std::size_t e = 0; e < fits.size(); ++e) {
      fits[e].experiment = problem.experiments[e].id;
      fits[e].problem =
          experiment_problem(problem, static_cast<int>(e), fits[e].parameters);
    }
  }
  for (ProblemFit& fit : fits) fit.model = make_model(model, fit.problem);
  return fits;
}

void check_fit_memory(const std::string& name, Method method,
                      const std::vector<ProblemFit>& fits, int threads) {
  const int workers = method == Method::kLm ? threads : 0;
  double need = 0.0;
  std::size_t m = 0, n = 0;
  for (const ProblemFit& fit : fits) {
    const std::size_t fm = fit.problem.counted_measurement_count();
    const std::size_t fn = fitted_parameters(method, fit.problem).size();
    const bool normal =
        long_table_fit(!objective_is_likelihood(fit.problem), fm, fn);
    const double bytes =
        dense_fit_bytes(static_cast<std::int64_t>(fm),
                        static_cast<std::int64_t>(fn), workers, normal);
    if (bytes > need) std::tie(need, m, n) = std::tuple(bytes, fm, fn);
  }
  const double have = usable_memory_bytes();
  if (have <= 0.0 || need <= have) return;
  std::ostringstream s;
  s.precision(3);
  s << name << ": " << n << " fitted parameters and " << m
    << " measurements: the dense Jacobians of the fit ("
    << count_text(std::max(workers, 1), "thread", "threads") << ") need about "
    << need / (1u << 30) << " GiB of memory, more than this process may use ("
    << have / (1u << 30) << " GiB)";
  throw InputError(s.str());
}

int usable_cores() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0) {
    return std::max(1, CPU_COUNT(&set));
  }
  return std::max(1u, std::thread::hardware_concurrency());
}

int fit_threads(const FitPlan& plan, std::size_t fits) {
  return plan.searches()
             ? plan.threads
             : std::min<int>(static_cast<int>(fits), usable_cores());
}

bool one_after_another(std::size_t fits, const FitPlan& plan) {
  return fits > 1 && plan.searches() &&
         fits < static_cast<std::size_t>(plan.threads);
}

void run_fits(std::vector<ProblemFit>& fits, const FitPlan& plan,
              const MonitorSettings& settings, bool keep_trace, int threads,
              std::ostream& out, std::ostream& err) {
  if (fits.size() == 1) {
    run_one(fits[0], plan, settings, keep_trace, out, err);
    return;
  }
  // The libraries' logging is set once, before any thread starts.
  silence_library_logging();
  if (one_after_another(fits.size(), plan)) {
    for (ProblemFit& fit : fits) run_kept(fit, plan, settings, keep_trace);
    return;
  }
  FitPlan one_thread = plan;
  one_thread.threads = 1;
  std::vector<std::exception_ptr> errors(fits.size());
  std::atomic<std::size_t> next{0};
  const auto work = [&] {
    for (std::size_t f; (f = next.fetch_add(1)) < fits.size();) {
      try {
        run_kept(fits[f], one_thread, settings, keep_trace);
      } catch (...) {
        errors[f] = std::current_exception();
      }
    }
  };
  const std::size_t count = std::min<std::size_t>(
      fits.size(), static_cast<std::size_t>(std::max(threads, 1)));
  std::vector<std::thread> helpers;
  for (std::size_t t = 1; t < count; ++t) helpers.emplace_back(work);
  work();
  for (std::thread& t : helpers) t.join();
  for (const std::exception_ptr& e : errors) {
    if (e) std::rethrow_exception(e);
  }
}

}  // namespace identify
