// Bounded limited-memory quasi-Newton through NLopt (method "lbfgsb").
#pragma once

#include <vector>

#include "fit/monitor.h"
#include "fit/objective.h"
#include "fit/summary.h"

namespace identify {

// NLopt's tests, shared by the code and its documentation.
inline constexpr double kQnFunctionTolerance = 1e-12;   // relative, twice
inline constexpr double kQnParameterTolerance = 1e-10;  // relative, twice
inline constexpr int kQnCorrections = 20;  // L-BFGS correction pairs kept

// Minimises the objective's S over its free parameters within their bounds,
// from the coordinates `start` of the free parameters, in the scaled unknowns
// of scaled_unknowns.h and in rounds (see lbfgsb.cc). NLopt reports no
// iterations of its own: every evaluation of S and its gradient is one
// monitor iteration, showing the lowest norm so far. The run ends with the
// monitor's stops, kDiverged for a start that is not finite,
// kOptimumReached when NLopt's gradient, function or parameter test fires
// (in the last round, or in an earlier one that a later round could not
// improve on), and kLibraryFailure for any other result, the line search's
// FAILURE and ROUNDOFF_LIMITED included: those end without a test that
// the point is an optimum.
Summary fit_lbfgsb(Objective& objective, Monitor& monitor,
                   std::vector<double> start);

}  // namespace identify
