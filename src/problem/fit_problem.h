// A fit problem: named states x_1..x_N with
//
//   dx/dt = A x + sum of sources + doses,   x(0) = x0   (per experiment),
//
// named parameters θ, observables y = sum_i c_i·x_i + d, and experiments,
// each with its own x0, inputs and measurements, and its own meaning of a
// parameter name where it overrides one. Every number that a model needs is
// a BoundExpression of θ, bound in its experiment, so derivatives with
// respect to θ are exact.
//
// Measurements: each names its observable, time, value and standard
// deviation sigma; its residual is (h(y) − h(value))/sigma, h the
// transformation of its observable's noise model (noise_model.h). A sigma
// may depend on the model value y of its own measurement: the index
// parameter_count() (one past the parameters) stands for y in its
// expression, so a sigma is evaluated at θ extended by y. The problem's
// measurement order, which every model output and Jacobian row follows, is
// experiment after experiment, each in its own measurement order.
//
// Models and methods see only this and a parameter vector θ (one value per
// parameter, unscaled, in the order of `parameters`); file records never
// reach them.
#pragma once

#include <cstddef>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "problem/expression.h"
#include "problem/measurement_list.h"
#include "problem/noise_model.h"
#include "problem/parameter.h"
#include "problem/population.h"

namespace identify {

// A problem that cannot be posed: a name not declared, declared twice, a
// bound or value out of order. The message says what was expected and what
// was found; readers add the place.
class ProblemError : public std::runtime_error {
 public:
  explicit ProblemError(const std::string& message)
      : std::runtime_error(message) {}
};

// A[row][col] = value; entries without a term are 0.
struct MatrixTerm {
  int row = 0;
  int col = 0;
  BoundExpression value;
};

// amp·exp(rate·t) added to dx_state/dt.
struct Source {
  int state = 0;
  BoundExpression amp;
  BoundExpression rate;
};

// A dose into `state` at `time` (plus the experiment's lag): a bolus adds
// `amount` to x_state at once; an infusion adds amount/duration per unit
// time over [time, time + duration).
//
// A steady-state dose (steady_interval above 0): at its time x becomes
// (or, `steady_added`, gains) the periodic steady state of this dose
// repeated every steady_interval for ever, the state just after a bolus,
// which is then part of it, or at the start of an infusion, which then
// runs from its time as any other.
struct Dose {
  int state = 0;
  BoundExpression time;
  BoundExpression amount;
  bool infusion = false;
  BoundExpression duration;  // infusions only
  double steady_interval = 0.0;
  bool steady_added = false;
};

// y = sum over (state, coefficient) of coefficient·x_state + offset.
struct ObservableTerms {
  std::vector<std::pair<int, BoundExpression>> coefficients;  // state ascending
  BoundExpression offset;
};

// The state at t = 0 as the periodic steady state of a dose repeated every
// `interval` for ever (the state just after a bolus, at the start of an
// infusion): instead of x0, or added to it. A bolus is part of that state;
// an infusion still runs from 0 as one of the experiment's doses.
struct SteadyStart {
  int state = 0;
  BoundExpression amount;
  BoundExpression duration;  // the constant 0 for a bolus
  double interval = 0.0;
  bool added = false;
};

// The matrix from `time` on, in an experiment where a covariate that the
// matrix uses changes: A is piecewise constant, the experiment's `matrix`
// from t = 0 and each phase's from its time until the next phase's. The
// entries are those of `matrix`, bound with that time's covariate values;
// the state is continuous across a change.
struct MatrixPhase {
  double time = 0.0;  // above 0, ascending over the phases
  std::vector<MatrixTerm> matrix;
};

// The steady state an experiment starts from when it is pre-equilibrated:
// that of dx/dt = A x + b under another condition, with its own matrix,
// constant inputs b and starting state, the limit of its solution from that
// start. States with `reset` set start at the experiment's own x0 instead.
struct PreEquilibration {
  std::vector<MatrixTerm> matrix;   // row-major, at most one per entry
  std::vector<BoundExpression> x0;  // one per state
  std::vector<Source> sources;      // constant inputs: amp, rate 0
  std::vector<bool> reset;          // one per state
};

struct Experiment {
  std::string id;
  std::vector<MatrixTerm> matrix;   // row-major, at most one per entry
  std::vector<MatrixPhase> phases;  // the matrix after covariate changes
  std::vector<BoundExpression> x0;  // one per state
  std::vector<Source> sources;      // state ascending, at most one per state
  std::vector<Dose> doses;          // in the order given
  BoundExpression lag;              // added to every dose time
  std::optional<SteadyStart> steady_start;
  std::vector<ObservableTerms> observables;  // one per problem observable
  MeasurementList measurements;
  // The names this experiment overrides and what they stand for, as written.
  std::vector<std::pair<std::string, std::string>> overrides;
  std::optional<PreEquilibration> pre_equilibration;
};

struct FitProblem {
  std::vector<std::string> states;
  std::vector<Parameter> parameters;
  std::vector<std::string> observables;  // names
  // One per observable; missing entries are lin and normal.
  std::vector<NoiseModel> noise;
  std::vector<Experiment> experiments;
  // Random effects: a population problem, whose experiments are its
  // subjects, when it has any (population.h).
  Population population;
  // End of the time axis for trajectories and plots; 0: the latest
  // measurement time.
  double horizon = 0.0;

  int state_count() const { return static_cast<int>(states.size()); }
  int parameter_count() const { return static_cast<int>(parameters.size()); }
  // Index of the parameter named `name`, or -1.
  int parameter_index(std::string_view name) const;
  // The slot of a sigma expression that stands for the model value y.
  int model_value_slot() const { return parameter_count(); }
  NoiseModel noise_of(int observable) const;
  // Measurements of all experiments.
  std::size_t measurement_count() const;
  // Position of experiment e's first measurement in the problem order.
  std::size_t measurement_offset(int experiment) const;
  // Measurements with `counted` set.
  std::size_t counted_measurement_count() const;
  // The parameters' values, in order: the start of a fit.
  std::vector<double> values() const;
  // Indices of the estimated parameters, ascending.
  std::vector<int> estimated_parameters() const;
  // max(horizon, latest measurement time, latest constant dose time).
  double end_time() const;
};

}  // namespace identify
