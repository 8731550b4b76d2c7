// Gradient descent on the sum of squared residuals, with fixed and bounded
// entries, starting from the matrix the caller passes in (the driver passes
// the zero matrix) as it is: the fixed entries are set, and the bounds
// checked, only after each step, so the first iteration evaluates the start
// unchanged and a run that ends before its first step (or whose best matrix
// is the start) returns entries off their fixed values or outside their
// bounds (constraint_check.h says which).
#pragma once

#include <iosfwd>
#include <vector>

#include "fit/stop.h"
#include "input/records.h"
#include "model/matrix_model.h"

namespace identify {

// Runs the descent on A in place. Each iteration c: if the residual norm of
// A is <= epsilon, stop; otherwise A -= opt_par·gradient, fixed entries are
// set, a bounded entry that leaves its interval goes back to its value from
// before the step, and the line "<norm>:   COUNT = <c>" goes to `out`.
// Besides convergence the run stops (after the progress line) when the norm
// is not finite, when a step leaves A unchanged, when the best norm has not
// improved by a relative stop.min_improvement for stop.patience iterations,
// at stop.max_iter steps, or on an interrupt. In those cases A is set to the
// matrix with the lowest residual norm seen. The model gets stop.interrupt as
// its stop flag for the run: an interrupt abandons the sweep under way; an
// abandoned gradient takes no step (its iteration still gets its progress
// line), an abandoned evaluation is dropped, and A is the best matrix of the
// iterations finished (the start if none was). Ends with two empty lines and
// "ITERATION NUMBER = <count>". Allocates nothing inside the loop.
IdentifyResult identify_matrix(const ProblemRecord& problem,
                               const ObservationRecord& obs, MatrixModel& model,
                               Matrix& A, const StopSettings& stop,
                               std::ostream& out);

// What the problem file says of one entry of A.
struct EntryRole {
  enum Kind { kFree, kFixed, kBounded } kind = kFree;
  double lower = 0.0;  // the interval of a bounded entry
  double upper = 0.0;
};

// The role of every entry, row-major (i·N + j). An entry named among the
// fixed entries is fixed even if it is also bounded; a bounded entry named
// more than once has its last interval (which may be a single point).
std::vector<EntryRole> entry_roles(const ProblemRecord& problem);

// Sets the fixed entries, in record order.
void apply_fixed_entries(const ProblemRecord& problem, Matrix& A);

// Puts every bounded entry that lies outside its interval back to its value
// in `saved`. A value equal to a bound is inside; NaN stays.
void restore_bounded_entries(const ProblemRecord& problem, const Matrix& saved,
                             Matrix& A);

}  // namespace identify
