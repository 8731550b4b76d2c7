// How a fit reports while it runs. Both callbacks are optional.
//
// Threads: the callbacks are called from the thread that called fit() and,
// for several starts, profiles or experiments fitted in parallel, from the
// fit's worker threads. Calls are serialised: the library holds one lock
// per fit() around every call, so a callback never runs twice at once and
// needs no lock of its own (it must not call fit() of the same fit).
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace identify {

// One iteration of one of the fits a fit() call runs: of a start, of the
// result's own fit, or of a profile's re-fits.
struct IterationEvent {
  std::string experiment;      // with separate fits; "" otherwise
  std::int64_t iteration = 0;  // from 0 in each fit, as "COUNT = " counts
  // Residual norm sqrt(S), or -2 ln L when `likelihood`.
  double objective = 0.0;
  bool likelihood = false;
};

enum class CallbackReturn { kContinue, kStop };

struct Callbacks {
  // After every iteration of every fit. kStop ends the fit (all of it: the
  // starts not yet run are skipped) as an interrupt by SIGINT does: the
  // best point so far is the result.
  std::function<CallbackReturn(const IterationEvent&)> on_iteration;
  // Each line the console program prints while fitting (progress lines,
  // "start 3 of 20: ..." lines, the ITERATION NUMBER block, warnings
  // without the "identify: " prefix), without its line break; `to_stderr`
  // for the lines it prints on stderr.
  std::function<void(const std::string& line, bool to_stderr)> on_line;
};

}  // namespace identify
