// Quantiles from Boost.Math: the 0.95 quantile of χ² with one degree of
// freedom (3.841458820694124) and the 0.975 quantile of Student's t with
// n − p degrees of freedom.
#include "fit/profile/profile_threshold.h"

#include <boost/math/distributions/chi_squared.hpp>
#include <boost/math/distributions/students_t.hpp>
#include <cmath>

namespace identify {

std::optional<ProfileThreshold> profile_threshold(double optimum,
                                                  bool errors_known,
                                                  std::int64_t n, int p) {
  if (!std::isfinite(optimum)) return std::nullopt;
  ProfileThreshold t;
  t.optimum = optimum;
  if (errors_known) {
    t.kind = ThresholdKind::kLikelihoodRatio;
    t.quantile = boost::math::quantile(boost::math::chi_squared(1.0), 0.95);
    t.value = optimum + t.quantile;
    return t;
  }
  if (n <= p) return std::nullopt;
  t.kind = ThresholdKind::kProfileT;
  t.dof = n - p;
  const double dof = static_cast<double>(t.dof);
  t.quantile = boost::math::quantile(boost::math::students_t(dof), 0.975);
  t.value = optimum * (1.0 + t.quantile * t.quantile / dof);
  return t;
}

}  // namespace identify
