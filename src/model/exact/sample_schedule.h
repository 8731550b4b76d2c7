// The measurements of one experiment grouped for the closed-form model: by
// distinct time, so that each time costs one matrix exponential, and within
// a time by observable, so that each (time, observable) costs one Fréchet
// derivative of the Jacobian. Measurement indices are positions in the
// experiment's own measurement order.
#pragma once

#include <vector>

#include "problem/fit_problem.h"

namespace identify {

struct SampleSchedule {
  explicit SampleSchedule(const Experiment& experiment);

  std::vector<double> times;  // distinct measurement times, ascending
  // The measurements at times[i] are order[time_start[i] ..
  // time_start[i + 1] − 1], in measurement order.
  std::vector<int> time_start;
  std::vector<int> order;
  // The distinct observables measured at times[i], ascending:
  // observed[observed_start[i] .. observed_start[i + 1] − 1].
  std::vector<int> observed_start;
  std::vector<int> observed;
  std::vector<int> observable;  // of each measurement
};

}  // namespace identify
