// Backward sweep of the adjoint system dpsi/dt = -Aᵀ psi on the TimeGrid,
// from node 3000 down to node 0, with the measurement jumps added at the
// nodes the model samples were read from. With jumps 2·(model − measured),
// row i of Psi integrated against row j of the forward trajectory gives the
// derivative of the sum of squared residuals with respect to A[i][j].
// Plain reference implementation, in the one fixed order of operations.
#pragma once

#include <atomic>
#include <span>
#include <vector>

#include "core/table.h"
#include "model/grid/sweep_scratch.h"
#include "model/stop_flag.h"

namespace identify {

// One measurement jump: at grid node `node`, H[series][sample] is added to
// adjoint component `component`.
struct Jump {
  int node = 0;
  int component = 0;
  int series = 0;
  int sample = 0;
  friend bool operator==(const Jump&, const Jump&) = default;
};

// Walks a jump schedule from the last node down to node 0 and adds the
// jumps of one node at a time, in schedule order.
class JumpCursor {
 public:
  // Skips the jumps of nodes past last_node (only reached when the sweep
  // takes fewer than kStepCount steps).
  JumpCursor(std::span<const Jump> jumps, int last_node) : jumps_(jumps) {
    while (next_ < jumps_.size() && jumps_[next_].node > last_node) ++next_;
  }
  // True when `node` has jumps still to add.
  bool has(int node) const {
    return next_ < jumps_.size() && jumps_[next_].node == node;
  }
  // w[c] = w[c] + H[series][sample] for every jump of `node`.
  void apply(int node, const Table& H, double* w) {
    for (; has(node); ++next_) {
      const Jump& jp = jumps_[next_];
      w[jp.component] = w[jp.component] + H[jp.series][jp.sample];
    }
  }

 private:
  std::span<const Jump> jumps_;
  std::size_t next_ = 0;
};

// The grid node that sample time t is read from: (t / T)·3000.0 truncated
// toward zero (so 0.7 with T = 3 reads node 699). Clamped into 0 .. 3000.
int sample_node(double t, double T);

// The jumps of a list of samples, ordered as the sweep applies them: node
// descending, then sample ascending (samples at t = 0 land on node 0).
// Sample q observes components[q] at times[q]; its jump is H[0][q] (series
// 0, sample q).
std::vector<Jump> make_jump_schedule(std::span<const int> components,
                                     std::span<const double> times, double T);

// out_i = sum_j (−A[j][i])·psi_j, j ascending. out and psi are distinct.
void adjoint_rhs(int N, const double* psi, const Matrix& A, double* out);

// Fills Psi[j][0 .. 3000]. Starts from `terminal` at node n = step_count(T,
// dt), adds the jumps of node n, then for each step i = 1 .. n producing node
// m = n − i: the RK4 increments are (−dt)·f, w_j = u + w_j, then the jumps of
// node m in schedule order, then node m is stored. H has one row per series.
// Once *stop is nonzero (looked at every kStopCheckInterval steps) the sweep
// returns early and the nodes below keep what they held.
void solve_adjoint(int N, double T, double dt, const double* terminal,
                   const Matrix& A, const Table& H, std::span<const Jump> jumps,
                   Trajectory& Psi, SweepScratch& scratch,
                   const std::atomic<int>* stop = nullptr);

}  // namespace identify
