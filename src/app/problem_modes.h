// The stages that only a problem file has: the checks and the runs that end
// before any fit (--export-petab, a population problem, output names that
// clash with its tables), --evaluate in place of the fit, and the PEtab
// simulation table of the result.
#pragma once

#include <iosfwd>
#include <optional>
#include <vector>

#include "api/problem_fits.h"
#include "app/options.h"
#include "input/yaml_problem_file.h"
#include "model/model_kind.h"

namespace identify {

// The run of `loaded` when it ends before the fit stages, with its exit
// code: --export-petab (the problem as PEtab, no fit), the usage code for
// output names that clash with the tables read, or the population fit
// (population_stage.h). Nothing when the fit stages are to run. Throws
// InputError for a problem without measurements.
std::optional<int> run_before_fits(const Options& opt,
                                   const LoadedProblem& loaded,
                                   std::ostream& out, std::ostream& err);

// --evaluate: the report at the parameters' values with the model `kind`,
// and the simulation table if asked for; no fit. The diverged code when the
// objective is not finite there.
int evaluate_only(const Options& opt, const LoadedProblem& loaded,
                  ModelKind kind, std::ostream& out, std::ostream& err);

// --simulations of a run with one fit of the whole problem, at its result;
// true when not asked for (or not possible) or written, false (with the
// reason on `err`) if it could not be written.
bool write_result_simulations(const Options& opt, const LoadedProblem& loaded,
                              const std::vector<ProblemFit>& fits,
                              std::ostream& err);

}  // namespace identify
