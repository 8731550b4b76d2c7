// The simulation table, row by row: each row of the measurement table as
// read, its value column renamed and replaced by y of the measurement it
// became; or, without rows, one row per measurement in problem order.
#include "output/simulation_table.h"

#include <cstdio>

#include "core/exact_number.h"

namespace identify {
namespace {

std::string tab_line(const std::vector<std::string>& cells) {
  std::string line;
  for (std::size_t c = 0; c < cells.size(); ++c) {
    line += (c == 0 ? "" : "\t") + cells[c];
  }
  return line + "\n";
}

}  // namespace

std::string format_simulation_table(const FitProblem& problem,
                                    const MeasurementRows& rows,
                                    std::span<const double> simulations) {
  std::string text;
  if (!rows.columns.empty()) {
    std::vector<std::string> header = rows.columns;
    header[rows.value_column] = "simulation";
    text += tab_line(header);
    for (std::size_t r = 0; r < rows.cells.size(); ++r) {
      std::vector<std::string> cells = rows.cells[r];
      cells[rows.value_column] = exact_number(simulations[rows.measurement[r]]);
      text += tab_line(cells);
    }
    return text;
  }
  text += "observableId\tsimulationConditionId\ttime\tsimulation\n";
  std::size_t m = 0;
  for (const Experiment& e : problem.experiments) {
    for (const Measurement& x : e.measurements) {
      text += tab_line({problem.observables[x.observable], e.id, exact_number(x.time),
                        exact_number(simulations[m++])});
    }
  }
  return text;
}

}  // namespace identify
