// Names and construction of the models. Each model's constructor refuses
// the problems it cannot serve: the grid model all but the legacy ones,
// the closed-form model those with doses it does not model.
#include "model/model_kind.h"

#include "model/exact/exact_model.h"
#include "model/grid/grid_model.h"

namespace identify {

const char* model_name(ModelKind kind) {
  return kind == ModelKind::kGrid ? "grid" : "exact";
}

std::optional<ModelKind> model_named(std::string_view name) {
  for (ModelKind kind : {ModelKind::kGrid, ModelKind::kExact}) {
    if (name == model_name(kind)) return kind;
  }
  return std::nullopt;
}

std::unique_ptr<Model> make_model(ModelKind kind, const FitProblem& problem) {
  if (kind == ModelKind::kGrid) return std::make_unique<GridModel>(problem);
  return std::make_unique<ExactModel>(problem);
}

}  // namespace identify
