// How an identification run ended, and the settings of the stops that end a
// run which does not reach its tolerance.
#pragma once

#include <atomic>
#include <cstdint>
#include <iosfwd>
#include <string>

#include "fit/norm_trace.h"
#include "model/matrix_model.h"

namespace identify {

enum class StopReason {
  kConverged,        // residual norm <= epsilon
  kDiverged,         // residual norm not finite
  kStalled,          // a step left A unchanged to the last bit
  kNoProgress,       // best norm flat for `patience` iterations
  kIterationLimit,   // --max-iter reached
  kInterrupted,      // SIGINT or SIGTERM
  kMethodConverged,  // a library method's own convergence test fired
};

struct StopSettings {
  std::int64_t max_iter = 0;        // 0: no limit
  std::int64_t patience = 10000;    // iterations without improvement; 0: off
  double min_improvement = 1e-9;    // relative improvement that counts
  bool quiet = false;               // no progress lines
  std::ostream* history = nullptr;  // "iteration,residual_norm" lines
  NormTrace* trace = nullptr;       // residual norm per iteration, for plots
  // Set asynchronously by a signal handler: 0 none, else the signal number.
  const std::atomic<int>* interrupt = nullptr;
};

// Hands a fit's interrupt flag to its model for the length of the fit, so
// that an interrupt abandons the sweep under way instead of waiting for the
// iteration to end; gives the model back its earlier flag afterwards (the
// outputs computed after the fit must run to their end).
class StopFlagScope {
 public:
  StopFlagScope(MatrixModel& model, const std::atomic<int>* flag)
      : model_(model), previous_(model.stop_flag()) {
    model.set_stop_flag(flag);
  }
  ~StopFlagScope() { model_.set_stop_flag(previous_); }
  StopFlagScope(const StopFlagScope&) = delete;
  StopFlagScope& operator=(const StopFlagScope&) = delete;

 private:
  MatrixModel& model_;
  const std::atomic<int>* previous_;
};

struct IdentifyResult {
  StopReason reason = StopReason::kConverged;
  std::int64_t iterations = 0;  // steps taken = progress lines printed
  double norm = 0.0;  // residual norm of the matrix returned (NaN: unknown)
  std::int64_t best_iteration = 0;  // iteration whose matrix is returned
                                    // (0 also when none finished)
  int signal = 0;                   // for kInterrupted
  std::string verdict;              // one line, for stderr; empty if converged
};

}  // namespace identify
