// The console of a run of many fits made one experiment at a time: one line
// per experiment instead of the progress lines of each of its starts, so
// that a study of hundreds of subjects prints hundreds of lines, not
// thousands. --verbose keeps every line.
#pragma once

#include <cstddef>
#include <string>

#include "api/problem_fits.h"

namespace identify {

// More fits than this print one line each (unless verbose).
inline constexpr std::size_t kFitsWithFullConsole = 10;

// Whether `fits` fits print one line each.
inline bool one_line_per_fit(std::size_t fits, bool verbose) {
  return fits > kFitsWithFullConsole && !verbose;
}

// "experiment ID1: norm 0.0123456 after 12 iterations", the norm the
// fit's result has (−2 ln L for a likelihood), to six digits.
std::string experiment_line(const ProblemFit& fit);

}  // namespace identify
