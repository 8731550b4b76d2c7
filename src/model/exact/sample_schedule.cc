// Grouping by a counting sort on the index of each measurement's time in
// the sorted distinct times; the observables of one time are then sorted
// and made unique. Each table is dropped when it is the identity: the order
// when the measurements are in time order, the time starts when every time
// has one measurement, the observables and the observables of each time
// when there is one.
#include "model/exact/sample_schedule.h"

#include <algorithm>

namespace identify {

SampleSchedule::SampleSchedule(const Experiment& experiment) {
  const std::vector<Measurement>& ms = experiment.measurements.rows();
  count_ = static_cast<int>(ms.size());
  times.reserve(ms.size());
  bool one_observable = true;
  for (const Measurement& m : ms) {
    times.push_back(m.time);
    one_observable = one_observable && m.observable == ms[0].observable;
  }
  if (!ms.empty()) single_observable_ = ms[0].observable;
  if (!one_observable) {
    for (const Measurement& m : ms) observable_.push_back(m.observable);
  }
  const bool in_order = std::is_sorted(times.begin(), times.end());
  if (!in_order) std::sort(times.begin(), times.end());
  times.erase(std::unique(times.begin(), times.end()), times.end());
  times.shrink_to_fit();
  if (in_order && times.size() == ms.size()) return;

  time_start_.assign(times.size() + 1, 0);
  if (in_order) {
    // The counting sort of measurements in time order is the identity.
    std::size_t i = 0;
    for (const Measurement& m : ms) {
      while (times[i] != m.time) ++i;
      ++time_start_[i + 1];
    }
    prefix_sums();
  } else {
    std::vector<int> time_of(count_);
    for (int s = 0; s < count_; ++s) {
      time_of[s] = static_cast<int>(
          std::lower_bound(times.begin(), times.end(), ms[s].time) -
          times.begin());
      ++time_start_[time_of[s] + 1];
    }
    prefix_sums();
    order_.resize(count_);
    std::vector<int> next(time_start_.begin(), time_start_.end() - 1);
    for (int s = 0; s < count_; ++s) order_[next[time_of[s]]++] = s;
  }
  if (one_observable) return;

  observed_start_.assign(1, 0);
  for (std::size_t i = 0; i < times.size(); ++i) {
    const auto from = observed_.end() - observed_.begin();
    for (int p = time_start_[i]; p < time_start_[i + 1]; ++p) {
      observed_.push_back(observable(measurement(p)));
    }
    std::sort(observed_.begin() + from, observed_.end());
    observed_.erase(std::unique(observed_.begin() + from, observed_.end()),
                    observed_.end());
    observed_start_.push_back(static_cast<int>(observed_.size()));
  }
}

void SampleSchedule::prefix_sums() {
  for (std::size_t i = 0; i < times.size(); ++i) {
    time_start_[i + 1] += time_start_[i];
  }
}

}  // namespace identify
