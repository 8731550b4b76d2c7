// The run of a population problem (one with random effects): its options
// checked, then the fit and its files (output/population_run.h), and the
// exit code of the outcome.
#pragma once

#include <iosfwd>

#include "app/options.h"
#include "problem/fit_problem.h"

namespace identify {

// The exit code: success, the usage code for a method other than foce-i
// (or foce-i without random effects) or an option a population fit does
// not serve, the input-error code for an observable with a Laplace density, the iteration-limit code when the
// optimiser stopped at its limit, the diverged code when no start gave a
// finite objective, the output-error code when a file was not written.
int population_run(const Options& opt, const FitProblem& problem,
                   std::ostream& out, std::ostream& err);

}  // namespace identify
