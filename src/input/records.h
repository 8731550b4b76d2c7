// The two records that the input files are read into. The readers fill them
// and validate them; every later stage may rely on the invariants below.
#pragma once

#include <cstdint>
#include <vector>

#include "core/entry.h"
#include "core/table.h"

namespace identify {

// What input.txt describes: the problem apart from the measurements.
// Invariants after read_problem_file: dim >= 0; fix_par_dim, par_borders_dim
// >= 0 and equal to the lengths of their lists; every EntryIndex within
// 0 .. dim-1; lower <= upper for every bound; epsilon >= 0, T > 0,
// opt_par > 0; the three Vectors have dim entries; every number finite.
struct ProblemRecord {
  double epsilon = 0.0;  // stop when the residual norm is <= epsilon
  double T = 0.0;        // final time; the model runs on [0, T]
  double opt_par = 0.0;  // descent step
  std::int32_t dim = 0;  // N
  std::int32_t fix_par_dim = 0;
  std::vector<EntryIndex> fix_par_num;
  std::vector<double> fix_par_val;
  std::int32_t par_borders_dim = 0;
  std::vector<EntryIndex> par_borders_num;
  std::vector<EntryBounds> par_borders_val;
  Vector init_val;  // x0
  Vector exp_coef;  // amp
  Vector exp_par;   // rate
};

// What input_data.txt holds: K series, each observing one component at P + 1
// points (the point at t = 0 included).
// Invariants after read_measurement_file: data_num = K >= 0; is_data_exist
// has K entries, each within 0 .. dim-1; data_dim has dim entries, all P + 1;
// data_time and add_data are K × (P + 1) tables; data_time[k][0] = 0 and
// every time lies in [0, T]; add_data[k][0] is set by the driver to the
// initial value of the observed component.
struct ObservationRecord {
  std::int32_t data_num = 0;
  std::vector<std::int32_t> is_data_exist;
  std::vector<std::int32_t> data_dim;
  Table data_time;
  Table add_data;

  // Points per series, P + 1 (the same for every series).
  int points() const { return static_cast<int>(data_time.cols()); }
};

}  // namespace identify
