// The rounds of a library method. A projected step or an absolute gradient
// test can end a run short of the optimum, so lm and lbfgsb run again from
// where the last run ended, as long as each run lowers the best residual
// norm (or -2 ln L) found so far.
#pragma once

#include <functional>

namespace identify {

// Runs `round` until it returns false (the fit ended in it: stopped,
// failed, or nothing left to fit). After a round that returned true,
// another follows only if `best()` is now lower than after the round
// before (any finite value is lower than none; NaN is never lower) and
// then `between()`, if given, returns true (it readies the next round).
void run_rounds(const std::function<bool()>& round,
                const std::function<double()>& best,
                const std::function<bool()>& between = nullptr);

}  // namespace identify
