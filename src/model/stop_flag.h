// A request to end a long model computation early. A signal handler sets the
// flag to its signal number; the sweeps, quadratures and sample-time loops of
// the models look at it now and then and return early once it is nonzero,
// leaving their outputs incomplete. The flag only ever goes from 0 to nonzero
// during a fit, so a caller that finds it set after a call knows that the
// call's results may be partial and must not be used.
#pragma once

#include <atomic>

namespace identify {

// Grid steps between two looks at the flag in a sweep. A look costs one
// load and a predictable branch, nothing beside a step of the systems that
// look (more than 8 components); and a step of N = 5000 takes about 25 ms,
// so even there a sweep notices the flag within half a second.
inline constexpr int kStopCheckInterval = 16;

// True when `flag` is set; a null flag never is.
inline bool stop_requested(const std::atomic<int>* flag) {
  return flag != nullptr && flag->load(std::memory_order_relaxed) != 0;
}

}  // namespace identify
