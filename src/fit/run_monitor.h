// Bookkeeping shared by every identification method: the progress line and
// the history file, the best matrix seen, and the stops that end a run which
// does not reach its tolerance (iteration limit, no progress, interrupt).
// The best-matrix copy is allocated once, in the constructor.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <limits>
#include <optional>
#include <string>

#include "core/table.h"
#include "fit/stop.h"

namespace identify {

class RunMonitor {
 public:
  RunMonitor(const StopSettings& settings, std::ostream& out, int n);

  // The matrix the run starts from and its residual norm (NaN: not known
  // yet). Until observe() is first called this is what stop_with_best()
  // returns, so a run that ends before any iteration finished writes its
  // start and not a matrix of zeros.
  void set_start(const Matrix& A, double norm);

  // Notes that the matrix A has residual norm `norm` at iteration
  // `iteration`; keeps a copy of A when the norm is the lowest so far.
  void observe(std::int64_t iteration, double norm, const Matrix& A);

  // Prints "<norm>:   COUNT = <iteration>" (unless quiet), writes the
  // history line "<iteration>,<norm>" and records the norm in the trace.
  void progress(std::int64_t iteration, double norm);

  // After `steps` steps: the stop that fires, if any, in the order
  // interrupt, iteration limit, no progress.
  std::optional<StopReason> check(std::int64_t steps) const;

  // Whether observe() has been called: some iteration's norm is known.
  bool has_best() const { return has_best_; }
  double best_norm() const { return best_norm_; }
  std::int64_t best_iteration() const { return best_iteration_; }
  int interrupt_signal() const;

  // Ends a run that stopped for `reason` short of its tolerance: A becomes
  // the best matrix seen (the start if none was), and the result carries the
  // reason, the best norm, its iteration and the interrupting signal (no
  // verdict, no count).
  IdentifyResult stop_with_best(StopReason reason, Matrix& A) const;

  // The verdict line of a stop other than convergence, with numbers, after
  // `steps` progress lines. `step_size` is the descent step (0 for methods
  // without one); it is named when the norm became infinite after a step.
  // A non-finite norm at iteration 0 is the start's own: no step size is
  // suggested then. A run in which no iteration finished says so instead of
  // naming a best norm. Zeros print without sign, counts agree with nouns.
  std::string verdict(StopReason reason, std::int64_t steps, double epsilon,
                      double step_size) const;

 private:
  const StopSettings& settings_;
  // "best residual norm X (iteration k)", or what is written when no
  // iteration finished.
  std::string best_text() const;
  // The verdict of a norm that is not finite after `steps` progress lines.
  std::string diverged_text(std::int64_t steps, double step_size) const;

  std::ostream& out_;
  Matrix best_;
  bool has_best_ = false;
  double start_norm_ = std::numeric_limits<double>::quiet_NaN();
  double best_norm_ = 0.0;
  std::int64_t best_iteration_ = 0;
  // The no-progress window: the best norm when it last improved by the
  // relative min_improvement, and the iteration of that improvement.
  double window_norm_ = 0.0;
  std::int64_t window_start_ = 0;
};

// "converged: residual norm <norm> <= epsilon <epsilon> at iteration <c>":
// how a run that reached its tolerance is described where a verdict would
// stand (the fit report). Zeros print without sign.
std::string converged_text(const IdentifyResult& result, double epsilon);

// "ITERATION NUMBER = " block that closes every run.
void print_iteration_count(std::ostream& out, std::int64_t iterations);

}  // namespace identify
