// The statistical stop as lm runs it (noise_stop.h): fed from Ceres' cost
// function and iteration callback, it keeps the Jacobian of the current
// iterate when a check may come (or, where it does not copy, takes the
// normal equations there when a check is due), checks the resolution there,
// says on the console when directions below the noise are first found, and asks
// the run to end when the stop fires.
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
  // For a run over `unknowns`; off for −2 ln L (its e rows). With `copies`
  // false, evaluated() is not called and a check takes JᵀJ and Jᵀr at its
  // iterate from the objective (objective_normal.h): for a run whose loop
  // keeps no copy of r or J (a long table).
  LmNoiseWatch(ScaledUnknowns& unknowns, bool copies);

  // From the cost function, after a Jacobian was evaluated at the scaled
  // free unknowns `block` (q of them): keeps r (n) and J (n × q, row-major)
  // when a check may follow.
  void evaluated(const double* block, int q, const double* r,
                 const double* jacobian);

  // From the iteration callback, after the monitor closed the iteration of
  // the iterate `block` over the unknowns `free`, with residual norm
  // `norm`; `all` holds every scaled unknown (the others keep theirs). True
  // when the fit is to stop on the noise there.
  bool after_step(const ceres::IterationSummary& step, double norm,
                  const double* block, const std::vector<int>& free,
                  std::vector<double>& all, Monitor& monitor);

  bool fired() const { return stop_.fired(); }
  // The verdict's clause of a run the stop ended.
  std::string text(const std::string& unknowns) const;

 private:
  ScaledUnknowns& unknowns_;
  int residuals_;
  NoiseStop stop_;
  bool copies_;
  bool keep_always_;  // the Jacobian is small enough to keep every time
  std::vector<double> block_, r_, jacobian_;
};

}  // namespace identify
