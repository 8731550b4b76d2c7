// The step lengths of one pass of the closed-form model over an experiment
// with doses (event to event, event to sample) and what the steps of each
// length share. Steps of equal length h (the same double: doses given at a
// regular interval, samples taken at the same times after each dose) share
// one exponential F = exp(h·B). A length whose steps together would cost
// more Fréchet derivatives in the adjoint form (one per row of an event's
// sensitivity, one per observable of a sample) than B has parameters also
// keeps the directional derivatives
//
//   D_c = L(h·B, h·∂B/∂θ_c)   for each parameter θ_c of B,
//
// from which every step of that length takes the derivative of F·z with
// respect to θ_c as D_c·z: a matrix-vector product per parameter instead of
// Fréchet derivatives per step.
//
// Only lengths that occur at least twice are kept. Storage is sized in the
// constructor, up to a budget of 2^17 doubles for the exponentials and as
// much for the derivatives; the lengths beyond it (in ascending order) are
// computed at each use, as every length is without the cache. A kept
// exponential is computed the same way as an unkept one, so keeping one
// changes no result; the choice of the derivative form changes results by
// rounding only, and depends on the lengths alone.
#pragma once

#include <Eigen/Core>
#include <cstddef>
#include <utility>
#include <vector>

#include "model/exact/augmented_system.h"
#include "model/exact/matrix_exponential.h"

namespace identify {

class IntervalCache {
 public:
  // For an augmented size m, a matrix B with `directions` parameters and at
  // most `steps` steps in one pass.
  IntervalCache(int m, int directions, int steps);

  // Starts a pass: forgets the lengths and what was computed for them.
  void clear();
  // A step of length h > 0 whose derivatives cost `cost` Fréchet
  // derivatives in the adjoint form. At most `steps` per pass.
  void add(double h, int cost);
  // After the adds: picks the lengths to keep and their form.
  void finish();

  // The slot of length h, or -1 if it is not kept.
  int find(double h) const;
  bool has_directions(int slot) const { return directed_[slot] >= 0; }

  // F = exp(h·B) of a slot, at the θ loaded into `system`; computed at the
  // first call of a pass (or by with_directions()).
  const Eigen::MatrixXd& propagator(int slot, const AugmentedSystem& system,
                                    MatrixExponential& expm);
  // For a slot with directions, at the θ loaded with gradients into
  // `system`: computes F and every D_c at the first call of a pass and
  // returns F. `work` is m×m scratch.
  const Eigen::MatrixXd& with_directions(int slot,
                                         const AugmentedSystem& system,
                                         MatrixExponential& expm,
                                         Eigen::MatrixXd& work);
  // D_c of a slot, after with_directions().
  const Eigen::MatrixXd& direction(int slot, int c) const {
    return derivatives_[std::size_t(directed_[slot]) * directions_ + c];
  }

 private:
  enum State : char { kEmpty, kPropagator, kDirections };

  int directions_ = 0;
  std::vector<std::pair<double, int>> steps_;  // (length, cost) of a pass
  int step_count_ = 0;
  // The kept lengths ascending, and per slot its state, its set of
  // directional derivatives (or -1) and its exponential.
  std::vector<double> kept_;
  int kept_count_ = 0;
  std::vector<State> state_;
  std::vector<int> directed_;
  std::vector<Eigen::MatrixXd> propagators_;
  // Set s holds D_c at s·directions_ + c.
  std::vector<Eigen::MatrixXd> derivatives_;
  int sets_ = 0;
  Eigen::MatrixXd scaled_;
};

}  // namespace identify
