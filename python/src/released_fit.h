// A fit run for Python: without the GIL, interruptible by Ctrl-C, with the
// progress callable called under the GIL.
#pragma once

#include <pybind11/pybind11.h>

#include "identify/fit.h"

namespace identify::python {

struct ReleasedFit {
  Result result;
  // The KeyboardInterrupt (or other exception of a signal handler) that
  // stopped the fit; None when no signal did. The result then holds the
  // best point kept before the stop.
  pybind11::object interrupt;
};

// Fits `problem` on a worker thread while the calling thread, which must
// hold the GIL, releases it and looks for signals every 50 ms. When a
// signal handler raises (Ctrl-C: KeyboardInterrupt), the fit is stopped as
// SIGINT stops the program and the exception is returned with the result.
// `progress` (None: none) is called with the GIL held after every
// iteration, with one dict (experiment, iteration, objective, likelihood); a
// return value of False stops the fit, and an exception it raises stops the fit
// and is raised here. Throws what fit() throws.
ReleasedFit fit_without_gil(const Problem& problem, FitOptions options,
                            const pybind11::object& progress);

}  // namespace identify::python
