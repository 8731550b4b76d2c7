// A fit problem written as a PEtab v1 problem in a directory:
//
//   problem.yaml       format_version 1 and the files below
//   model.xml          SBML level 3: a species per state (an amount in a
//                      compartment of size 1), a parameter per problem
//                      parameter, and per state a rate rule
//                      dx_i/dt = sum_j A_ij·x_j (+ its input)
//   conditions.tsv     an experiment per row: the initial state of every
//                      state (a number or a parameter) and the parameters
//                      it overrides
//   observables.tsv    y = sum c_i·x_i + d with its transformation and
//                      distribution; the noise formula noiseParameter1_y
//                      when every sigma of y is a number or a parameter
//                      (the row's noiseParameters), else its sigma
//   measurements.tsv   a row per measurement, in problem order
//   parameters.tsv     every parameter with scale, bounds, value, estimate
//
// An input amp·exp(rate·t) becomes a state of its own, u' = rate·u with
// u(0) = amp, feeding its state; one with rate 0 is a constant term of the
// rate rule. Numbers are written with 17 significant digits, so that the
// problem read back is the same to the last bit.
//
// Refused, with the reason: doses (PEtab v1 has no form for them),
// pre-equilibrated experiments, a sigma that depends on the model value, an
// initial state that is neither a number nor a parameter.
#pragma once

#include <string>

#include "problem/fit_problem.h"

namespace identify {

// Writes the files into `directory` (which must exist). Returns "" or why
// the problem cannot be written as PEtab, or why a file could not be
// written.
std::string export_petab(const FitProblem& problem,
                         const std::string& directory);

}  // namespace identify
