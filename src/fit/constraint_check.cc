// Constraint check of a result: a parameter that is not estimated must
// equal its value exactly; an estimated one with a finite bound must
// satisfy lower <= v <= upper (so NaN fails). A legacy entry both fixed
// and bounded is a parameter that is not estimated: judged by its fixed
// value, which the methods give it precedence for.
#include "fit/constraint_check.h"

#include <cmath>
#include <cstdio>

#include "fit/wording.h"

namespace identify {

namespace {

// a and b in the console's format, or both with 17 significant digits when
// that format would show them alike.
std::pair<std::string, std::string> distinct_texts(double a, double b) {
  std::string ta = number_text(a);
  std::string tb = number_text(b);
  if (ta == tb) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.17g", a);
    ta = buffer;
    std::snprintf(buffer, sizeof buffer, "%.17g", b);
    tb = buffer;
  }
  return {ta, tb};
}

std::string why(const Summary& result) {
  if (result.iterations == 0) {
    return " (the run stopped before the first step)";
  }
  if (result.best_iteration == 0) {
    return " (the " + result.subject +
           " written is the start, from before the first step)";
  }
  return "";
}

}  // namespace

std::vector<std::string> constraint_warnings(const FitProblem& problem,
                                             std::span<const double> theta,
                                             const Summary& result) {
  std::vector<std::string> lines;
  for (int k = 0; k < problem.parameter_count(); ++k) {
    const Parameter& p = problem.parameters[k];
    const double v = theta[k];
    if (!p.estimated) {
      if (v == p.value) continue;
      const auto [value, wanted] = distinct_texts(v, p.value);
      lines.push_back(p.name + " is " + value + ", not its fixed value " +
                      wanted + why(result));
    } else if (std::isfinite(p.lower) || std::isfinite(p.upper)) {
      if (p.lower <= v && v <= p.upper) continue;
      const double bound = v > p.upper ? p.upper : p.lower;
      lines.push_back(p.name + " is " + distinct_texts(v, bound).first +
                      ", outside its bounds [" + number_text(p.lower) + ", " +
                      number_text(p.upper) + "]" + why(result));
    }
  }
  return lines;
}

}  // namespace identify
