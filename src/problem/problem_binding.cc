// Binding: the problem-level text (matrix entries, sources, observables)
// is bound once per experiment, each name resolved to that experiment's
// override (a parameter or a number), to its covariate value, or to the
// parameter itself; an observable's own name in its sigma stands for its
// model value. A constant dose time of a steady start is evaluated here.
#include <string>
#include <vector>

#include "problem/problem_builder.h"

namespace identify {

FitProblem ProblemBuilder::build() const {
  if (experiments_.empty()) {
    throw ProblemError("expected at least one experiment, found none");
  }
  FitProblem problem;
  problem.states = states();
  problem.parameters = parameters_;
  problem.population = population_;
  for (const auto& [name, definition] : definitions_) {
    problem.population.individual.push_back(IndividualValue{
        name, BoundExpression::bind(definition, [&](const std::string& n) {
          return Resolved{parameter_index(n), 0.0};
        })});
  }
  problem.observables = observables();
  for (const ObservableText& o : observables_) problem.noise.push_back(o.noise);
  for (const ExperimentText& text : experiments_) {
    try {
      problem.experiments.push_back(bind_experiment(text, problem));
    } catch (const EvaluationError& e) {
      throw ProblemError("experiment " + text.id + ": " + e.what());
    }
  }
  return problem;
}

Experiment ProblemBuilder::bind_experiment(const ExperimentText& text,
                                           const FitProblem& problem) const {
  const int n = static_cast<int>(states_.size());
  const auto resolve = [&](const std::string& name) {
    const int o = text.overridden.find(name);
    if (o < 0) {
      const int c = covariate_names_.find(name);
      if (c < 0) return Resolved{parameter_index(name), 0.0};
      if (static_cast<std::size_t>(c) >= text.covariates.size() ||
          !text.covariates[c]) {
        throw ProblemError("experiment " + text.id +
                           ": expected a value of covariate " + name +
                           ", found none");
      }
      if (changes(text, c)) {
        throw ProblemError("experiment " + text.id + ": expected covariate " +
                           name +
                           ", which changes within the experiment, in the "
                           "matrix only, found it in another expression");
      }
      return Resolved{-1, *text.covariates[c]};
    }
    const std::string& target = text.overrides[o].second;
    const int k = parameter_index(target);
    if (k >= 0) return Resolved{k, 0.0};
    return Resolved{-1, std::stod(target)};
  };
  const auto bind = [&](const Expression& e) {
    return BoundExpression::bind(e, resolve);
  };
  Experiment e;
  e.id = text.id;
  e.overrides = text.overrides;
  bind_matrix(text, resolve, e);
  for (int i = 0; i < n; ++i) {
    e.x0.push_back(text.x0[i] ? bind(*text.x0[i]) : BoundExpression());
    if (sources_[i]) {
      e.sources.push_back(
          Source{i, bind(sources_[i]->first), bind(sources_[i]->second)});
    }
  }
  for (const DoseText& d : text.doses) {
    e.doses.push_back(Dose{d.state, bind(d.time), bind(d.amount),
                           d.duration.has_value(),
                           d.duration ? bind(*d.duration) : BoundExpression(),
                           d.steady_interval, d.steady_added});
  }
  e.lag = bind(text.lag);
  if (text.steady) {
    const DoseText& d = *text.steady;
    e.steady_start =
        SteadyStart{d.state, bind(d.amount),
                    d.duration ? bind(*d.duration) : BoundExpression(),
                    BoundExpression::bind(d.time, resolve).constant_value(),
                    text.steady_added};
  }
  std::vector<BoundExpression> sigmas;
  for (const ObservableText& o : observables_) {
    ObservableTerms terms;
    for (const auto& [state, c] : o.coefficients) {
      terms.coefficients.emplace_back(state, bind(c));
    }
    terms.offset = bind(o.offset);
    e.observables.push_back(std::move(terms));
    // The observable's own name in its sigma is its model value.
    const std::string& own = observables()[sigmas.size()];
    sigmas.push_back(
        BoundExpression::bind(o.sigma, [&](const std::string& name) {
          return name == own ? Resolved{problem.model_value_slot(), 0.0}
                             : resolve(name);
        }));
  }
  // Measurements without a sigma of their own share their observable's.
  const std::vector<SharedExpression> shared(sigmas.begin(), sigmas.end());
  e.measurements.reserve(text.measurements.size());
  for (const MeasurementText& m : text.measurements) {
    SharedExpression sigma = shared[m.observable];
    if (m.sigma_expression != 0) {
      sigma = bind(text.sigma_expressions[m.sigma_expression - 1]);
    } else if (m.sigma > 0.0) {
      sigma = m.sigma;
    }
    e.measurements.push_back(
        Measurement{m.time, m.value, sigma, m.observable, m.counted != 0});
  }
  return e;
}

}  // namespace identify
