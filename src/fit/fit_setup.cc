// θ of a worker's fit: the usual start's θ with the free parameters
// replaced by the unscaled values of their coordinates. A coordinate equal
// to that of the usual start's value gives that value itself, so the usual
// start is exactly itself even where exp(ln v) is not v to the last bit.
#include "fit/fit_setup.h"

namespace identify {

std::vector<double> theta_at(const FitSetup& setup, std::span<const double> x) {
  std::vector<double> theta = setup.base;
  for (std::size_t j = 0; j < setup.free.size(); ++j) {
    const int k = setup.free[j];
    const Scale scale = setup.problem->parameters[k].scale;
    if (x[j] == to_scaled(scale, setup.base[k])) continue;
    theta[k] = from_scaled(scale, x[j]);
  }
  return theta;
}

}  // namespace identify
