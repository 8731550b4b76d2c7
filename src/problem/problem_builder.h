// Builds a FitProblem from expressions written as text, the way a person
// states a problem: states, then parameters, then the matrix, inputs,
// observables and experiments, then measurements. Every name in an
// expression must be a parameter declared before it; each experiment binds
// every problem-level expression (matrix, sources, observables) in its own
// context, where an override makes a name stand for another parameter or a
// number. Each call checks its arguments at once and throws ProblemError (or
// ExpressionError for text that does not parse), so a reader can attach the
// place of the offending text.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "core/name_index.h"
#include "problem/expression.h"
#include "problem/fit_problem.h"
#include "problem/population.h"

namespace identify {

class ProblemBuilder {
 public:
  // States in order; names valid and distinct.
  explicit ProblemBuilder(std::vector<std::string> states);

  // Adds a parameter; returns its index. Checks: a valid new name,
  // lower <= upper, a log scale with lower > 0, a finite value within the
  // bounds.
  int add_parameter(const Parameter& parameter);

  // A[row][col] = expression (replacing an earlier one for that entry).
  void set_entry(int row, int col, std::string_view expression);
  void set_entry(std::string_view row_state, std::string_view col_state,
                 std::string_view expression);

  // A source amp·exp(rate·t) into `state`, in every experiment.
  void set_source(std::string_view state, std::string_view amp,
                  std::string_view rate);

  // An observable; returns its index. Coefficients by state name. Its
  // sigma may name the observable itself: its model value (before the
  // transformation of `noise`), which takes that name's place over a
  // parameter of the same name.
  int add_observable(
      const std::string& name,
      const std::vector<std::pair<std::string, std::string>>& coefficients,
      std::string_view offset = "0", std::string_view sigma = "1",
      NoiseModel noise = {});

  // A random effect of a population problem (population.h): a parameter
  // of value 0 that is not estimated, with `sd` (finite, above 0) the start,
  // or with `estimated` false the value, of its standard deviation. Returns
  // its parameter index. Effects come after the parameters and before any
  // expression that uses them.
  int add_random_effect(const std::string& name, double sd, bool estimated);
  // Declared effects correlated with each other: one block of Ω. Two or
  // more, each estimated and in no other block.
  void add_correlated(const std::vector<std::string>& names);
  // A named expression of declared parameters, effects and earlier
  // definitions, substituted wherever a later expression uses its name and
  // reported per subject.
  void add_definition(const std::string& name, std::string_view expression);
  // A covariate: a name that expressions may use like a parameter, but
  // which stands for a number of each experiment (set_covariate), never an
  // estimate. Checks: a valid name, not a parameter or covariate already.
  void add_covariate(const std::string& name);
  // The value of covariate `name` in `experiment` (finite); every
  // experiment needs one for each covariate its expressions use.
  void set_covariate(int experiment, std::string_view name, double value);
  // Covariate `name` of `experiment` takes `value` (finite) from `time`
  // (0 or more) on: the matrix then changes there (MatrixPhase). A change
  // at 0 replaces the value set_covariate gave. A covariate that changes
  // may appear in the matrix only, and not in an experiment with a lag.
  void change_covariate(int experiment, std::string_view name, double time,
                        double value);
  int covariate_index(std::string_view name) const {
    return covariate_names_.find(name);
  }
  const std::vector<std::string>& covariate_names() const {
    return covariate_names_.names();
  }
  // Adds `amount` to the x0 of `state` in `experiment` (a bolus at t = 0).
  void add_to_x0(int experiment, std::string_view state,
                 std::string_view amount);

  // An experiment with x0 = 0; returns its index.
  int add_experiment(const std::string& id);
  void set_x0(int experiment, std::string_view state,
              std::string_view expression);
  // In `experiment`, the parameter name `name` stands for `stands_for`: the
  // name of another declared parameter, or a number.
  void add_override(int experiment, const std::string& name,
                    const std::string& stands_for);
  // A bolus (no duration) or an infusion.
  void add_dose(int experiment, std::string_view state, std::string_view time,
                std::string_view amount,
                std::optional<std::string_view> duration = std::nullopt);
  void set_lag(int experiment, std::string_view expression);
  // The state at t = 0 as the steady state of a bolus (no duration) or an
  // infusion repeated every `interval` (> 0, above the duration), instead
  // of x0 or added to it. Refused in a problem with inputs, whose sources
  // have no period.
  void set_steady_start(int experiment, std::string_view state,
                        std::string_view amount,
                        std::optional<std::string_view> duration,
                        double interval, bool added);
  // A steady-state dose (Dose) at `time`, checked as a dose and as a
  // steady start are.
  void add_steady_dose(int experiment, std::string_view state,
                       std::string_view time, std::string_view amount,
                       std::optional<std::string_view> duration,
                       double interval, bool added);

  // A measurement; sigma defaults to the observable's. `time` >= 0, finite;
  // the value as check_measured_value() requires.
  void add_measurement(int experiment, int observable, double time,
                       double value, std::optional<double> sigma = std::nullopt,
                       bool counted = true);

