// A parameter of a fit: a named number that the expressions of the problem
// (matrix entries, initial states, inputs, observables, noise) are built
// from. An estimated parameter is moved by the fit within its bounds; one
// that is not estimated keeps its value.
//
// Scales: the optimiser works on the scaled value s = scale(v): v itself
// (lin), ln v (log) or log10 v (log10). Values and bounds are always stated
// unscaled, in the parameter's own units, whatever its scale.
#pragma once

#include <limits>
#include <optional>
#include <string>
#include <string_view>

namespace identify {

enum class Scale { kLin, kLog, kLog10 };

struct Parameter {
  std::string name;
  // Unscaled. The start of the fit when estimated, the value throughout when
  // not.
  double value = 0.0;
  bool estimated = true;
  // Unscaled, lower <= upper; either may be infinite. A log-scaled parameter
  // has lower >= 0 (a bound of 0 is -inf on the scaled axis).
  double lower = -std::numeric_limits<double>::infinity();
  double upper = std::numeric_limits<double>::infinity();
  Scale scale = Scale::kLin;
  // Whether the starts of a multi-start fit may be drawn by decades when
  // the scale is linear and the bounds span decades (start_sampler.h).
  // False for the legacy matrix entries: a bounded entry there is a box for
  // an entry of either sign, and its starts are drawn linearly.
  bool drawn_by_decades = true;
};

// s = scale(v): v, ln v or log10 v. ln 0 is -inf; a negative v under a log
// scale gives NaN.
double to_scaled(Scale scale, double value);

// v = scale⁻¹(s): s, exp s or 10^s.
double from_scaled(Scale scale, double scaled);

// dv/ds at the scaled value s: 1, exp s, or ln(10)·10^s.
double unscaled_per_scaled(Scale scale, double scaled);

// "lin", "log", "log10".
const char* scale_name(Scale scale);

// The scale named `text` ("lin", "log", "log10"), or nothing.
std::optional<Scale> parse_scale(std::string_view text);

// The start of a parameter given without a value: the midpoint of finite
// bounds (the geometric mean on a log scale), otherwise 0 moved into the
// bounds (1 on a log scale, where 0 is not a value).
double default_start(double lower, double upper, Scale scale);

// Names of parameters, states, observables and experiments: ASCII letters,
// digits and underscores, not starting with a digit, not empty.
bool is_valid_name(std::string_view name);

}  // namespace identify
