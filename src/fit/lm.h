// Bounded Levenberg–Marquardt through Ceres Solver (method "lm").
#pragma once

#include <vector>

#include "fit/monitor.h"
#include "fit/objective.h"
#include "fit/summary.h"

namespace identify {

// Ceres' convergence tests, shared by the code and its documentation.
inline constexpr double kLmFunctionTolerance = 1e-12;   // |Δcost|/cost
inline constexpr double kLmParameterTolerance = 1e-10;  // |Δy|/(|y| + tol)

// Minimises the objective's S over its free parameters within their bounds,
// from the coordinates `start` of the free parameters, in the scaled unknowns
// of scaled_unknowns.h and in rounds (see lm.cc). One monitor iteration per
// trust-region step, accepted or rejected, showing the norm of the current
// iterate; each round starts with its start point. The run ends with the
// monitor's stops, kDiverged for a start that is not finite, kOptimumReached
// when Ceres' convergence test fires (the estimates then polished by
// Gauss–Newton steps, gauss_newton_polish.h, which are not iterations), and
// kLibraryFailure when Ceres gives up without converging (said in the program's
// own words). It also ends with kOptimumReached, unpolished, on the
// statistical stop (noise_stop.h, lm_noise_watch.h): directions below the
// noise and steps that predict far less than the noise spread of S; the
// first check that finds such directions says so through monitor.note().
// Ceres' own logging is turned off.
Summary fit_lm(Objective& objective, Monitor& monitor,
               std::vector<double> start);

}  // namespace identify
