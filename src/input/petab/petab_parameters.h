// The parameter table of a PEtab problem: parameterId, parameterScale (lin,
// log, log10), lowerBound, upperBound, nominalValue and estimate (0 or 1).
// Values and bounds are unscaled, as a problem file states them; an
// estimated parameter starts its fit at its nominal value.
#pragma once

#include <string>
#include <vector>

#include "input/petab/petab_table.h"
#include "problem/problem_builder.h"

namespace identify {

// Declares every parameter of `table` in `builder`, in table order, and
// returns their names. Throws InputError at the offending cell.
std::vector<std::string> declare_petab_parameters(const PetabTable& table,
                                                  ProblemBuilder& builder);

}  // namespace identify
