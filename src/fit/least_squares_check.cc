// A quasi-Newton method sees S and its gradient only; on a least-squares
// problem with many residuals, the Gauss–Newton matrix JᵀJ is the curvature
// it spends its iterations learning, and where its tests fire along a
// narrow valley the Gauss–Newton step from its end point can still predict
// a decrease P = Σ_{resolved} (v_iᵀ Jᵀr)²/λ_i well beyond the noise spread
// σ²·sqrt(2(n − k)) of S (both from resolve()). A decrease above one
// spread is one the data can tell apart, so the verdict says so and names
// the method that uses that structure.
#include "fit/least_squares_check.h"

#include <cmath>

#include "fit/noise_stop.h"
#include "fit/wording.h"

namespace identify {

std::string gauss_newton_left_text(ScaledUnknowns& unknowns,
                                   const std::vector<double>& y,
                                   const std::string& method) {
  Objective& f = unknowns.objective();
  const int n = unknowns.residual_count(), q = unknowns.size();
  if (!f.is_sum_of_squares() || f.has_sigma_rows() || y.empty() || n <= q) {
    return "";
  }
  const double norm = unknowns.evaluate(y.data());
  if (!std::isfinite(norm) || f.stop_requested()) return "";
  std::vector<int> columns(q);
  std::vector<double> x(q), scale(q);
  for (int j = 0; j < q; ++j) {
    columns[j] = j;
    scale[j] = unknowns.scale(j);
    x[j] = unknowns.x(j);
  }
  std::vector<double> r(n), jacobian(static_cast<std::size_t>(n) * q);
  unknowns.residuals(r.data());
  unknowns.jacobian(columns, jacobian.data());
  if (f.stop_requested()) return "";
  const Resolution res =
      resolve(jacobian.data(), r.data(), n, q, unknown_sizes(x, scale));
  if (!(res.resolved_decrease > res.spread)) return "";
  return "; " + method +
         " stopped where a Gauss–Newton step still predicts a decrease of "
         "the objective by " +
         number_text(res.resolved_decrease) + ", above its noise spread " +
         number_text(res.spread) + ": lm suits least-squares problems";
}

}  // namespace identify
