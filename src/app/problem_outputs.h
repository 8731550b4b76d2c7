// What a problem file run leaves behind: the parameter table and the fit
// table (always), the parameter table on the console, and the report,
// trajectory and plot that the options ask for, all in the names of the
// problem's states, observables and experiments.
#pragma once

#include <iosfwd>
#include <vector>

#include "app/options.h"
#include "api/fit_results.h"
#include "api/problem_fits.h"
#include "app/writing_phase.h"
#include "input/yaml_problem_file.h"

namespace identify {


// Writes --parameters and --fit, prints the parameter table on `out`, and
// writes --report, --trajectory, --plot and --profiles if asked for, for
// the results of `fits` (the statistics of each computed here, intervals
// cut at the bounds; the starts and profiles of each from its search). Each
// file goes through an OutputFile, its stale temporary files removed first; one
// that cannot be written gets "identify: cannot write FILE: reason" on `err`
// and the others are still written. Each file is begun only if `writing`
// admits it. Returns false if any of them failed.
bool write_problem_outputs(const Options& opt, const ProblemRunInfo& info,
                           std::vector<ProblemFit>& fits, WritingPhase& writing,
                           std::ostream& out, std::ostream& err);

}  // namespace identify
