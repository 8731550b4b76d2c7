// Trajectory CSV. Times are k·dt with dt = T/3000, computed per node as the
// sweeps do, never accumulated; values are printed with %.17g, the shortest
// precision that round-trips every double.
#include "output/trajectory_file.h"

#include <algorithm>
#include <cstdio>

#include "output/output_file.h"

namespace identify {

std::vector<double> grid_times(double T) {
  const double dt = T / static_cast<double>(kStepCount);
  std::vector<double> times(kNodeCount);
  for (int k = 0; k < kNodeCount; ++k) times[k] = static_cast<double>(k) * dt;
  return times;
}

std::string format_trajectory(const std::vector<double>& times,
                              const Table& X) {
  std::string text = "t";
  char number[32];
  for (std::size_t i = 0; i < X.rows(); ++i) {
    std::snprintf(number, sizeof number, ",x%zu", i + 1);
    text += number;
  }
  text += '\n';
  for (std::size_t k = 0; k < times.size(); ++k) {
    std::snprintf(number, sizeof number, "%.17g", times[k]);
    text += number;
    for (std::size_t i = 0; i < X.rows(); ++i) {
      std::snprintf(number, sizeof number, ",%.17g", X[i][k]);
      text += number;
    }
    text += '\n';
  }
  return text;
}

std::string format_problem_trajectory(
    const std::vector<std::string>& states,
    const std::vector<std::string>& observables,
    const std::vector<ExperimentTrajectory>& experiments) {
  std::vector<std::string> columns = states;
  for (std::string name : observables) {
    while (std::find(columns.begin(), columns.end(), name) != columns.end()) {
      name += "_obs";
    }
    columns.push_back(name);
  }
  std::string text = "experiment,time";
  for (const std::string& c : columns) text += "," + c;
  text += '\n';
  char number[32];
  for (const ExperimentTrajectory& e : experiments) {
    for (std::size_t k = 0; k < e.times.size(); ++k) {
      std::snprintf(number, sizeof number, ",%.17g", e.times[k]);
      text += e.id + number;
      for (const Table* t : {&e.states, &e.observables}) {
        for (std::size_t i = 0; i < t->rows(); ++i) {
          std::snprintf(number, sizeof number, ",%.17g", (*t)[i][k]);
          text += number;
        }
      }
      text += '\n';
    }
  }
  return text;
}

std::string write_trajectory_file(const std::string& path,
                                  const std::vector<double>& times,
                                  const Table& X) {
  return write_output_file(path, format_trajectory(times, X));
}

}  // namespace identify
