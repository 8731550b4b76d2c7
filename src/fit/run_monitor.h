// Bookkeeping shared by every identification method: the progress line and
// the history file, the best matrix seen, and the stops that end a run which
// does not reach its tolerance (iteration limit, no progress, interrupt).
// The best-matrix copy is allocated once, in the constructor.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>

#include "core/table.h"
#include "fit/stop.h"

namespace identify {

class RunMonitor {
 public:
  RunMonitor(const StopSettings& settings, std::ostream& out, int n);

  // Notes that the matrix A has residual norm `norm` at iteration
  // `iteration`; keeps a copy of A when the norm is the lowest so far.
  void observe(std::int64_t iteration, double norm, const Matrix& A);

  // Prints "<norm>:   COUNT = <iteration>" (unless quiet), writes the
  // history line "<iteration>,<norm>" and records the norm in the trace.
  void progress(std::int64_t iteration, double norm);

  // After `steps` steps: the stop that fires, if any, in the order
  // interrupt, iteration limit, no progress.
  std::optional<StopReason> check(std::int64_t steps) const;

  double best_norm() const { return best_norm_; }
  std::int64_t best_iteration() const { return best_iteration_; }
  int interrupt_signal() const;

  // Ends a run that stopped for `reason` short of its tolerance: A becomes
  // the best matrix seen, and the result carries the reason, the best norm,
  // its iteration and the interrupting signal (no verdict, no count).
  IdentifyResult stop_with_best(StopReason reason, Matrix& A) const;

  // The verdict line of a stop other than convergence, with numbers.
  std::string verdict(StopReason reason, std::int64_t steps, double epsilon,
                      double step_size) const;

 private:
  const StopSettings& settings_;
  std::ostream& out_;
  Matrix best_;
  bool has_best_ = false;
  double best_norm_ = 0.0;
  std::int64_t best_iteration_ = 0;
  // The no-progress window: the best norm when it last improved by the
  // relative min_improvement, and the iteration of that improvement.
  double window_norm_ = 0.0;
  std::int64_t window_start_ = 0;
};

// "ITERATION NUMBER = " block that closes every run.
void print_iteration_count(std::ostream& out, std::int64_t iterations);

}  // namespace identify
