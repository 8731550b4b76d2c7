// θ of a worker's fit: the usual start's θ with the free parameters
// replaced by the unscaled values of their coordinates.
#include "fit/fit_setup.h"

namespace identify {

std::vector<double> theta_at(const FitSetup& setup, std::span<const double> x) {
  std::vector<double> theta = setup.base;
  for (std::size_t j = 0; j < setup.free.size(); ++j) {
    const int k = setup.free[j];
    theta[k] = from_scaled(setup.problem->parameters[k].scale, x[j]);
  }
  return theta;
}

}  // namespace identify
