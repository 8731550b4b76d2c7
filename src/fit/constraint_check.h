// After a run: the entries of the written matrix that break what the
// problem file says of them. The descent starts from the zero matrix and
// sets the fixed entries and checks the bounds only after each step, so a
// run that ends before its first step, or whose best matrix is the start,
// writes fixed entries at 0 and bounded entries whose interval excludes 0
// at 0; and an entry fixed outside its own bounds is put back by every step.
#pragma once

#include <string>
#include <vector>

#include "fit/stop.h"
#include "input/records.h"

namespace identify {

// One line per entry of A (row-major) that is off its fixed value (the last
// one named) or outside its bounds (the last interval named; NaN is
// outside), for the user after the run, without the "warning: " prefix:
//   "a12 is 0, not its fixed value 0.5 (the run stopped before the first step)"
//   "a21 is 0, outside its bounds [1, 2]"
// The note in parentheses says why where `result` tells: no step taken, or
// the matrix written is the start. Numbers as on the console (%g), with 17
// digits where six would show a fixed value and a different entry alike.
std::vector<std::string> constraint_warnings(const ProblemRecord& problem,
                                             const Matrix& A,
                                             const IdentifyResult& result);

}  // namespace identify
