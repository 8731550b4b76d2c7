// The linear model of an SBML file, read with libSBML:
//
//   dx/dt = A x + b,   x(0) = x0,
//
// x the species that change (their concentrations, or their amounts when
// they have only substance units) and the parameters that have a rate rule.
// A reaction adds its rate v, affine in the species, times its
// stoichiometry to the amount of each product and takes it from each
// reactant; a concentration changes by that over its compartment's size. A
// rate rule gives dx/dt itself. b holds the terms free of any state (zero
// order reactions, constant inputs). x0 comes from an initial assignment or
// the initial amount or concentration (an amount over the compartment size
// for a concentration, and the converse).
//
// The entries of A, b and x0 are expressions (problem/expression.h) of the
// model's parameters and compartment sizes named in `declared` (which the
// problem declares); the others are constants and stand there as their
// values.
// Refused, naming the element and why: events, assignment and algebraic
// rules, a rate law or rule that is not affine in the species, the time
// symbol, function calls, a variable stoichiometry, a species that is
// constant or a boundary condition, a compartment that changes.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "input/input_error.h"

namespace identify {

struct SbmlModel {
  std::vector<std::string> states;
  // Only substance units: the state is an amount, not a concentration.
  std::vector<bool> amount;
  // Parameters and compartments the formulas may name, with their values
  // in the model (NaN when not set).
  std::vector<std::pair<std::string, double>> constants;
  std::vector<bool> is_compartment;  // one per constant
  std::vector<std::string> matrix;   // N×N row-major; "" is 0
  std::vector<std::string> inputs;   // b, one per state
  std::vector<std::string> x0;       // one per state
};

// Reads and checks the SBML file at `path`; `name` is how messages name it.
// Throws InputError ("model.xml: reaction R3: expected a rate law linear in
// the species, found \"k1*A*B\"").
SbmlModel read_sbml_model(const std::string& path, const std::string& name,
                          const std::set<std::string>& declared);

// The same for a document already in memory (for the fuzz target).
SbmlModel read_sbml_text(const std::string& text, const std::string& name,
                         const std::set<std::string>& declared);

}  // namespace identify
