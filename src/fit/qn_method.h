// The quasi-Newton method of fit_least_squares (method "lbfgsb").
#pragma once

#include <iosfwd>
#include <vector>

#include "fit/fit_tracker.h"
#include "fit/scaled_residuals.h"

namespace identify {

// Runs NLopt's bounded L-BFGS on `residuals` from the current matrix, in
// rounds, each scaled afresh at its start (`stand_in` as for
// Residuals::scale_at_current); every evaluation of the sum of squares and
// its gradient goes through `tracker`. Ends through tracker.finish() with
// the verdict "lbfgsb: ...". An interrupt (the model's stop flag) ends the
// run with the best matrix of the evaluations finished.
IdentifyResult run_qn(Residuals& residuals, const std::vector<double>& stand_in,
                      Tracker& tracker, const FitCounts& counts, Matrix& A,
                      std::ostream& out);

}  // namespace identify
