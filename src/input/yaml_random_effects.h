// The population sections of a problem file:
//
//   random:                         # effect: {sd, estimate}
//     eta_ka: {sd: 0.6}             # sd: start of its standard deviation
//     eta_v:  {sd: 0.1, estimate: false}
//     correlated: [[eta_ka, eta_cl]]   # optional blocks of Ω
//   individual:                     # name: expression, reported per subject
//     ka: exp(tka + eta_ka)
//
// Effects are declared after the parameters and before anything that uses
// them; individual definitions after the effects, each using parameters,
// effects and the definitions above it. Every fault is an InputError placed
// at the node that holds it.
#pragma once

#include "input/yaml_document.h"
#include "problem/problem_builder.h"

namespace identify {

// Reads the `random` section into `builder`.
void read_random_effects(const YamlDocument& doc, const YamlEntry& entry,
                         ProblemBuilder& builder);

// Reads the `individual` section into `builder`.
void read_individual_values(const YamlDocument& doc, const YamlEntry& entry,
                            ProblemBuilder& builder);

}  // namespace identify
