// The fitted model as a table for other programs: one CSV line per time,
// "t,x1,...,xN" with a header, every number with 17 significant digits so
// that it reads back as the same double. For a problem file, one line per
// experiment and time with the states and observables by name.
#pragma once

#include <string>
#include <vector>

#include "core/table.h"

namespace identify {

// The CSV text of X (N rows, one column per time) at `times`.
std::string format_trajectory(const std::vector<double>& times, const Table& X);

// Writes format_trajectory(times, X) to `path` as an OutputFile (replaced
// atomically, or in place for a FIFO or a device). Returns an empty string
// on success, otherwise the reason.
std::string write_trajectory_file(const std::string& path,
                                  const std::vector<double>& times,
                                  const Table& X);

// The fitted model of one experiment of a problem file: its states (N
// rows) and observables (one row per observable) at `times`.
struct ExperimentTrajectory {
  std::string id;
  std::vector<double> times;
  Table states;
  Table observables;
};

// "experiment,time,<state names>,<observable names>", then the experiments
// one after another. An observable that shares its name with a state (or
// with an earlier column) gets "_obs" appended until its name is unique.
std::string format_problem_trajectory(
    const std::vector<std::string>& states,
    const std::vector<std::string>& observables,
    const std::vector<ExperimentTrajectory>& experiments);

// The TimeGrid times k·(T/3000), k = 0 .. 3000, as the sweeps compute them.
std::vector<double> grid_times(double T);

}  // namespace identify