  // A measurement with a sigma of its own: an expression of the parameters
  // (a constant one must be finite and above 0).
  void add_measurement(int experiment, int observable, double time,
                       double value, std::string_view sigma);

  // Throws ProblemError unless `value` is a finite measurement of
  // `observable` (above 0 under a log transformation).
  void check_measured_value(int observable, double value) const;

  // Positions of declared names, -1 if none; each lookup is a hash, not a
  // scan, so that reading stays linear in the size of the problem.
  int state_index(std::string_view name) const { return states_.find(name); }
  int parameter_index(std::string_view name) const {
    return parameter_names_.find(name);
  }
  int experiment_index(std::string_view id) const {
    return experiment_ids_.find(id);
  }
  int observable_index(std::string_view name) const {
    return observable_names_.find(name);
  }

  // What has been declared so far, in order.
  const std::vector<std::string>& states() const { return states_.names(); }
  const std::vector<std::string>& observables() const {
    return observable_names_.names();
  }
  const std::vector<std::string>& experiment_ids() const {
    return experiment_ids_.names();
  }

  // Checks `text` as every call above checks an expression: it must parse
  // and name only declared parameters. Throws ExpressionError with the
  // offset of the fault, so that a reader can place it before handing the
  // text over.
  // `own` is a further name the text may use (an observable's in its sigma).
  void check_expression(std::string_view text,
                        std::string_view own = {}) const {
    checked(text, own);
  }

  // Binds every expression in every experiment. Throws ProblemError if
  // there is no experiment, if an expression uses a covariate that an
  // experiment has no value of, or if a power is outside its domain at the
  // experiment's numbers ("experiment s1: in ...").
  FitProblem build() const;

 private:
  // Parses `text` and checks that every name in it is a declared parameter
  // or `own`.
  Expression checked(std::string_view text, std::string_view own = {}) const;

  struct ObservableText {
    std::vector<std::pair<int, Expression>> coefficients;
    Expression offset;
    Expression sigma;
    NoiseModel noise;
  };
  struct DoseText {
    int state = 0;
    Expression time, amount;
    std::optional<Expression> duration;
    double steady_interval = 0.0;  // above 0: a steady-state dose
    bool steady_added = false;
  };
  // The checks of a steady state of the dose of `amount` into `state`
  // every `interval`: a problem without inputs, a state, an interval above
  // 0 and a duration below it. Returns that dose, its time the interval.
  DoseText steady_dose(std::string_view state, std::string_view amount,
                       std::optional<std::string_view> duration,
                       double interval) const;
  // 32 bytes, as a table may add tens of millions of them.
  struct MeasurementText {
    double time = 0.0, value = 0.0;
    double sigma = 0.0;  // its own sigma (> 0); 0: none
    int observable = 0;
    // 1 + the index of its own sigma expression in the experiment's
    // sigma_expressions; 0: none.
    std::uint32_t sigma_expression : 31 = 0;
    std::uint32_t counted : 1 = 1;
  };
  struct ExperimentText {
    std::string id;
    std::vector<std::optional<Expression>> x0;
    std::vector<std::pair<std::string, std::string>> overrides;
    NameIndex overridden;  // the first of each pair of overrides
    std::vector<DoseText> doses;
    Expression lag;
    // In blocks, never moved as it grows: a vector would hold its old and
    // its new storage at once while it doubles.
    std::deque<MeasurementText> measurements;
    std::vector<Expression> sigma_expressions;
    std::vector<std::optional<double>> covariates;  // by covariate index
    struct CovariateChange {
      double time = 0.0;
      int covariate = 0;
      double value = 0.0;
    };
    std::vector<CovariateChange> changes;  // in the order given
    std::optional<DoseText> steady;  // its dose; time: the interval
    bool steady_added = false;
  };
  // Binds the expressions of one experiment.
  Experiment bind_experiment(const ExperimentText& text,
                             const FitProblem& problem) const;
  // Binds the matrix of experiment `text` into e.matrix (with the
  // covariate values at t = 0) and e.phases (at each later change);
  // `resolve` resolves every name that is not a covariate.
  void bind_matrix(const ExperimentText& text,
                   const std::function<Resolved(const std::string&)>& resolve,
                   Experiment& e) const;
  // Whether covariate c changes within experiment `text`.
  static bool changes(const ExperimentText& text, int c);

  NameIndex states_;
  Population population_;  // without its individual values
  std::vector<std::pair<std::string, Expression>> definitions_;
  NameIndex definition_names_;
  std::vector<Parameter> parameters_;
  NameIndex parameter_names_;
  std::vector<std::optional<Expression>> matrix_;  // N×N, row-major
  std::vector<std::optional<std::pair<Expression, Expression>>> sources_;
  NameIndex observable_names_;
  std::vector<ObservableText> observables_;
  std::vector<ExperimentText> experiments_;
  NameIndex experiment_ids_;
  NameIndex covariate_names_;
};

}  // namespace identify
