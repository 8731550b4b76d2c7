// The models the program offers, by name, and the one place that builds
// them for a problem.
#pragma once

#include <memory>
#include <optional>
#include <string_view>

#include "model/model.h"
#include "problem/fit_problem.h"

namespace identify {

enum class ModelKind {
  kGrid,   // RK4 on 3001 nodes (grid/grid_model.h): the legacy problems
  kExact,  // matrix exponentials at the measurement times (exact/)
};

// "grid", "exact".
const char* model_name(ModelKind kind);
// The model of that name, or nothing.
std::optional<ModelKind> model_named(std::string_view name);

// The model of `kind` for `problem`; throws ProblemError, its message one
// line on what the model lacks ("the grid model takes one experiment,
// found 2"), for a problem it cannot serve.
std::unique_ptr<Model> make_model(ModelKind kind, const FitProblem& problem);

}  // namespace identify
