// The statistical stop as lm runs it (noise_stop.h): fed from Ceres' cost
// function and iteration callback, it keeps the Jacobian of the current
// iterate when a check may come, checks the resolution there, says on the
// console when directions below the noise are first found, and asks the
// run to end when the stop fires.
#pragma once

#include <ceres/iteration_callback.h>

#include <string>
#include <vector>

#include "fit/monitor.h"
#include "fit/noise_stop.h"
#include "fit/scaled_unknowns.h"

namespace identify {

class LmNoiseWatch {
 public:
  // For a run over `unknowns`; off for −2 ln L (its e rows).
  explicit LmNoiseWatch(ScaledUnknowns& unknowns);

  // From the cost function, after a Jacobian was evaluated at the scaled
  // free unknowns `block` (q of them): keeps r (n) and J (n × q, row-major)
  // when a check may follow.
  void evaluated(const double* block, int q, const double* r,
                 const double* jacobian);

  // From the iteration callback, after the monitor closed the iteration of
  // the iterate `block` over the unknowns `free`, with residual norm
  // `norm`. True when the fit is to stop on the noise there.
  bool after_step(const ceres::IterationSummary& step, double norm,
                  const double* block, const std::vector<int>& free,
                  Monitor& monitor);

  bool fired() const { return stop_.fired(); }
  // The verdict's clause of a run the stop ended.
  std::string text(const std::string& unknowns) const;

 private:
  ScaledUnknowns& unknowns_;
  int residuals_;
  NoiseStop stop_;
  bool keep_always_;  // the Jacobian is small enough to keep every time
  std::vector<double> block_, r_, jacobian_;
};

}  // namespace identify
