// The Levenberg–Marquardt method of fit_least_squares (method "lm").
#pragma once

#include <iosfwd>
#include <vector>

#include "fit/fit_tracker.h"
#include "fit/scaled_residuals.h"

namespace identify {

// Runs Ceres' bounded Levenberg–Marquardt on `residuals` from the scaled
// point y (which receives the end point), in rounds, reporting each
// trust-region step through `tracker`; ends through tracker.finish() with
// the verdict "lm: ...". Ceres' own logging is turned off first. An
// interrupt (the model's stop flag) ends the run with the best matrix of
// the steps finished.
IdentifyResult run_lm(Residuals& residuals, std::vector<double>& y,
                      Tracker& tracker, const FitCounts& counts, Matrix& A,
                      std::ostream& out);

}  // namespace identify
