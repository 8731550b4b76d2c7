// The problem that the fit stages (one or several starts, profiles) work
// on, whichever input it came from: the legacy files' problem with its
// descent rules and step, or a problem file's problem (or one experiment of
// it) with no descent set-up.
#pragma once

#include "api/fit_plan.h"
#include "fit/fit_setup.h"
#include "fit/method.h"
#include "fit/monitor.h"
#include "problem/fit_problem.h"

namespace identify {

// Both referents outlive the stage that is given the task.
struct FitTask {
  const FitProblem& problem;
  const DescentSetup& descent;
};

// What the worker threads of a stage need to fit `task` by `method` on
// models of choice.model: the run's stops without its console, history or
// trace (a worker's fit is not the run's), the parameters `method` fits,
// and the values of the others at the usual start (the descent's start
// for the descent, the parameters' values otherwise). `task` must outlive
// the setup.
FitSetup worker_setup(RunChoice choice, Method method, const FitTask& task,
                      const MonitorSettings& settings);

}  // namespace identify
