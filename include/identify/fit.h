// The one entry of the library: fit a problem.
#pragma once

#include "identify/callbacks.h"
#include "identify/errors.h"
#include "identify/options.h"
#include "identify/problem.h"
#include "identify/result.h"

namespace identify {

// Fits `problem` as `options` say, reporting through `callbacks`. Throws
// OptionsError for invalid options (validate()), a --profile name that is
// not fitted, or a model that cannot serve the problem; InputError for a
// problem without measurements or one too large for the memory;
// std::bad_alloc. A stop (options.stop, a callback's kStop) is no error:
// the result holds the best point and says kInterrupted. Nothing is
// printed and no global state is touched: fits on several threads at once
// give the results of separate runs.
Result fit(const Problem& problem, const FitOptions& options = {},
           const Callbacks& callbacks = {});

}  // namespace identify
