// A PEtab v1 problem read as a fit problem: the SBML model gives the states,
// the matrix, the constant inputs and the initial states (sbml_model.h);
// the parameter table the parameters (with the model's other parameters
// and compartment sizes as fixed ones); each pair of pre-equilibration and
// simulation condition that the measurement table names an experiment,
// whose condition row sets initial states (a number or a parameter; NaN or
// an empty cell keeps the model's value) and overrides model parameters and
// compartment sizes. An observable gets one observable of the problem per
// distinct list of observableParameters its rows give (they replace the
// observableParameter{n}_{id} placeholders of its formula, which must be
// affine in the species); the noise formula, with the row's
// noiseParameters for noiseParameter{n}_{id}, is each measurement's sigma.
// A pre-equilibrated experiment starts from the steady state of its
// pre-equilibration condition, but for the states its simulation condition
// sets.
#pragma once

#include <string>

#include "input/yaml_document.h"
#include "input/yaml_problem_file.h"

namespace identify {

// Reads the PEtab problem of `doc` (whose file lies in `directory`) and the
// files it names. Throws InputError naming the file and place of a fault.
LoadedProblem read_petab_problem(const YamlDocument& doc,
                                 const std::string& directory);

}  // namespace identify
