// Round k+1 runs only if b_k < b_{k-1}, b_k the best value after round k
// and b_0 = +∞: the sequence of best values is strictly decreasing, so the
// rounds end on a round that found nothing lower.
#include "fit/rounds.h"

#include <limits>

namespace identify {

void run_rounds(const std::function<bool()>& round,
                const std::function<double()>& best,
                const std::function<bool()>& between) {
  double best_before = std::numeric_limits<double>::infinity();
  while (round()) {
    const double now = best();
    if (!(now < best_before)) return;
    best_before = now;
    if (between && !between()) return;
  }
}

}  // namespace identify
