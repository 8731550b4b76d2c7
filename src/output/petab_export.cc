// Writing a problem as PEtab. Every expression is written as the text it
// was bound from (a constant one as its value), so that reading the export
// parses the same operations on the same numbers; experiment overrides go
// to condition columns named after the parameter they override.
#include "output/petab_export.h"

#include <cstdio>
#include <filesystem>
#include <set>
#include <vector>

#include "output/output_file.h"
#include "output/sbml_writer.h"

#include "core/exact_number.h"

namespace identify {
namespace {

template <class E>
std::string text_of(const E& e) {
  if (e.is_constant()) return exact_number(e.constant_value());
  return e.text().empty() ? "" : e.text();
}

std::string refusal(const FitProblem& p) {
  if (p.population.active()) {
    return "expected a problem without random effects (PEtab v1 has no "
           "form for them), found " +
           std::to_string(p.population.effects.size());
  }
  for (const Experiment& e : p.experiments) {
    if (e.steady_start) {
      return "expected no steady-state dose (PEtab v1 has no form for it), "
             "found one in experiment " +
             e.id;
    }
    if (!e.phases.empty()) {
      return "expected covariates constant within each experiment (PEtab v1 "
             "has no form for a change), found a change in experiment " +
             e.id;
    }
    if (!e.doses.empty()) {
      return "expected a problem without doses (PEtab v1 has no form for "
             "them), found " +
             std::to_string(e.doses.size()) + " in experiment " + e.id;
    }
    if (e.pre_equilibration) {
      return "expected no pre-equilibration, found one in experiment " + e.id;
    }
    for (std::size_t i = 0; i < e.x0.size(); ++i) {
      const BoundExpression& x = e.x0[i];
      if (!x.is_constant() && x.single_parameter() < 0) {
        return "expected initial states that are numbers or parameters, "
               "found \"" +
               x.text() + "\" for " + p.states[i] + " in experiment " + e.id;
      }
    }
    for (const Measurement& m : e.measurements) {
      for (int k : m.sigma.parameters()) {
        if (k == p.model_value_slot()) {
          return "expected sigmas free of the model value, found one for " +
                 p.observables[m.observable];
        }
      }
    }
  }
  return "";
}

// Whether every sigma of observable o is a number or one parameter.
bool sigma_per_row(const FitProblem& p, int o) {
  for (const Experiment& e : p.experiments) {
    for (const Measurement& m : e.measurements) {
      if (m.observable == o && !m.sigma.is_constant() &&
          m.sigma.single_parameter() < 0) {
        return false;
      }
    }
  }
  return true;
}

std::string sigma_cell(const FitProblem& p, const SharedExpression& s) {
  return s.is_constant() ? exact_number(s.constant_value())
                         : p.parameters[s.single_parameter()].name;
}

std::string conditions(const FitProblem& p) {
  std::vector<std::string> overridden;
  std::set<std::string> seen;
  for (const Experiment& e : p.experiments) {
    for (const auto& [name, target] : e.overrides) {
      static_cast<void>(target);
      if (seen.insert(name).second) overridden.push_back(name);
    }
  }
  std::string t = "conditionId";
  for (const std::string& s : p.states) t += "\t" + s;
  for (const std::string& o : overridden) t += "\t" + o;
  t += "\n";
  for (const Experiment& e : p.experiments) {
    t += e.id;
    for (const BoundExpression& x : e.x0) {
      t += "\t" + (x.is_constant() ? exact_number(x.constant_value())
                                   : p.parameters[x.single_parameter()].name);
    }
    for (const std::string& o : overridden) {
      std::string cell;
      for (const auto& [name, target] : e.overrides) {
        if (name == o) cell = target;
      }
      t += "\t" + cell;
    }
    t += "\n";
  }
  return t;
}

std::string observables(const FitProblem& p) {
  std::string t =
      "observableId\tobservableFormula\tnoiseFormula\t"
      "observableTransformation\tnoiseDistribution\n";
  const Experiment& e = p.experiments[0];
  for (std::size_t o = 0; o < p.observables.size(); ++o) {
    const ObservableTerms& terms = e.observables[o];
    std::string formula;
    for (const auto& [state, c] : terms.coefficients) {
      formula += (formula.empty() ? "" : " + ") + std::string("(") +
                 text_of(c) + ")*" + p.states[state];
    }
    formula += (formula.empty() ? "" : " + ") + std::string("(") +
               text_of(terms.offset) + ")";
    std::string noise = "noiseParameter1_" + p.observables[o];
    if (!sigma_per_row(p, static_cast<int>(o))) {
      for (const Measurement& m : e.measurements) {
        if (m.observable == static_cast<int>(o)) noise = text_of(m.sigma);
      }
    }
    const NoiseModel n = p.noise_of(static_cast<int>(o));
    t += p.observables[o] + "\t" + formula + "\t" + noise + "\t" +
         scale_name(n.transformation) + "\t" +
         distribution_name(n.distribution) + "\n";
  }
  return t;
}

std::string measurements(const FitProblem& p) {
  std::string t =
      "observableId\tsimulationConditionId\ttime\tmeasurement\t"
      "noiseParameters\n";
  for (const Experiment& e : p.experiments) {
    for (const Measurement& m : e.measurements) {
      t += p.observables[m.observable] + "\t" + e.id + "\t" + exact_number(m.time) +
           "\t" + exact_number(m.value) + "\t" +
           (sigma_per_row(p, m.observable) ? sigma_cell(p, m.sigma) : "") +
           "\n";
    }
  }
  return t;
}

std::string parameters(const FitProblem& p) {
  std::string t =
      "parameterId\tparameterScale\tlowerBound\tupperBound\tnominalValue\t"
      "estimate\n";
  for (const Parameter& q : p.parameters) {
    t += q.name + "\t" + scale_name(q.scale) + "\t" + exact_number(q.lower) + "\t" +
         exact_number(q.upper) + "\t" + exact_number(q.value) + "\t" +
         (q.estimated ? "1" : "0") + "\n";
  }
  return t;
}

}  // namespace

std::string export_petab(const FitProblem& problem,
                         const std::string& directory) {
  const std::string refused = refusal(problem);
  if (!refused.empty()) return refused;
  const std::filesystem::path dir(directory);
  const std::string yaml =
      "format_version: 1\nparameter_file: parameters.tsv\nproblems:\n"
      "- sbml_files: [model.xml]\n  condition_files: [conditions.tsv]\n"
      "  measurement_files: [measurements.tsv]\n"
      "  observable_files: [observables.tsv]\n";
  const std::pair<const char*, std::string> files[] = {
      {"model.xml", write_sbml_model(problem)},
      {"conditions.tsv", conditions(problem)},
      {"observables.tsv", observables(problem)},
      {"measurements.tsv", measurements(problem)},
      {"parameters.tsv", parameters(problem)},
      {"problem.yaml", yaml},
  };
  for (const auto& [name, text] : files) {
    const std::string path = (dir / name).string();
    const std::string failure = write_output_file(path, text);
    if (!failure.empty()) return "cannot write " + path + ": " + failure;
  }
  return "";
}

}  // namespace identify
