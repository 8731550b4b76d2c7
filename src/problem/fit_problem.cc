// Counts and positions derived from a FitProblem's experiments: the problem
// order of the measurements is experiment after experiment, so experiment
// e's first measurement sits after all measurements of experiments 0..e−1.
#include "problem/fit_problem.h"

#include <algorithm>

namespace identify {

int FitProblem::parameter_index(std::string_view name) const {
  for (std::size_t k = 0; k < parameters.size(); ++k) {
    if (parameters[k].name == name) return static_cast<int>(k);
  }
  return -1;
}

NoiseModel FitProblem::noise_of(int observable) const {
  return observable < static_cast<int>(noise.size()) ? noise[observable]
                                                     : NoiseModel{};
}

std::size_t FitProblem::measurement_count() const {
  return measurement_offset(static_cast<int>(experiments.size()));
}

std::size_t FitProblem::measurement_offset(int experiment) const {
  std::size_t offset = 0;
  for (int e = 0; e < experiment; ++e) {
    offset += experiments[e].measurements.size();
  }
  return offset;
}

std::size_t FitProblem::counted_measurement_count() const {
  std::size_t count = 0;
  for (const Experiment& e : experiments) {
    count += static_cast<std::size_t>(
        std::count_if(e.measurements.begin(), e.measurements.end(),
                      [](const Measurement& m) { return m.counted; }));
  }
  return count;
}

std::vector<double> FitProblem::values() const {
  std::vector<double> theta;
  theta.reserve(parameters.size());
  for (const Parameter& p : parameters) theta.push_back(p.value);
  return theta;
}

std::vector<int> FitProblem::estimated_parameters() const {
  std::vector<int> indices;
  for (std::size_t k = 0; k < parameters.size(); ++k) {
    if (parameters[k].estimated) indices.push_back(static_cast<int>(k));
  }
  return indices;
}

double FitProblem::end_time() const {
  double end = horizon;
  for (const Experiment& e : experiments) {
    for (const Measurement& m : e.measurements) end = std::max(end, m.time);
    double lag = e.lag.is_constant() ? e.lag.constant_value() : 0.0;
    for (const Dose& d : e.doses) {
      if (!d.time.is_constant()) continue;
      double t = d.time.constant_value() + lag;
      if (d.infusion && d.duration.is_constant()) {
        t += d.duration.constant_value();
      }
      end = std::max(end, t);
    }
  }
  return end;
}

}  // namespace identify
