// Best-so-far tracking and the stop rules. The no-progress test keeps a
// reference norm r set at the last iteration where the best norm b dropped
// below r − |r|·min_improvement (r may be a negative −2 ln L); once `patience`
// iterations pass without such a drop the run stops. A descent that keeps
// improving by more than that fraction per window never trips it.
#include "fit/monitor.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ostream>

namespace identify {

Monitor::Monitor(const MonitorSettings& settings, std::ostream& out,
                 std::size_t parameters)
    : settings_(settings),
      out_(out),
      best_(parameters, 0.0),
      converged_(parameters, 0.0) {}

void Monitor::set_start(std::span<const double> theta, double norm) {
  if (has_best_) return;
  std::copy(theta.begin(), theta.end(), best_.begin());
  start_norm_ = norm;
}

bool Monitor::tolerance_reached(double norm, std::span<const double> theta) {
  if (likelihood_ || !(settings_.epsilon >= norm)) return false;
  reason_ = Termination::kToleranceReached;
  converged_norm_ = norm;
  std::copy(theta.begin(), theta.end(), converged_.begin());
  return true;
}

void Monitor::observe(double norm, std::span<const double> theta) {
  if (!has_best_) {
    window_norm_ = norm;
    window_start_ = count_;
  }
  if (!has_best_ || norm < best_norm_ ||
      (std::isnan(best_norm_) && !std::isnan(norm))) {
    has_best_ = true;
    best_norm_ = norm;
    best_iteration_ = count_;
    std::copy(theta.begin(), theta.end(), best_.begin());
  }
  if (best_norm_ <
      window_norm_ - std::fabs(window_norm_) * settings_.min_improvement) {
    window_norm_ = best_norm_;
    window_start_ = count_;
  }
}

bool Monitor::end_iteration(double shown) {
  if (!settings_.quiet) {
    out_ << shown << ":   COUNT = " << count_ << std::endl;
  }
  if (settings_.history != nullptr) {
    char line[64];
    std::snprintf(line, sizeof line, "%lld,%.17g\n",
                  static_cast<long long>(count_), shown);
    *settings_.history << line << std::flush;
  }
  if (settings_.trace != nullptr) settings_.trace->record(count_, shown);
  if (settings_.on_iteration != nullptr) {
    static const std::string kNone;
    (*settings_.on_iteration)(
        settings_.label != nullptr ? *settings_.label : kNone, count_, shown,
        likelihood_);
  }
  ++count_;
  if (!reason_) reason_ = check();
  return !reason_;
}

bool Monitor::iterate(double norm, std::span<const double> theta,
                      bool show_best) {
  if (tolerance_reached(norm, theta)) return false;
  observe(norm, theta);
  return end_iteration(show_best ? best_norm_ : norm);
}

void Monitor::note(const std::string& line) {
  if (!settings_.quiet) out_ << line << std::endl;
}

void Monitor::stop(Termination reason) {
  if (!reason_) reason_ = reason;
}

int Monitor::signal() const {
  return settings_.interrupt == nullptr ? 0 : settings_.interrupt->load();
}

std::optional<Termination> Monitor::check() const {
  if (signal() != 0) return Termination::kInterrupted;
  if (settings_.max_iter > 0 && count_ >= settings_.max_iter) {
    return Termination::kIterationLimit;
  }
  // Iterations observed since the one that last improved the best norm.
  if (settings_.patience > 0 &&
      count_ - 1 - window_start_ >= settings_.patience) {
    return Termination::kNoProgress;
  }
  return std::nullopt;
}

Summary Monitor::summary(Termination method_end, std::string message) const {
  Summary s;
  s.termination = reason_ ? *reason_ : method_end;
  if (!reason_) s.message = std::move(message);
  s.iterations = count_;
  s.start_norm = start_norm_;
  s.signal = signal();
  s.likelihood = likelihood_;
  s.epsilon = settings_.epsilon;
  s.min_improvement = settings_.min_improvement;
  s.stale_iterations = count_ - 1 - window_start_;
  if (s.termination == Termination::kToleranceReached) {
    s.has_best = true;
    s.norm = converged_norm_;
    s.best_iteration = count_;
    s.theta = converged_;
  } else {
    s.has_best = has_best_;
    s.norm = has_best_ ? best_norm_ : start_norm_;
    s.best_iteration = best_iteration_;
    s.theta = best_;
  }
  return s;
}

}  // namespace identify
