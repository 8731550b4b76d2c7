// The noise model of an observable: the scale on which a model value y and
// its measurement v are compared, and the density of the measurement there.
// With h the transformation (lin: v itself, log: ln v, log10: log10 v) and
// σ the standard deviation (normal) or scale (laplace) on that scale, the
// standardised residual is r = (h(y) − h(v))/σ, and the density of v on its
// own scale gives
//
//   −2 ln p(v) = r² + ln(2π) + 2 ln σ + J(v)     (normal)
//   −2 ln p(v) = 2|r| + 2 ln 2 + 2 ln σ + J(v)    (laplace)
//
// with J(v) = −2 ln h'(v) the Jacobian term of the transformation: 0 (lin),
// 2 ln v (log), 2 ln(v·ln 10) (log10).
#pragma once

#include <optional>
#include <string_view>

#include "problem/parameter.h"

namespace identify {

enum class Distribution { kNormal, kLaplace };

struct NoiseModel {
  Scale transformation = Scale::kLin;  // h
  Distribution distribution = Distribution::kNormal;
};

// h(v): v, ln v or log10 v (NaN for v < 0 under a log, −inf for 0).
double transformed(Scale transformation, double value);

// h'(v): 1, 1/v or 1/(v·ln 10).
double transformed_slope(Scale transformation, double value);

// J(v) = −2 ln h'(v).
double transformation_term(Scale transformation, double value);

// The part of −2 ln p that depends on neither r nor σ nor v: ln(2π) for the
// normal density, 2 ln 2 for the Laplace density.
double density_term(Distribution distribution);

// −2 ln p(v) of one measurement v with standardised residual r and σ on
// the transformed scale (the formulas at the top of this file).
double minus_two_log_density(const NoiseModel& noise, double r, double sigma,
                             double value);

// "normal", "laplace".
const char* distribution_name(Distribution distribution);

// The distribution named `text`, or nothing.
std::optional<Distribution> parse_distribution(std::string_view text);

}  // namespace identify
