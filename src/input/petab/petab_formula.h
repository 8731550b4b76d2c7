// Formulas of the PEtab tables (observable and noise formulas), read with
// libSBML's infix parser as PEtab writes them: "^" or "**" for powers, log
// the natural logarithm, names of species, parameters and placeholders.
#pragma once

#include <sbml/math/ASTNode.h>

#include <memory>
#include <string>

#include "input/petab/petab_table.h"

namespace identify {

// The parsed formula in `cell` of `table`. Throws InputError at the cell
// for text that does not parse: "o.tsv:2:8: expected a formula, found
// \"A +\"".
std::unique_ptr<ASTNode> parse_petab_formula(const PetabTable& table,
                                             const PetabCell& cell);

// The items of a ";"-separated override list, blanks around each dropped;
// an empty text gives none.
std::vector<std::string> override_items(const std::string& text);

}  // namespace identify
