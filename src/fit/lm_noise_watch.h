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

class ObjectiveNormal;

// From this many unknowns, a look at the resolution before the steps are
// quiet (noise_stop.h) costs an eigen-decomposition of about 9·q³ flops,
// several iterations' worth, for a note: a run on the normal equations
// leaves it to the first check that may stop the fit.
inline constexpr int kFirstLookUnknowns = 200;

class LmNoiseWatch {
 public:
  // For a run over `unknowns`; off for −2 ln L (its e rows). With `normal`
  // not null, evaluated() is not called and a check takes JᵀJ and Jᵀr at
  // its iterate from `normal` (objective_normal.h, the run's own source):
  // for a run whose loop keeps no copy of r or J. From kFirstLookUnknowns
  // unknowns on, such a run skips the looks that cannot stop it.
  LmNoiseWatch(ScaledUnknowns& unknowns, ObjectiveNormal* normal);

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
  ObjectiveNormal* normal_;
  bool copies_;
  bool keep_always_;  // the Jacobian is small enough to keep every time
  std::vector<double> block_, r_, jacobian_;
};

}  // namespace identify
