// Best-so-far tracking and the run's stop tests. The no-progress test keeps a
// reference norm r set at the last iteration where the best norm b dropped
// below r·(1 − min_improvement); once `patience` iterations pass without such
// a drop the run stops. A descent that keeps improving by more than that
// fraction per window never trips it.
#include "fit/run_monitor.h"

#include <cmath>
#include <cstdio>
#include <ostream>
#include <sstream>

namespace identify {

RunMonitor::RunMonitor(const StopSettings& settings, std::ostream& out, int n)
    : settings_(settings), out_(out), best_(make_matrix(n)) {}

void RunMonitor::observe(std::int64_t iteration, double norm, const Matrix& A) {
  if (!has_best_) {
    window_norm_ = norm;
    window_start_ = iteration;
  }
  if (!has_best_ || norm < best_norm_ ||
      (std::isnan(best_norm_) && !std::isnan(norm))) {
    has_best_ = true;
    best_norm_ = norm;
    best_iteration_ = iteration;
    std::copy(A.data(), A.data() + A.size(), best_.data());
  }
  if (best_norm_ < window_norm_ - window_norm_ * settings_.min_improvement) {
    window_norm_ = best_norm_;
    window_start_ = iteration;
  }
}

void RunMonitor::progress(std::int64_t iteration, double norm) {
  if (!settings_.quiet) {
    out_ << norm << ":   COUNT = " << iteration << std::endl;
  }
  if (settings_.history != nullptr) {
    char line[64];
    std::snprintf(line, sizeof line, "%lld,%.17g\n",
                  static_cast<long long>(iteration), norm);
    *settings_.history << line << std::flush;
  }
  if (settings_.trace != nullptr) settings_.trace->record(iteration, norm);
}

IdentifyResult RunMonitor::stop_with_best(StopReason reason, Matrix& A) const {
  std::copy(best_.data(), best_.data() + A.size(), A.data());
  IdentifyResult result;
  result.reason = reason;
  result.norm = best_norm_;
  result.best_iteration = best_iteration_;
  result.signal = interrupt_signal();
  return result;
}

int RunMonitor::interrupt_signal() const {
  return settings_.interrupt == nullptr ? 0 : settings_.interrupt->load();
}

std::optional<StopReason> RunMonitor::check(std::int64_t steps) const {
  if (interrupt_signal() != 0) return StopReason::kInterrupted;
  if (settings_.max_iter > 0 && steps >= settings_.max_iter) {
    return StopReason::kIterationLimit;
  }
  // Iterations observed since the one that last improved the best norm.
  if (settings_.patience > 0 &&
      steps - 1 - window_start_ >= settings_.patience) {
    return StopReason::kNoProgress;
  }
  return std::nullopt;
}

std::string RunMonitor::verdict(StopReason reason, std::int64_t steps,
                                double epsilon, double step_size) const {
  std::ostringstream s;
  s.precision(6);
  const auto best = [&] {
    std::ostringstream b;
    b << "best residual norm " << best_norm_ << " (iteration "
      << best_iteration_ << ")";
    return b.str();
  };
  switch (reason) {
    case StopReason::kConverged:
      return "";
    case StopReason::kDiverged:
      s << "diverged: the residual norm is not finite at iteration "
        << steps - 1 << "; " << best()
        << " written; try a smaller descent step than " << step_size;
      break;
    case StopReason::kStalled:
      s << "stalled: the step of iteration " << steps - 1
        << " left the matrix unchanged; " << best() << " > epsilon " << epsilon;
      break;
    case StopReason::kNoProgress:
      s << "no progress: the best residual norm " << best_norm_
        << " (iteration " << best_iteration_
        << ") has not improved by a relative " << settings_.min_improvement
        << " in " << steps - 1 - window_start_ << " iterations; epsilon "
        << epsilon << " not reached";
      break;
    case StopReason::kIterationLimit:
      s << "iteration limit reached: " << steps << " iterations; " << best()
        << " > epsilon " << epsilon;
      break;
    case StopReason::kInterrupted:
      s << "interrupted by signal " << interrupt_signal() << " after " << steps
        << " iterations; " << best() << " written";
      break;
    case StopReason::kMethodConverged:
      s << best() << " > epsilon " << epsilon;
      break;
  }
  return s.str();
}

void print_iteration_count(std::ostream& out, std::int64_t iterations) {
  out << std::endl << std::endl;
  out << "ITERATION NUMBER = " << iterations << std::endl << std::endl;
}

}  // namespace identify
