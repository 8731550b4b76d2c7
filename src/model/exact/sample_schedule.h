// The measurements of one experiment grouped for the closed-form model: by
// distinct time, so that each time costs one matrix exponential, and within
// a time by observable, so that each (time, observable) costs one Fréchet
// derivative of the Jacobian. Measurement indices are positions in the
// experiment's own measurement order.
//
// A long table is mostly one measurement per time, in time order, of one
// observable: the grouping is then the identity and is not stored, so that
// the schedule costs a measurement only its distinct time (8 bytes), and
// where several share a time, 12 bytes a distinct time.
#pragma once

#include <cstddef>
#include <vector>

#include "problem/fit_problem.h"

namespace identify {

class SampleSchedule {
 public:
  explicit SampleSchedule(const Experiment& experiment);

  std::vector<double> times;  // distinct measurement times, ascending

  // The measurements of the experiment.
  int measurements() const { return count_; }
  // The measurements at times[i] are measurement(q) for q from first(i) to
  // end(i) − 1, in measurement order.
  int first(std::size_t i) const {
    return time_start_.empty() ? static_cast<int>(i) : time_start_[i];
  }
  int end(std::size_t i) const {
    return time_start_.empty() ? static_cast<int>(i) + 1 : time_start_[i + 1];
  }
  int measurement(int q) const { return order_.empty() ? q : order_[q]; }
  // The observable of measurement `meas`.
  int observable(int meas) const {
    return observable_.empty() ? single_observable_ : observable_[meas];
  }
  // The distinct observables measured at times[i], ascending: observed(i, r)
  // for r from 0 to observed_count(i) − 1.
  int observed_count(std::size_t i) const {
    return observed_start_.empty()
               ? 1
               : observed_start_[i + 1] - observed_start_[i];
  }
  int observed(std::size_t i, int r) const {
    return observed_start_.empty() ? observable(measurement(first(i)))
                                   : observed_[observed_start_[i] + r];
  }

 private:
  void prefix_sums();

  int count_ = 0;
  int single_observable_ = 0;    // when observable_ is empty
  std::vector<int> time_start_;  // empty: one measurement a time
  std::vector<int> order_;       // empty: in time order already
  // Empty: one measurement a time, or one observable for all.
  std::vector<int> observed_start_;
  std::vector<int> observed_;
  std::vector<int> observable_;  // empty: one observable for all
};

}  // namespace identify
