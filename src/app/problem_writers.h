// The writers of a problem file's run: the verdicts of its fits (with
// --separately each named by its experiment), the parameter table and the
// fit table (always), the parameter table on the console, and the report,
// trajectory and plot in the names of the problem's states, observables and
// experiments.
#pragma once

#include <memory>

#include "app/run_outputs.h"

namespace identify {

// The writers of `outcome`, a run of a problem file. Statistics, model
// values and sigmas are computed once per fit and shared by the tables, the
// console and the report (intervals cut at the bounds).
std::unique_ptr<InputWriters> problem_writers(RunOutcome& outcome);

}  // namespace identify
