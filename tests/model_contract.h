// The contract every Model on θ keeps, as one check that any model can be
// run through (the closed-form model now, a grid model on θ later): the
// Jacobian against central differences of evaluate(), the gradient against
// Jᵀ·w and against central differences of w·y, calls for an earlier
// Evaluation after evaluations at other θ giving the same bits as fresh
// ones, and states() agreeing with y through the observables.
#pragma once

#include <functional>
#include <memory>

#include "model/model.h"
#include "problem/fit_problem.h"

namespace identify::testing {

using ModelFactory = std::function<std::unique_ptr<Model>(const FitProblem&)>;

struct ContractTolerances {
  // Jacobian and gradient against central differences, relative to the
  // largest entry of the same column (Jacobian) or of the gradient.
  double differences = 1e-6;
  // Measurements rebuilt from states() against y, relative to max |y|.
  double states = 1e-13;
};

// Runs every check at the problem's values and at a θ moved from them by
// up to ±10 % (drawn from `seed`), reporting failures through gtest.
void check_model_contract(const FitProblem& problem, const ModelFactory& make,
                          const ContractTolerances& tolerances, unsigned seed);

}  // namespace identify::testing
