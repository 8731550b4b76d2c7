// The step lengths of a pass sorted (std::sort, in place, no allocation)
// and merged into distinct lengths with their total cost; those with two
// or more steps are kept while there is room, in ascending order. A kept
// length gets directional derivatives when its cost exceeds the number of
// parameters of B: the d Fréchet derivatives L(h·B, h·∂B/∂θ_c) then stand
// for more than d in the adjoint form.
#include "model/exact/interval_cache.h"

#include <algorithm>
#include <cstddef>

namespace identify {
namespace {

constexpr std::size_t kBudget = std::size_t{1} << 17;  // doubles

}  // namespace

IntervalCache::IntervalCache(int m, int directions, int steps)
    : directions_(directions), steps_(steps), scaled_(m, m) {
  const std::size_t square = std::max<std::size_t>(1, std::size_t(m) * m);
  const int slots =
      static_cast<int>(std::min<std::size_t>(steps / 2, kBudget / square));
  const int sets = directions == 0
                       ? slots
                       : static_cast<int>(std::min<std::size_t>(
                             slots, kBudget / (square * directions)));
  kept_.resize(slots);
  state_.resize(slots, kEmpty);
  directed_.resize(slots, -1);
  propagators_.assign(slots, Eigen::MatrixXd(m, m));
  derivatives_.assign(static_cast<std::size_t>(sets) * directions,
                      Eigen::MatrixXd(m, m));
  sets_ = sets;
}

void IntervalCache::clear() {
  step_count_ = 0;
  kept_count_ = 0;
}

void IntervalCache::add(double h, int cost) {
  steps_[step_count_++] = {h, cost};
}

void IntervalCache::finish() {
  std::sort(steps_.begin(), steps_.begin() + step_count_);
  const int slots = static_cast<int>(kept_.size());
  int sets = 0;
  for (int q = 0; q < step_count_ && kept_count_ < slots;) {
    const double h = steps_[q].first;
    int count = 0, cost = 0;
    for (; q < step_count_ && steps_[q].first == h; ++q, ++count) {
      cost += steps_[q].second;
    }
    if (count < 2) continue;
    const int slot = kept_count_++;
    kept_[slot] = h;
    state_[slot] = kEmpty;
    directed_[slot] = cost > directions_ && sets < sets_ ? sets++ : -1;
  }
}

int IntervalCache::find(double h) const {
  const auto end = kept_.begin() + kept_count_;
  const auto at = std::lower_bound(kept_.begin(), end, h);
  return at != end && *at == h ? static_cast<int>(at - kept_.begin()) : -1;
}

const Eigen::MatrixXd& IntervalCache::propagator(int slot,
                                                 const AugmentedSystem& system,
                                                 MatrixExponential& expm) {
  if (state_[slot] == kEmpty) {
    scaled_ = kept_[slot] * system.matrix();
    expm.compute(scaled_, propagators_[slot]);
    state_[slot] = kPropagator;
  }
  return propagators_[slot];
}

const Eigen::MatrixXd& IntervalCache::with_directions(
    int slot, const AugmentedSystem& system, MatrixExponential& expm,
    Eigen::MatrixXd& work) {
  if (state_[slot] != kDirections) {
    const double h = kept_[slot];
    const std::size_t first = std::size_t(directed_[slot]) * directions_;
    scaled_ = h * system.matrix();
    for (int c = 0; c < directions_; ++c) {
      system.matrix_direction(c, h, work);
      expm.compute_with_derivative(scaled_, work, propagators_[slot],
                                   derivatives_[first + c]);
    }
    if (directions_ == 0) expm.compute(scaled_, propagators_[slot]);
    state_[slot] = kDirections;
  }
  return propagators_[slot];
}

}  // namespace identify
