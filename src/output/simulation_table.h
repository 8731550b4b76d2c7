// PEtab's simulation table: the measurement table with the model's value of
// each row in place of the measured one (its column named "simulation").
// For a PEtab problem the rows are those read, cell for cell; for a problem
// file they are built from the problem: observableId,
// simulationConditionId (the experiment), time and simulation. Values are
// written with 17 significant digits, so that they read back exactly.
#pragma once

#include <span>
#include <string>

#include "problem/fit_problem.h"
#include "problem/measurement_rows.h"

namespace identify {

// The table's text. `rows` may be empty (a problem file); `simulations`
// holds one value per measurement of `problem`, in problem order.
std::string format_simulation_table(const FitProblem& problem,
                                    const MeasurementRows& rows,
                                    std::span<const double> simulations);

}  // namespace identify
