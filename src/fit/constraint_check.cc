// Constraint check of a result: a fixed entry must equal its value exactly;
// a bounded entry must satisfy lower <= v <= upper (so NaN fails). An entry
// both fixed and bounded is judged by its fixed value, which the methods
// give it precedence for.
#include "fit/constraint_check.h"

#include <cmath>
#include <cstdio>
#include <optional>

#include "core/entry.h"
#include "fit/descent.h"
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

std::string why(const IdentifyResult& result) {
  if (result.iterations == 0) {
    return " (the run stopped before the first step)";
  }
  if (result.best_iteration == 0) {
    return " (the matrix written is the start, from before the first step)";
  }
  return "";
}

}  // namespace

std::vector<std::string> constraint_warnings(const ProblemRecord& problem,
                                             const Matrix& A,
                                             const IdentifyResult& result) {
  const int n = problem.dim;
  std::vector<std::optional<double>> fixed(A.size());
  for (std::size_t e = 0; e < problem.fix_par_num.size(); ++e) {
    const EntryIndex& at = problem.fix_par_num[e];
    fixed[static_cast<std::size_t>(at.row) * n + at.col] =
        problem.fix_par_val[e];
  }
  const std::vector<EntryRole> roles = entry_roles(problem);
  std::vector<std::string> lines;
  for (std::size_t q = 0; q < A.size(); ++q) {
    const double v = A.data()[q];
    const std::string name =
        matrix_entry_name(static_cast<int>(q) / n, static_cast<int>(q) % n, n);
    if (fixed[q]) {
      if (v == *fixed[q]) continue;
      const auto [value, wanted] = distinct_texts(v, *fixed[q]);
      lines.push_back(name + " is " + value + ", not its fixed value " +
                      wanted + why(result));
    } else if (roles[q].kind == EntryRole::kBounded) {
      const EntryRole& r = roles[q];
      if (r.lower <= v && v <= r.upper) continue;
      const double bound = v > r.upper ? r.upper : r.lower;
      lines.push_back(name + " is " + distinct_texts(v, bound).first +
                      ", outside its bounds [" + number_text(r.lower) + ", " +
                      number_text(r.upper) + "]" + why(result));
    }
  }
  return lines;
}

}  // namespace identify
