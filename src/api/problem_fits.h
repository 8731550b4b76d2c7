// The fits of a problem file run: one fit of the whole problem, or with
// --separately one fit per experiment, each on the problem of that
// experiment alone, so that every experiment has its own copy of every
// parameter. Each fit goes through the run's fit stages (one start or
// several, then the profiles asked for). The fits run in parallel, one
// experiment per thread, each with its starts and profiles on that thread;
// only fewer experiments than threads that search run one after another,
// each with all the worker threads for its starts and profiles. Either way
// the results do not depend on how many threads there are.
#pragma once

#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

#include "api/fit_plan.h"
#include "api/search_results.h"
#include "fit/method.h"
#include "fit/monitor.h"
#include "fit/norm_trace.h"
#include "fit/summary.h"
#include "model/model.h"
#include "model/model_kind.h"
#include "problem/fit_problem.h"

namespace identify {

struct ProblemFit {
  std::string experiment;  // its id with --separately; empty otherwise
  FitProblem problem;
  // The descent's rules and step: the legacy files' own; none for a
  // problem file.
  DescentSetup descent;
  // The parameters the fit is about, ascending: every parameter for the
  // whole problem, those the experiment's expressions use for one
  // experiment.
  std::vector<int> parameters;
  std::unique_ptr<Model> model;
  NormTrace trace;
  // The progress lines and the "ITERATION NUMBER" block of a fit that ran
  // beside others (a fit alone writes them to the console as it goes), and
  // the lines it had for stderr (each "identify: ...\n").
  std::string console;
  std::string messages;
  Summary summary;
  // What its starts and profiles found, for the outputs.
  SearchResults search;
};

// The problem of experiment `experiment` alone: the same parameters, those
// its expressions (matrix, x0, inputs, doses, lag, observables, sigmas) do
// not use made not estimated; `used` gets the ones it uses.
FitProblem experiment_problem(const FitProblem& problem, int experiment,
                              std::vector<int>& used);

// The fits of `problem` with their models: one, or one per experiment when
// `separately`. Throws ProblemError (the model's one-line reason) for a
// problem that `model` cannot serve, before any fit has run.
std::vector<ProblemFit> plan_fits(const FitProblem& problem, ModelKind model,
                                  bool separately);

// The threads of a run of `fits` fits: plan.threads when the fits search
// (the worker threads of each fit's starts and profiles), else one per fit
// up to the usable cores.
int fit_threads(const FitPlan& plan, std::size_t fits);

// Whether `fits` fits that search run one after another, each with
// plan.threads worker threads for its starts and profiles: when there are
// fewer fits than threads. Otherwise (and always for fits that do not
// search) the fits run in parallel, one per thread, each searching on its
// own thread.
bool one_after_another(std::size_t fits, const FitPlan& plan);

// Fits every fit by the method and starts of plan.choice under `settings`
// (fit_with_starts), then profiles it if `plan` asks (profile_result), each
// keeping its norms in its own trace when `keep_trace` (for the plot). A
// single fit writes its progress lines and --history as it goes to `out`
// and its messages to `err`; several keep theirs in `console` and
// `messages`, and run one after another or on min(fits, `threads`) threads
// as one_after_another says. An exception thrown by a fit
// (out of memory) is thrown here after every thread has ended.
void run_fits(std::vector<ProblemFit>& fits, const FitPlan& plan,
              const MonitorSettings& settings, bool keep_trace, int threads,
              std::ostream& out, std::ostream& err);

// Refuses, as an InputError naming `name`, fits whose dense Jacobians need
// more memory than the process may use (with `threads` workers for lm):
// the fits' factorisations could not be interrupted once begun.
void check_fit_memory(const std::string& name, Method method,
                      const std::vector<ProblemFit>& fits, int threads);

// The cores this process may run on (its CPU affinity), at least 1.
int usable_cores();

}  // namespace identify
