// The per-iteration bookkeeping that the library methods share with the
// descent: the epsilon test, the progress line, the best matrix, the
// monitor's stops, and the verdict that ends a library run.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>

#include "fit/run_monitor.h"
#include "fit/scaled_residuals.h"
#include "fit/stop.h"
#include "input/records.h"

namespace identify {

class Tracker {
 public:
  Tracker(const ProblemRecord& problem, const StopSettings& stop,
          std::ostream& out);

  // The start matrix and its residual norm: what the run writes if it ends
  // before any iteration finished.
  void set_start(const Matrix& A, double norm) { monitor_.set_start(A, norm); }

  // Iteration count() at matrix A with residual norm `norm`. The progress
  // line shows `norm`, or the lowest norm so far if `show_best`. Returns
  // false once the run has to end.
  bool iterate(double norm, const Matrix& A, bool show_best);

  // Ends the run for an interrupt noticed outside iterate() (a model call
  // cut short by the stop flag), unless it has already ended.
  void interrupt() {
    if (!reason_) reason_ = StopReason::kInterrupted;
  }

  bool stopped() const { return reason_.has_value(); }
  std::int64_t count() const { return count_; }
  const RunMonitor& monitor() const { return monitor_; }

  // Ends the run: A becomes the converged iterate or the best one (the
  // start if no iteration finished), the "ITERATION NUMBER" block is
  // printed. If the tracker did not stop the run, `library_reason` and
  // `library_text` say why the library did; kDiverged means the start had no
  // finite residual norm. The verdict starts with `name` and ends with the
  // model calls of `counts`.
  IdentifyResult finish(const std::string& name, StopReason library_reason,
                        const std::string& library_text,
                        const FitCounts& counts, Matrix& A,
                        std::ostream& out) const;

 private:
  double epsilon_;
  RunMonitor monitor_;
  std::int64_t count_ = 0;
  std::optional<StopReason> reason_;
  Matrix converged_;
  double converged_norm_ = 0.0;
  std::int64_t converged_iteration_ = 0;
};

// "; 19 model evaluations, 1 Jacobian, 2 gradients": the model calls of a
// fit, each count agreeing with its noun; gradients only when there were
// any.
std::string counts_text(const FitCounts& counts);

}  // namespace identify
