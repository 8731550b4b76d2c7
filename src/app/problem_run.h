// The run of a problem file: load the problem file and the tables it names,
// check the output names against them, build the model of every fit, fit
// (the whole problem, or with --separately every experiment on its own, in
// parallel), and write the results. A problem file run never pauses and
// prints no "loaded" lines: its record is the result tables.
#pragma once

#include <chrono>
#include <iosfwd>

#include "app/options.h"

namespace identify {

// Returns the exit code: that of the fit, or with --separately that of the
// first experiment (in experiment order) whose fit did not succeed, an
// interrupt's before any other; the usage code for names that clash or a
// model that cannot serve the problem; the output-error code if a result
// could not be written. Throws InputError (a fault in the problem file or
// a table, before any work) and std::bad_alloc.
int run_problem_file(const Options& opt,
                     std::chrono::steady_clock::time_point start,
                     std::ostream& out, std::ostream& err);

}  // namespace identify
