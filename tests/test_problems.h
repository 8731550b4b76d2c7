// Small problems and example cases for the unit tests, built in memory the
// way the readers and the driver would build them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "input/records.h"

namespace identify::testing {

// epsilon 0, T = 10, opt_par 1, no fixed or bounded entries.
ProblemRecord make_problem(const Vector& x0, const Vector& amp,
                           const Vector& rate);

// Series k observes components[k] at times[k] (times[k][0] must be 0);
// the values are all 0.
ObservationRecord make_observations(
    int dim, const std::vector<std::int32_t>& components,
    const std::vector<std::vector<double>>& times);

Matrix matrix_of(const std::vector<std::vector<double>>& rows);

// An example case read as the driver reads it, point 0 anchored at x0.
struct Example {
  ProblemRecord problem;
  ObservationRecord obs;
};
Example read_example(const std::string& name);

}  // namespace identify::testing
