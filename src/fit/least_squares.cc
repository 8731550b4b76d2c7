// Bounded least squares for A. The unknowns u are the entries of A that are
// neither fixed nor confined to a one-point interval; the residuals are
// r(u) = M(A(u)) − d over every sample, and both methods minimise
// S(u) = sum r² subject to l <= u <= h, in scaled unknowns y = u / s
// (scaled_residuals.h has the scaling). Levenberg–Marquardt runs in
// lm_method.cc, L-BFGS in qn_method.cc; both report every iteration through
// one Tracker (fit_tracker.h), so the console, the stops and the verdicts
// are those of the descent. This file prepares the unknowns and the start,
// and ends the runs that need no library at all.
#include "fit/least_squares.h"

#include <cmath>
#include <ostream>
#include <vector>

#include "fit/fit_tracker.h"
#include "fit/lm_method.h"
#include "fit/qn_method.h"
#include "fit/scaled_residuals.h"

namespace identify {

IdentifyResult fit_least_squares(const ProblemRecord& problem,
                                 const ObservationRecord& obs,
                                 MatrixModel& model, Matrix& A,
                                 const StopSettings& stop, std::ostream& out,
                                 LeastSquaresMethod method, FitCounts* counts) {
  const bool lm = method == LeastSquaresMethod::kLevenbergMarquardt;
  const char* name = lm ? "lm" : "lbfgsb";
  FitCounts local;
  FitCounts& used = counts != nullptr ? *counts : local;
  used = FitCounts{};
  const StopFlagScope stop_scope(model, stop.interrupt);

  Residuals residuals(obs, model, A, prepare_unknowns(problem, A), used);
  Tracker tracker(problem, stop, out);
  const double start_norm = residuals.evaluate_current();
  tracker.set_start(residuals.matrix(), start_norm);
  if (residuals.stop_requested()) {
    tracker.interrupt();
    return tracker.finish(name, StopReason::kInterrupted, "", used, A, out);
  }
  if (!std::isfinite(start_norm) || residuals.unknowns() == 0) {
    tracker.iterate(start_norm, residuals.matrix(), false);
    const bool finite = std::isfinite(start_norm);
    return tracker.finish(
        name, finite ? StopReason::kMethodConverged : StopReason::kDiverged,
        "every entry of A is fixed", used, A, out);
  }
  const std::vector<double> stand_in =
      stand_in_columns(problem, obs, residuals);
  if (!lm) return run_qn(residuals, stand_in, tracker, used, A, out);
  std::vector<double> y = residuals.scale_at_current(stand_in);
  if (residuals.stop_requested()) {
    tracker.interrupt();
    return tracker.finish(name, StopReason::kInterrupted, "", used, A, out);
  }
  return run_lm(residuals, y, tracker, used, A, out);
}

}  // namespace identify
