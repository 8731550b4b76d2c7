// The rows of a measurement table as they were read, for a simulation
// table that repeats each row with the model's value in place of the
// measured one.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace identify {

struct MeasurementRows {
  std::vector<std::string> columns;
  std::vector<std::vector<std::string>> cells;  // row by column
  std::size_t value_column = 0;                 // the measured value
  // The position in the problem's measurement order of each row.
  std::vector<std::size_t> measurement;
};

}  // namespace identify
