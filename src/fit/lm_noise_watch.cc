// The statistical stop fed from Ceres. The decrease of the cost ½|r|² that
// the LM model predicted for a step is Ceres' actual change divided by its
// ratio of actual to predicted change (relative_decrease); S = |r|² is
// twice the cost. A Jacobian is copied only where a check may use it: every
// time while it is small (at most kKeepAlways entries), otherwise once the
// steps have been far below the noise for all but one of the steps that
// open a check. A check needs the Jacobian of the iterate itself, so one
// whose copy belongs to another point (a rejected step) waits for the next.
// A watch that does not copy takes the normal equations of the iterate
// from the objective when a check is due (objective_normal.h): nothing per
// residual.
#include "fit/lm_noise_watch.h"

#include <Eigen/Core>
#include <cmath>
#include <cstring>
#include <limits>

#include "fit/objective_normal.h"

namespace identify {

namespace {

constexpr double kKeepAlways = 1.0e6;

}  // namespace

LmNoiseWatch::LmNoiseWatch(ScaledUnknowns& unknowns, ObjectiveNormal* normal)
    : unknowns_(unknowns),
      residuals_(unknowns.residual_count()),
      stop_(unknowns.residual_count(), !unknowns.objective().has_sigma_rows()),
      normal_(normal),
      copies_(normal == nullptr),
      keep_always_(copies_ && static_cast<double>(unknowns.residual_count()) *
                                      unknowns.size() <=
                                  kKeepAlways) {}

void LmNoiseWatch::evaluated(const double* block, int q, const double* r,
                             const double* jacobian) {
  if (!copies_ || (!keep_always_ && !stop_.nearly_due())) return;
  block_.assign(block, block + q);
  r_.assign(r, r + residuals_);
  jacobian_.assign(jacobian,
                   jacobian + static_cast<std::size_t>(q) * residuals_);
}

bool LmNoiseWatch::after_step(const ceres::IterationSummary& step, double norm,
                              const double* block, const std::vector<int>& free,
                              Monitor& monitor) {
  double predicted = std::numeric_limits<double>::quiet_NaN();
  if (step.iteration > 0 && step.relative_decrease != 0.0) {
    predicted = 2.0 * step.cost_change / step.relative_decrease;
  }
  if (!stop_.after_step(predicted, norm * norm, monitor.iterations())) {
    return false;
  }
  const std::size_t q = free.size();
  if (!copies_ && !stop_.quiet() &&
      q >= static_cast<std::size_t>(kFirstLookUnknowns)) {
    return false;
  }
  std::vector<double> x(q), scale(q);
  for (std::size_t f = 0; f < q; ++f) {
    scale[f] = unknowns_.scale(free[f]);
    x[f] = scale[f] * block[f];
  }
  Resolution resolution;
  if (copies_) {
    if (block_.size() != q ||
        std::memcmp(block_.data(), block, q * sizeof(double)) != 0) {
      return false;
    }
    resolution = resolve(jacobian_.data(), r_.data(), residuals_,
                         static_cast<int>(q), unknown_sizes(x, scale));
  } else {
    double cost = 0.0;
    Eigen::MatrixXd normal;
    Eigen::VectorXd gradient;
    if (!normal_->normal(block, cost, normal, gradient)) return false;
    resolution = resolve_normal(normal, gradient, 2.0 * cost, residuals_,
                                unknown_sizes(x, scale));
  }
  const bool stop = stop_.decide(resolution);
  if (stop_.first_found()) {
    monitor.note("lm, iteration " + std::to_string(monitor.iterations() - 1) +
                 ": " +
                 resolution_text(resolution, monitor.settings().unknowns));
  }
  return stop;
}

std::string LmNoiseWatch::text(const std::string& unknowns) const {
  return noise_stop_text(stop_.resolution(), unknowns);
}

}  // namespace identify
