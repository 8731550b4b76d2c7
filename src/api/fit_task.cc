// The set-up of a stage's worker fits: the run's stops made quiet and
// without outputs, a model per worker, and the usual start's values of the
// parameters the method does not fit.
#include "api/fit_task.h"

#include "model/model_kind.h"

namespace identify {

FitSetup worker_setup(RunChoice choice, Method method, const FitTask& task,
                      const MonitorSettings& settings) {
  FitSetup s;
  s.problem = &task.problem;
  s.method = method;
  s.descent = task.descent;
  s.settings = settings;
  s.settings.quiet = true;
  s.settings.history = nullptr;
  s.settings.trace = nullptr;
  s.make_model = [&task, choice] {
    return make_model(choice.model, task.problem);
  };
  s.free = fitted_parameters(method, task.problem);
  s.base = method == Method::kDescent ? task.descent.rules.start
                                      : task.problem.values();
  return s;
}

}  // namespace identify
