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

#include "fit/wording.h"

namespace identify {

RunMonitor::RunMonitor(const StopSettings& settings, std::ostream& out, int n)
    : settings_(settings), out_(out), best_(make_matrix(n)) {}

void RunMonitor::set_start(const Matrix& A, double norm) {
  if (has_best_) return;
  std::copy(A.data(), A.data() + A.size(), best_.data());
  start_norm_ = norm;
}

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
  result.norm = has_best_ ? best_norm_ : start_norm_;
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

std::string RunMonitor::best_text() const {
  if (has_best_) {
    return "best residual norm " + number_text(best_norm_) + " (iteration " +
           std::to_string(best_iteration_) + ")";
  }
  std::string text = "no iteration finished; the start matrix";
  if (std::isfinite(start_norm_)) {
    text += " (residual norm " + number_text(start_norm_) + ")";
  }
  return text;
}

std::string RunMonitor::diverged_text(std::int64_t steps,
                                      double step_size) const {
  if (steps <= 1) {
    // The start itself: no step was taken, so none can be blamed.
    return std::string(
               "diverged: the residual norm of the start matrix is not "
               "finite, so no step was tried: the model overflows there "
               "(check T, x0, amp and rate") +
           (step_size > 0.0 ? "" : ", and the fixed and bounded entries") +
           "); the start matrix is written";
  }
  std::string text = "diverged: the residual norm is not finite at iteration " +
                     std::to_string(steps - 1) + "; " + best_text() +
                     " written";
  if (step_size > 0.0) {
    text += "; try a smaller descent step than " + number_text(step_size);
  }
  return text;
}

std::string RunMonitor::verdict(StopReason reason, std::int64_t steps,
                                double epsilon, double step_size) const {
  std::ostringstream s;
  // What is written, and how it compares with the tolerance.
  const std::string short_of =
      has_best_ ? best_text() + " > epsilon " + number_text(epsilon)
                : best_text() + " is written";
  switch (reason) {
    case StopReason::kConverged:
      return "";
    case StopReason::kDiverged:
      s << diverged_text(steps, step_size);
      break;
    case StopReason::kStalled:
      s << "stalled: the step of iteration " << steps - 1
        << " left the matrix unchanged; " << short_of;
      break;
    case StopReason::kNoProgress:
      s << "no progress: the " << best_text()
        << " has not improved by a relative "
        << number_text(settings_.min_improvement) << " in "
        << count_text(steps - 1 - window_start_, "iteration", "iterations")
        << "; epsilon " << number_text(epsilon) << " not reached";
      break;
    case StopReason::kIterationLimit:
      s << "iteration limit reached: "
        << count_text(steps, "iteration", "iterations") << "; " << short_of;
      break;
    case StopReason::kInterrupted:
      s << "interrupted by signal " << interrupt_signal();
      if (has_best_) {
        s << " after " << count_text(steps, "iteration", "iterations") << "; "
          << best_text() << " written";
      } else {
        s << " before the first iteration finished; the start matrix is "
             "written";
      }
      break;
    case StopReason::kMethodConverged:
      s << short_of;
      break;
  }
  return s.str();
}

std::string converged_text(const IdentifyResult& result, double epsilon) {
  return "converged: residual norm " + number_text(result.norm) +
         " <= epsilon " + number_text(epsilon) + " at iteration " +
         std::to_string(result.best_iteration);
}

void print_iteration_count(std::ostream& out, std::int64_t iterations) {
  out << std::endl << std::endl;
  out << "ITERATION NUMBER = " << iterations << std::endl << std::endl;
}

}  // namespace identify
