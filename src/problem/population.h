// The random effects of a population problem. Each experiment of such a
// problem is a subject i with its own vector of random effects
//
//   η_i ~ N(0, Ω),   Ω block diagonal: one block per `correlated` group,
//                    a 1×1 block for every other effect,
//
// and every expression of the problem may use the effects by name. An
// effect is a parameter of the problem (value 0, not estimated, so that a
// fit without the population view keeps it at 0): the model evaluates
// subject i at θ with the effects' slots set to η_i, and its Jacobian
// columns for those slots are ∂y/∂η. The `individual` definitions are named
// expressions of parameters and effects, substituted into every expression
// that uses them and reported per subject.
#pragma once

#include <string>
#include <vector>

#include "problem/expression.h"

namespace identify {

struct RandomEffect {
  std::string name;
  int parameter = 0;  // its slot in the problem's parameters
  double sd = 1.0;    // start (or value) of its standard deviation, > 0
  bool estimated = true;
};

struct IndividualValue {
  std::string name;
  BoundExpression value;  // bound in the problem's own context
};

struct Population {
  std::vector<RandomEffect> effects;
  // Groups of correlated effects (indices into `effects`, ascending, two or
  // more each, disjoint); every other effect is alone in its block.
  std::vector<std::vector<int>> correlated;
  std::vector<IndividualValue> individual;

  bool active() const { return !effects.empty(); }
  int effect_count() const { return static_cast<int>(effects.size()); }
  // The blocks of Ω in order of their first effect: every correlated group
  // and every other effect on its own.
  std::vector<std::vector<int>> blocks() const;
  // Whether parameter slot k is a random effect.
  bool is_effect(int k) const;
};

}  // namespace identify
