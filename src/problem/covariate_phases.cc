// Covariates that change within an experiment. A covariate value c_j(t) is
// a step function of time: the value set for t = 0, then each change's
// value from its time on. The matrix A(t) = A(θ, c(t)) is then piecewise
// constant, with one phase per distinct change time above 0: the same
// entries bound with the covariate values that hold from that time until
// the next change. Changes at the same time apply in the order given, and
// a change at 0 replaces the starting value (no phase).
#include <algorithm>
#include <cmath>

#include "core/quoted_text.h"
#include "problem/problem_builder.h"

namespace identify {

void ProblemBuilder::change_covariate(int experiment, std::string_view name,
                                      double time, double value) {
  ExperimentText& e = experiments_.at(experiment);
  const int c = covariate_index(name);
  if (c < 0) {
    throw ProblemError("expected a covariate, found " + quote_text(name));
  }
  if (!(time >= 0.0) || !std::isfinite(time)) {
    throw ProblemError("expected a finite time of 0 or more for a change of " +
                       std::string(name) + ", found " + std::to_string(time));
  }
  if (time == 0.0) {
    set_covariate(experiment, name, value);
    return;
  }
  if (!std::isfinite(value)) set_covariate(experiment, name, value);
  e.changes.push_back({time, c, value});
}

bool ProblemBuilder::changes(const ExperimentText& text, int c) {
  return std::any_of(text.changes.begin(), text.changes.end(),
                     [&](const ExperimentText::CovariateChange& change) {
                       return change.covariate == c;
                     });
}

void ProblemBuilder::bind_matrix(
    const ExperimentText& text,
    const std::function<Resolved(const std::string&)>& resolve,
    Experiment& e) const {
  const int n = static_cast<int>(states_.size());
  std::vector<std::optional<double>> values = text.covariates;
  values.resize(covariate_names_.size());
  std::vector<ExperimentText::CovariateChange> order = text.changes;
  std::stable_sort(
      order.begin(), order.end(),
      [](const auto& a, const auto& b) { return a.time < b.time; });
  const auto bound = [&] {
    const auto local = [&](const std::string& name) {
      const int c = covariate_names_.find(name);
      if (c < 0 || text.overridden.find(name) >= 0 || !values[c]) {
        return resolve(name);
      }
      return Resolved{-1, *values[c]};
    };
    std::vector<MatrixTerm> terms;
    for (int q = 0; q < n * n; ++q) {
      if (matrix_[q]) {
        terms.push_back(MatrixTerm{q / n, q % n,
                                   BoundExpression::bind(*matrix_[q], local)});
      }
    }
    return terms;
  };
  e.matrix = bound();
  const BoundExpression lag = BoundExpression::bind(text.lag, resolve);
  if (!order.empty() && !(lag.is_constant() && lag.constant_value() == 0.0)) {
    throw ProblemError("experiment " + text.id +
                       ": expected no lag in an experiment whose covariates "
                       "change, found one");
  }
  for (std::size_t k = 0; k < order.size();) {
    const double time = order[k].time;
    for (; k < order.size() && order[k].time == time; ++k) {
      values[order[k].covariate] = order[k].value;
    }
    e.phases.push_back(MatrixPhase{time, bound()});
  }
}

}  // namespace identify
