// The model of a fit problem as an SBML level 3 document, written with
// libSBML: a species per state (an amount, in a compartment of size 1,
// starting at 0: the conditions set x0), a constant parameter per problem
// parameter at its value, and per state the rate rule
//
//   dx_i/dt = sum_j (A_ij)·x_j + input_i,
//
// the entries as the text they were written in. An input with rate 0 is
// the term (amp); another is a species input_<state> of its own with
// d/dt = (rate)·input_<state> and the initial assignment amp.
#pragma once

#include <string>

#include "problem/fit_problem.h"

namespace identify {

// The document's text. The problem has at least one experiment; its first
// experiment's expressions are the model's (the others differ only by
// overrides).
std::string write_sbml_model(const FitProblem& problem);

}  // namespace identify
