// Decimating trace: a point is kept when its iteration is a multiple of the
// stride. When the buffer is full the stride doubles and the points at odd
// multiples of the old stride go, which halves the buffer and keeps the
// points evenly spaced over the whole run.
#include "fit/norm_trace.h"

namespace identify {

NormTrace::NormTrace(std::size_t capacity) : capacity_(capacity) {
  iterations_.reserve(capacity_);
  norms_.reserve(capacity_);
}

void NormTrace::record(std::int64_t iteration, double norm) {
  has_last_ = true;
  last_iteration_ = iteration;
  last_norm_ = norm;
  if (iteration % stride_ != 0) return;
  if (iterations_.size() == capacity_) {
    std::size_t kept = 0;
    for (std::size_t q = 0; q < iterations_.size(); ++q) {
      if (iterations_[q] % (2 * stride_) != 0) continue;
      iterations_[kept] = iterations_[q];
      norms_[kept] = norms_[q];
      ++kept;
    }
    iterations_.resize(kept);
    norms_.resize(kept);
    stride_ *= 2;
    if (iteration % stride_ != 0) return;
  }
  iterations_.push_back(iteration);
  norms_.push_back(norm);
}

void NormTrace::points(std::vector<std::int64_t>& iterations,
                       std::vector<double>& norms) const {
  iterations = iterations_;
  norms = norms_;
  if (has_last_ &&
      (iterations.empty() || iterations.back() != last_iteration_)) {
    iterations.push_back(last_iteration_);
    norms.push_back(last_norm_);
  }
}

}  // namespace identify
