// Reading the parameter table row by row into Parameters. A bound left
// empty is infinite; the builder checks the order of the bounds and that
// the nominal value of an estimated parameter lies within them (those of
// a fixed one are not kept), and its refusal is placed at the
// row's parameterId.
#include "input/petab/petab_parameters.h"

#include <limits>

namespace identify {

std::vector<std::string> declare_petab_parameters(const PetabTable& table,
                                                  ProblemBuilder& builder) {
  const std::size_t id = table.require("parameterId");
  const std::size_t scale = table.require("parameterScale");
  const std::size_t nominal = table.require("nominalValue");
  const std::size_t estimate = table.require("estimate");
  const std::optional<std::size_t> lower = table.find("lowerBound");
  const std::optional<std::size_t> upper = table.find("upperBound");
  const double inf = std::numeric_limits<double>::infinity();
  const auto bound = [&](std::size_t row, std::optional<std::size_t> column,
                         double none) {
    if (!column || table.cell(row, *column).text.empty()) return none;
    return table.number(table.cell(row, *column));
  };
  std::vector<std::string> names;
  for (std::size_t r = 0; r < table.rows(); ++r) {
    Parameter p;
    p.name = table.cell(r, id).text;
    const std::optional<Scale> s = parse_scale(table.cell(r, scale).text);
    if (!s) table.fail(table.cell(r, scale), "lin, log or log10");
    p.scale = *s;
    p.lower = bound(r, lower, -inf);
    p.upper = bound(r, upper, inf);
    p.value = table.number(table.cell(r, nominal));
    const std::string& e = table.cell(r, estimate).text;
    if (e != "0" && e != "1") table.fail(table.cell(r, estimate), "0 or 1");
    p.estimated = e == "1";
    if (!p.estimated) {
      // A fixed parameter keeps its nominal value, within its bounds or not.
      p.lower = -inf;
      p.upper = inf;
    }
    try {
      builder.add_parameter(p);
    } catch (const ProblemError& error) {
      throw input_error(table.pos(table.cell(r, id)), error.what());
    }
    names.push_back(p.name);
  }
  return names;
}

}  // namespace identify
