// The residual norm against the iteration, kept for a plot in bounded memory.
// A run may take millions of iterations, so the trace keeps at most
// `capacity` points: every stride-th iteration, the stride doubling (and
// every other kept point dropped) whenever the buffer fills, plus the last
// iteration recorded. Storage is allocated once, in the constructor;
// record() never allocates.
#pragma once

#include <cstdint>
#include <vector>

namespace identify {

class NormTrace {
 public:
  // capacity >= 2.
  explicit NormTrace(std::size_t capacity = 4096);

  // Notes the residual norm of iteration `iteration`. Iterations come in
  // ascending order, starting from 0 and one apart, as the progress lines.
  void record(std::int64_t iteration, double norm);

  // The kept points in ascending iteration order, the last one recorded
  // included: iterations 0, s, 2s, ... (s the current stride) and the last.
  void points(std::vector<std::int64_t>& iterations,
              std::vector<double>& norms) const;

  std::int64_t stride() const { return stride_; }

 private:
  std::size_t capacity_;
  std::vector<std::int64_t> iterations_;
  std::vector<double> norms_;
  std::int64_t stride_ = 1;
  bool has_last_ = false;
  std::int64_t last_iteration_ = 0;
  double last_norm_ = 0.0;
};

}  // namespace identify
