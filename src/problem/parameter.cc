// Parameter scales: s = v (lin), s = ln v (log), s = log10 v (log10), with
// dv/ds = 1, e^s and ln(10)·10^s, the factors that carry a derivative from
// a parameter's own units to the optimiser's scaled axis.
#include "problem/parameter.h"

#include <cmath>

namespace identify {

double to_scaled(Scale scale, double value) {
  switch (scale) {
    case Scale::kLin:
      return value;
    case Scale::kLog:
      return std::log(value);
    case Scale::kLog10:
      return std::log10(value);
  }
  return value;
}

double from_scaled(Scale scale, double scaled) {
  switch (scale) {
    case Scale::kLin:
      return scaled;
    case Scale::kLog:
      return std::exp(scaled);
    case Scale::kLog10:
      return std::pow(10.0, scaled);
  }
  return scaled;
}

double unscaled_per_scaled(Scale scale, double scaled) {
  switch (scale) {
    case Scale::kLin:
      return 1.0;
    case Scale::kLog:
      return std::exp(scaled);
    case Scale::kLog10:
      return std::log(10.0) * std::pow(10.0, scaled);
  }
  return 1.0;
}

const char* scale_name(Scale scale) {
  switch (scale) {
    case Scale::kLin:
      return "lin";
    case Scale::kLog:
      return "log";
    case Scale::kLog10:
      return "log10";
  }
  return "lin";
}

std::optional<Scale> parse_scale(std::string_view text) {
  if (text == "lin") return Scale::kLin;
  if (text == "log") return Scale::kLog;
  if (text == "log10") return Scale::kLog10;
  return std::nullopt;
}

bool is_valid_name(std::string_view name) {
  if (name.empty()) return false;
  const auto letter = [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_';
  };
  if (!letter(name[0])) return false;
  for (char c : name) {
    if (!letter(c) && !(c >= '0' && c <= '9')) return false;
  }
  return true;
}

double default_start(double lower, double upper, Scale scale) {
  const bool log_scale = scale != Scale::kLin;
  if (std::isfinite(lower) && std::isfinite(upper)) {
    if (log_scale && lower > 0.0) return std::sqrt(lower) * std::sqrt(upper);
    return lower + (upper - lower) / 2.0;
  }
  if (log_scale) {
    // One unit of the parameter, moved into the bounds.
    if (std::isfinite(lower) && lower >= 1.0) return lower;
    if (std::isfinite(upper) && upper <= 1.0) return upper;
    return 1.0;
  }
  if (lower > 0.0) return lower;
  if (upper < 0.0) return upper;
  return 0.0;
}

}  // namespace identify
