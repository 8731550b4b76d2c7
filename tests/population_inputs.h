// The population examples as the tests load them, and the theophylline
// population with inputs added to every subject: an
// infusion into the gut from t = 1 over a duration that is the parameter a,
// a bolus into the gut at t = 2, and a source a·exp(tke·t) into the central
// compartment, so that the inputs depend on fitted parameters.
#pragma once

#include <string>

#include "input/yaml_problem_file.h"

namespace identify::testing {

// The problem of examples/NAME/problem.yaml.
inline FitProblem example(const char* name) {
  return read_yaml_problem(std::string(IDENTIFY_EXAMPLES_DIR) + "/" + name +
                           "/problem.yaml")
      .problem;
}

inline FitProblem theophylline_with_inputs() {
  FitProblem problem = example("theophylline_population");
  const int a = problem.parameter_index("a");
  const int tke = problem.parameter_index("tke");
  for (Experiment& e : problem.experiments) {
    Dose infusion;
    infusion.state = 0;
    infusion.time = BoundExpression(1.0);
    infusion.amount = BoundExpression(2.0);
    infusion.infusion = true;
    infusion.duration = BoundExpression::parameter(a);
    Dose bolus;
    bolus.state = 0;
    bolus.time = BoundExpression(2.0);
    bolus.amount = BoundExpression(1.0);
    e.doses = {bolus, infusion};
    Source source;
    source.state = 1;
    source.amp = BoundExpression::parameter(a);
    source.rate = BoundExpression::parameter(tke);
    e.sources = {source};
  }
  return problem;
}

}  // namespace identify::testing
