// What an interrupted run of several fits (--separately) has to show: each
// fit either ended on its own, was cut short with a best point so far, or
// never got to a point of its own (the signal came before its first
// iteration finished). Only the first two have results; the outputs leave
// the third out.
#pragma once

#include <string>
#include <vector>

#include "api/problem_fits.h"

namespace identify {

// Whether `fit` has a point of its own to write: it was not interrupted,
// or some iteration of it finished before the interrupt.
bool has_result(const ProblemFit& fit);

// The line that names the fits of an interrupted run by how far they got:
// "interrupted by signal 15: fitted: subject1, subject2; cut short (the
// best point so far is written): subject3; not fitted (left out of the
// outputs): subject4, subject5". Groups with no fit are left out.
std::string interrupted_fits_line(const std::vector<ProblemFit>& fits,
                                  int signal);

// Whether an interrupt cut a fit that ended as `summary` short, or a side
// of the profiles in `search`.
bool cut_short(const Summary& summary, const SearchResults& search);

// Whether an interrupt cut any of `fits` short (cut_short).
bool any_cut_short(const std::vector<ProblemFit>& fits);

// The fits of `fits` that have a result, moved out in their order.
std::vector<ProblemFit> fits_with_results(std::vector<ProblemFit>& fits);

}  // namespace identify
