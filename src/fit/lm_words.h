// How a Ceres run of the lm method ended, in the program's own words: one
// line, never Ceres' own message (which can span lines and name memory
// addresses).
#pragma once

#include <ceres/solver.h>

#include <string>

namespace identify {

// What the cost function saw of a run that went wrong.
struct LmTrouble {
  int not_finite_in_a_row = 0;       // last trial points without a finite norm
  bool jacobian_not_finite = false;  // the last Jacobian had inf or NaN
};

// Ceres' message of a converged run, "Function tolerance reached.
// |cost_change|/cost: a <= b", as "function tolerance reached:
// |cost_change|/cost: a <= b".
std::string lm_convergence_text(std::string message);

// Why a run that did not converge ended: "the solver stopped without
// converging: ..." with what the cost function saw, or Ceres' termination
// type where it saw nothing wrong. The fitted point is named "{subject}"
// (see Summary::subject), for the front end to name.
std::string lm_failure_text(const ceres::Solver::Summary& summary,
                            const LmTrouble& trouble);

}  // namespace identify
