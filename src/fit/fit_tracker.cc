// Bookkeeping of a library fit. The library reports iterations through a
// callback or an objective; each one goes through iterate(), which applies
// the same tolerance test and stops as the descent. The verdict names the
// library's reason only where the tracker did not end the run itself.
#include "fit/fit_tracker.h"

#include <algorithm>

#include "fit/wording.h"

namespace identify {

Tracker::Tracker(const ProblemRecord& problem, const StopSettings& stop,
                 std::ostream& out)
    : epsilon_(problem.epsilon),
      monitor_(stop, out, problem.dim),
      converged_(make_matrix(problem.dim)) {}

bool Tracker::iterate(double norm, const Matrix& A, bool show_best) {
  if (epsilon_ >= norm) {
    reason_ = StopReason::kConverged;
    converged_norm_ = norm;
    converged_iteration_ = count_;
    std::copy(A.data(), A.data() + A.size(), converged_.data());
    return false;
  }
  monitor_.observe(count_, norm, A);
  monitor_.progress(count_, show_best ? monitor_.best_norm() : norm);
  ++count_;
  reason_ = monitor_.check(count_);
  return !reason_;
}

IdentifyResult Tracker::finish(const std::string& name,
                               StopReason library_reason,
                               const std::string& library_text,
                               const FitCounts& counts, Matrix& A,
                               std::ostream& out) const {
  IdentifyResult result;
  const StopReason reason = reason_ ? *reason_ : library_reason;
  if (reason == StopReason::kConverged) {
    std::copy(converged_.data(), converged_.data() + A.size(), A.data());
    result.reason = reason;
    result.norm = converged_norm_;
    result.best_iteration = converged_iteration_;
  } else {
    result = monitor_.stop_with_best(reason, A);
    if (reason_ || reason == StopReason::kDiverged) {
      result.verdict =
          name + ": " + monitor_.verdict(reason, count_, epsilon_, 0.0);
    } else {
      result.verdict =
          name + ": " + library_text + "; " +
          monitor_.verdict(StopReason::kMethodConverged, count_, epsilon_, 0.0);
    }
    result.verdict += counts_text(counts);
  }
  result.iterations = count_;
  print_iteration_count(out, count_);
  return result;
}

std::string counts_text(const FitCounts& counts) {
  std::string text =
      "; " +
      count_text(counts.evaluations, "model evaluation", "model evaluations") +
      ", " + count_text(counts.jacobians, "Jacobian", "Jacobians");
  if (counts.gradients > 0) {
    text += ", " + count_text(counts.gradients, "gradient", "gradients");
  }
  return text;
}

}  // namespace identify
