// The problem that the fit stages (one or several starts, profiles) work
// on, whichever input it came from: the legacy files' problem with its
// descent rules and step, or a problem file's problem (or one experiment of
// it) with no descent set-up.
#pragma once

#include "fit/method.h"
#include "problem/fit_problem.h"

namespace identify {

// Both referents outlive the stage that is given the task.
struct FitTask {
  const FitProblem& problem;
  const DescentSetup& descent;
};

}  // namespace identify
