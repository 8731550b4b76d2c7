// Grouping by a counting sort on the index of each measurement's time in
// the sorted distinct times; the observables of one time are then sorted
// and made unique.
#include "model/exact/sample_schedule.h"

#include <algorithm>
#include <cstddef>

namespace identify {

SampleSchedule::SampleSchedule(const Experiment& experiment) {
  const std::vector<Measurement>& ms = experiment.measurements.rows();
  const int count = static_cast<int>(ms.size());
  for (const Measurement& m : ms) {
    times.push_back(m.time);
    observable.push_back(m.observable);
  }
  std::sort(times.begin(), times.end());
  times.erase(std::unique(times.begin(), times.end()), times.end());

  std::vector<int> time_of(count);
  time_start.assign(times.size() + 1, 0);
  for (int s = 0; s < count; ++s) {
    time_of[s] = static_cast<int>(
        std::lower_bound(times.begin(), times.end(), ms[s].time) -
        times.begin());
    ++time_start[time_of[s] + 1];
  }
  for (std::size_t i = 0; i < times.size(); ++i) {
    time_start[i + 1] += time_start[i];
  }
  order.resize(count);
  std::vector<int> next(time_start.begin(), time_start.end() - 1);
  for (int s = 0; s < count; ++s) order[next[time_of[s]]++] = s;

  observed_start.assign(1, 0);
  for (std::size_t i = 0; i < times.size(); ++i) {
    const auto first = observed.end() - observed.begin();
    for (int p = time_start[i]; p < time_start[i + 1]; ++p) {
      observed.push_back(observable[order[p]]);
    }
    std::sort(observed.begin() + first, observed.end());
    observed.erase(std::unique(observed.begin() + first, observed.end()),
                   observed.end());
    observed_start.push_back(static_cast<int>(observed.size()));
  }
}

}  // namespace identify
