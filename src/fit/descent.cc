// Fixed-step gradient descent: θ ← θ − step·∇S(θ), with
// S(θ) = Σ_m ((y_m(θ) − v_m)/σ_m)² and the gradient from the Objective (for
// the grid model: the adjoint sweep with jumps 2·r/σ, then the trapezoid
// quadrature of psi_i·x_j, chained to the parameters). After every step the
// fixed parameters are set again and a bounded one that left its interval
// returns to its value from before the step.
#include "fit/descent.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <vector>

namespace identify {

bool descent_step(const DescentRules& rules, double step,
                  std::span<const double> g, std::span<double> before,
                  std::span<double> theta) {
  std::copy(theta.begin(), theta.end(), before.begin());
  for (std::size_t k = 0; k < theta.size(); ++k) {
    theta[k] = theta[k] - g[k] * step;
  }
  for (const DescentRules::Fixed& f : rules.fixed) {
    theta[f.parameter] = f.value;
  }
  for (const DescentRules::Bounded& b : rules.bounded) {
    const double v = theta[b.parameter];
    if (b.lower > v || v > b.upper) theta[b.parameter] = before[b.parameter];
  }
  return std::memcmp(theta.data(), before.data(),
                     theta.size() * sizeof(double)) == 0;
}

Summary descend(Objective& objective, const DescentRules& rules, double step,
                Monitor& monitor) {
  std::vector<double> theta = rules.start;
  std::vector<double> before(theta.size());
  monitor.set_likelihood(!objective.is_sum_of_squares());
  monitor.set_start(theta, std::numeric_limits<double>::quiet_NaN());
  objective.evaluate_theta(theta);
  for (;;) {
    // An interrupted evaluation is abandoned: its values are incomplete,
    // and the run ends with the best θ of the iterations finished.
    if (objective.stop_requested()) {
      monitor.stop(Termination::kInterrupted);
      break;
    }
    const double norm = objective.progress_value(objective.value());
    if (monitor.tolerance_reached(norm, theta)) break;
    monitor.observe(norm, theta);
    if (!std::isfinite(norm)) {
      monitor.stop(Termination::kDiverged);
    } else {
      const std::vector<double>& g = objective.full_gradient();
      if (objective.stop_requested()) {
        monitor.stop(Termination::kInterrupted);  // no step from it
      } else if (descent_step(rules, step, g, before, theta)) {
        monitor.stop(Termination::kStalled);
      }
    }
    if (!monitor.end_iteration(norm)) break;
    objective.evaluate_theta(theta);
  }
  Summary summary = monitor.summary(Termination::kToleranceReached, "");
  summary.method = "descent";
  summary.step = step;
  summary.counts = objective.counts();
  return summary;
}

}  // namespace identify
