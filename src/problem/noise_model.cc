// The transformations of a noise model and the terms of −2 ln p(v) that do
// not depend on the residual: for a transformed measurement the density on
// the original scale is the density of h(v) times h'(v), which adds
// −2 ln h'(v) to −2 ln p.
#include "problem/noise_model.h"

#include <cmath>
#include <numbers>

namespace identify {

double transformed(Scale transformation, double value) {
  return to_scaled(transformation, value);
}

double transformed_slope(Scale transformation, double value) {
  switch (transformation) {
    case Scale::kLin:
      return 1.0;
    case Scale::kLog:
      return 1.0 / value;
    case Scale::kLog10:
      return 1.0 / (value * std::numbers::ln10);
  }
  return 1.0;
}

double transformation_term(Scale transformation, double value) {
  switch (transformation) {
    case Scale::kLin:
      return 0.0;
    case Scale::kLog:
      return 2.0 * std::log(value);
    case Scale::kLog10:
      return 2.0 * std::log(value * std::numbers::ln10);
  }
  return 0.0;
}

double density_term(Distribution distribution) {
  return distribution == Distribution::kNormal
             ? std::log(2.0 * std::numbers::pi)
             : 2.0 * std::numbers::ln2;
}

double minus_two_log_density(const NoiseModel& noise, double r, double sigma,
                             double value) {
  const double rho =
      noise.distribution == Distribution::kNormal ? r * r : 2.0 * std::fabs(r);
  return rho + density_term(noise.distribution) + 2.0 * std::log(sigma) +
         transformation_term(noise.transformation, value);
}

const char* distribution_name(Distribution distribution) {
  return distribution == Distribution::kNormal ? "normal" : "laplace";
}

std::optional<Distribution> parse_distribution(std::string_view text) {
  if (text == "normal") return Distribution::kNormal;
  if (text == "laplace") return Distribution::kLaplace;
  return std::nullopt;
}

}  // namespace identify
