// Library least-squares methods for the matrix A: bounded Levenberg–Marquardt
// (Ceres Solver) and bounded limited-memory quasi-Newton (NLopt's L-BFGS).
// Both minimise the same sum of squared residuals as the descent, take their
// derivatives from the model, and report through the same progress lines,
// stops and verdicts.
#pragma once

#include <cstdint>
#include <iosfwd>

#include "fit/scaled_residuals.h"
#include "fit/stop.h"
#include "input/records.h"
#include "model/matrix_model.h"

namespace identify {

enum class LeastSquaresMethod {
  kLevenbergMarquardt,  // "lm": trust-region LM on the residual Jacobian
  kQuasiNewton,         // "lbfgsb": L-BFGS with box bounds on the gradient
};

// Minimises sum over k, n of (M[k][n](A) − obs.add_data[k][n])² over the
// entries of A that are not fixed, within the bounds of the bounded ones, and
// leaves the answer in A.
//
// Unknowns and start: a fixed entry (named more than once: the last value)
// is set and never moves, even if it is also bounded; a bounded entry named
// more than once keeps its last interval, and one whose interval is a single
// point is fixed there. The start is the A passed in with the fixed entries
// set and every bounded entry clamped into its interval (the driver passes
// the zero matrix). Each unknown is scaled by the norm of its Jacobian column
// at the start (a column that is zero there by a stand-in from the typical
// size of its source component), so entries of very different sizes converge
// alike. Both methods may run their library more than once from the point
// the last run ended on (lm: with the unknowns that press against a bound
// held there; lbfgsb: rescaled after its absolute gradient test); the
// iterations count on across these rounds. lm_method.cc and qn_method.cc
// have the details. A scale that would overflow or underflow (sample times
// near 1e308, or 1e-320) is replaced by 1, so no scaled unknown is inf or
// NaN.
//
// Console and stops, as for the descent: one "<norm>:   COUNT = <c>" line (and
// history line) per iteration c = 0, 1, ..., then the "ITERATION NUMBER" block.
// For lm an iteration is one trust-region step, accepted or not, and the norm
// is that of the current iterate (each round starts with a line for its start
// point); for lbfgsb an iteration is one evaluation of the sum of squares and
// its gradient, and the norm is the lowest reached so far. The run ends with
// kConverged as soon as an iterate has residual norm <= epsilon (A is that
// iterate); with kMethodConverged when the library's own convergence test
// fires (or NLopt's line search finds no lower point); with kIterationLimit,
// kNoProgress or kInterrupted as the RunMonitor decides after each progress
// line; with kDiverged if the start has no finite residual norm; with kStalled
// if the library gives up without converging. On every stop but kConverged A is
// the matrix with the lowest residual norm seen (the start if no iteration
// finished). The model gets stop.interrupt as its stop flag for the run, so
// an interrupt cuts the model call under way short. The verdict (one line,
// empty on kConverged) starts with the method name, names the library test
// that fired with its numbers (a library failure in the program's own words),
// and ends with the model calls used. `counts`, if given, receives those
// numbers on every stop. Ceres' logging is turned off.
IdentifyResult fit_least_squares(const ProblemRecord& problem,
                                 const ObservationRecord& obs,
                                 MatrixModel& model, Matrix& A,
                                 const StopSettings& stop, std::ostream& out,
                                 LeastSquaresMethod method,
                                 FitCounts* counts = nullptr);

// The library tolerances, shared by the code and its documentation.
inline constexpr double kLmFunctionTolerance = 1e-12;   // |Δcost|/cost
inline constexpr double kLmParameterTolerance = 1e-10;  // |Δy|/(|y| + tol)
inline constexpr double kQnFunctionTolerance = 1e-12;   // relative, twice
inline constexpr double kQnParameterTolerance = 1e-10;  // relative, twice
inline constexpr int kQnCorrections = 20;  // L-BFGS correction pairs kept

}  // namespace identify
