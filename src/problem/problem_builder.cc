// Assembly of a FitProblem. Problem-level text (matrix entries, sources,
// observables) is kept parsed but unbound; build() (problem_binding.cc)
// binds it once per experiment, resolving each name to that experiment's
// override or to the parameter itself, so a shared matrix can mean
// different parameters in different experiments while staying one
// definition.
#include "problem/problem_builder.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <sstream>

#include "core/quoted_text.h"

namespace identify {

namespace {

std::string number_text(double v) {
  std::ostringstream s;
  s.precision(17);
  s << v;
  return s.str();
}

const char* kNameRule =
    "letters, digits and underscores, not starting with a "
    "digit";

void check_new_name(const NameIndex& taken, const std::string& name,
                    const char* what) {
  if (!is_valid_name(name)) {
    throw ProblemError(std::string("expected ") + what + " (" + kNameRule +
                       "), found " + quote_text(name));
  }
  if (taken.contains(name)) {
    throw ProblemError(std::string("expected ") + what +
                       " not used before, found " + quote_text(name));
  }
}

// Offset of the first use of `name` as a whole word in `text`.
std::size_t name_offset(std::string_view text, std::string_view name) {
  const auto word = [](char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
           (c >= '0' && c <= '9') || c == '_' || c == '.';
  };
  for (std::size_t at = text.find(name); at != std::string_view::npos;
       at = text.find(name, at + 1)) {
    const std::size_t end = at + name.size();
    if ((at == 0 || !word(text[at - 1])) &&
        (end == text.size() || !word(text[end]))) {
      return at;
    }
  }
  return 0;
}

void check_parameter(Parameter& p) {
  const std::string who = "parameter " + p.name + ": ";
  if (std::isnan(p.lower) || std::isnan(p.upper)) {
    throw ProblemError(who + "expected numbers as bounds, found nan");
  }
  if (p.lower > p.upper) {
    throw ProblemError(who +
                       "expected a lower bound not above the upper "
                       "bound " +
                       number_text(p.upper) + ", found " +
                       number_text(p.lower));
  }
  const bool log_scale = p.scale != Scale::kLin;
  const std::string scale =
      std::string(" for a ") + scale_name(p.scale) + "-scaled parameter";
  if (log_scale) {
    if (p.lower == -INFINITY) p.lower = 0.0;
    if (p.lower < 0.0) {
      throw ProblemError(who + "expected a lower bound above 0" + scale +
                         ", found " + number_text(p.lower));
    }
    if (p.upper <= 0.0) {
      throw ProblemError(who + "expected an upper bound above 0" + scale +
                         ", found " + number_text(p.upper));
    }
  }
  if (!std::isfinite(p.value)) {
    throw ProblemError(who + "expected a finite value, found " +
                       number_text(p.value));
  }
  if (log_scale && !(p.value > 0.0)) {
    throw ProblemError(who + "expected a value above 0" + scale + ", found " +
                       number_text(p.value));
  }
  if (p.value < p.lower || p.value > p.upper) {
    throw ProblemError(who + "expected a value from " + number_text(p.lower) +
                       " to " + number_text(p.upper) + ", found " +
                       number_text(p.value));
  }
}

// A constant expression's value must satisfy `ok`; an expression of
// parameters is checked by the model at run time.
void check_constant(const Expression& e, bool (*ok)(double),
                    const std::string& expected) {
  if (!e.names().empty()) return;
  double value = 0.0;
  try {
    value = BoundExpression::bind(e, [](const std::string&) {
              return Resolved{};
            }).constant_value();
  } catch (const EvaluationError& error) {
    throw ProblemError(error.what());
  }
  if (!ok(value)) {
    throw ProblemError("expected " + expected + ", found " + e.text());
  }
}

// An infusion of constant time t and duration D must end after it starts
// as doubles (t + D > t): a shorter one has no time to deliver its amount.
void check_end_after_start(const Expression& time, const Expression& duration) {
  if (!time.names().empty() || !duration.names().empty()) return;
  const auto value = [](const Expression& e) {
    return BoundExpression::bind(e,
                                 [](const std::string&) { return Resolved{}; })
        .constant_value();
  };
  const double t = value(time);
  if (t + value(duration) > t) return;
  throw ProblemError(
      "expected an infusion duration whose end differs from its start time " +
      time.text() + " in double precision, found " + duration.text());
}

}  // namespace

ProblemBuilder::ProblemBuilder(std::vector<std::string> states) {
  for (const std::string& s : states) {
    check_new_name(states_, s, "a state name");
    states_.add(s);
  }
  const std::size_t n = states_.size();
  matrix_.resize(n * n);
  sources_.resize(n);
}

int ProblemBuilder::add_parameter(const Parameter& parameter) {
  check_new_name(parameter_names_, parameter.name, "a parameter name");
  check_new_name(covariate_names_, parameter.name, "a parameter name");
  Parameter p = parameter;
  check_parameter(p);
  parameters_.push_back(p);
  parameter_names_.add(p.name);
  return static_cast<int>(parameters_.size()) - 1;
}

Expression ProblemBuilder::checked(std::string_view text,
                                   std::string_view own) const {
  Expression e = Expression::parse(text);
  for (const std::string& name : e.names()) {
    const bool declared = (!own.empty() && name == own) ||
                          parameter_names_.contains(name) ||
                          definition_names_.contains(name) ||
                          covariate_names_.contains(name);
    if (!declared) {
      throw ExpressionError(std::string(text), name_offset(text, name),
                            "a declared parameter", quote_text(name));
    }
  }
  if (definitions_.empty()) return e;
  return e.substituted([&](const std::string& name) -> const Expression* {
    const int d = definition_names_.find(name);
    return d < 0 || name == own ? nullptr : &definitions_[d].second;
  });
}

namespace {

int require_index(int index, std::string_view name,
                  const std::vector<std::string>& known, const char* what) {
  if (index >= 0) return index;
  std::string list;
  for (const std::string& k : known) list += (list.empty() ? "" : ", ") + k;
  throw ProblemError(std::string("expected ") + what + " (" + list +
                     "), found " + quote_text(name));
}

}  // namespace

void ProblemBuilder::set_entry(int row, int col, std::string_view expression) {
  const int n = static_cast<int>(states_.size());
  if (row < 0 || row >= n || col < 0 || col >= n) {
    throw ProblemError("expected a matrix entry within " + std::to_string(n) +
                       "x" + std::to_string(n) + ", found (" +
                       std::to_string(row + 1) + ", " +
                       std::to_string(col + 1) + ")");
  }
  matrix_[static_cast<std::size_t>(row) * n + col] = checked(expression);
}

void ProblemBuilder::set_entry(std::string_view row_state,
                               std::string_view col_state,
                               std::string_view expression) {
  const int row =
      require_index(state_index(row_state), row_state, states(), "a state");
  const int col =
      require_index(state_index(col_state), col_state, states(), "a state");
  set_entry(row, col, expression);
}

void ProblemBuilder::set_source(std::string_view state, std::string_view amp,
                                std::string_view rate) {
  const int i = require_index(state_index(state), state, states(), "a state");
  sources_[i] = std::make_pair(checked(amp), checked(rate));
}

int ProblemBuilder::add_observable(
    const std::string& name,
    const std::vector<std::pair<std::string, std::string>>& coefficients,
    std::string_view offset, std::string_view sigma, NoiseModel noise) {
  check_new_name(observable_names_, name, "an observable name");
  ObservableText o;
  for (const auto& [state, text] : coefficients) {
    const int i = require_index(state_index(state), state, states(), "a state");
    for (const auto& [taken, e] : o.coefficients) {
      if (taken == i) {
        throw ProblemError("expected a state not named before in observable " +
                           name + ", found " + quote_text(state));
      }
    }
    o.coefficients.emplace_back(i, checked(text));
  }
  std::sort(o.coefficients.begin(), o.coefficients.end(),
            [](const auto& a, const auto& b) { return a.first < b.first; });
  o.offset = checked(offset);
  o.sigma = checked(sigma, name);
  o.noise = noise;
  check_constant(
      o.sigma, [](double s) { return s > 0.0 && std::isfinite(s); },
      "a sigma above 0");
  observable_names_.add(name);
  observables_.push_back(std::move(o));
  return static_cast<int>(observables_.size()) - 1;
}

int ProblemBuilder::add_experiment(const std::string& id) {
  check_new_name(experiment_ids_, id, "an experiment id");
  ExperimentText e;
  e.id = id;
  e.x0.resize(states_.size());
  experiments_.push_back(std::move(e));
  experiment_ids_.add(id);
  return static_cast<int>(experiments_.size()) - 1;
}

void ProblemBuilder::add_covariate(const std::string& name) {
  check_new_name(parameter_names_, name, "a covariate name");
  check_new_name(covariate_names_, name, "a covariate name");
  covariate_names_.add(name);
}

void ProblemBuilder::set_covariate(int experiment, std::string_view name,
                                   double value) {
  ExperimentText& e = experiments_.at(experiment);
  const int c = require_index(covariate_index(name), name,
                              covariate_names_.names(), "a covariate");
  if (!std::isfinite(value)) {
    throw ProblemError("expected a finite value of covariate " +
                       std::string(name) + ", found " + number_text(value));
  }
  e.covariates.resize(covariate_names_.size());
  e.covariates[c] = value;
}

void ProblemBuilder::add_to_x0(int experiment, std::string_view state,
                               std::string_view amount) {
  const int i = require_index(state_index(state), state, states(), "a state");
  std::optional<Expression>& x0 = experiments_.at(experiment).x0[i];
  x0 = checked(x0 ? "(" + x0->text() + ") + " + std::string(amount)
                  : std::string(amount));
}

void ProblemBuilder::set_x0(int experiment, std::string_view state,
                            std::string_view expression) {
  const int i = require_index(state_index(state), state, states(), "a state");
  experiments_.at(experiment).x0[i] = checked(expression);
}

void ProblemBuilder::add_override(int experiment, const std::string& name,
                                  const std::string& stands_for) {
  ExperimentText& e = experiments_.at(experiment);
  const auto declared = [&](std::string_view n) {
    return parameter_names_.contains(n);
  };
  if (!declared(name)) {
    throw ProblemError("experiment " + e.id +
                       ": expected a declared parameter to override, found " +
                       quote_text(name));
  }
  if (e.overridden.contains(name)) {
    throw ProblemError("experiment " + e.id +
                       ": expected a parameter not overridden before, "
                       "found " +
                       quote_text(name));
  }
  double number = 0.0;
  const char* end = stands_for.data() + stands_for.size();
  const auto [p, ec] = std::from_chars(stands_for.data(), end, number);
  const bool is_number = ec == std::errc() && p == end && std::isfinite(number);
  if (!is_number && !declared(stands_for)) {
    throw ProblemError("experiment " + e.id +
                       ": expected a declared parameter or a number for " +
                       name + ", found " + quote_text(stands_for));
  }
  e.overrides.emplace_back(name, stands_for);
  e.overridden.add(name);
}

void ProblemBuilder::add_dose(int experiment, std::string_view state,
                              std::string_view time, std::string_view amount,
                              std::optional<std::string_view> duration) {
  ExperimentText& e = experiments_.at(experiment);
  DoseText d;
  d.state = require_index(state_index(state), state, states(), "a state");
  d.time = checked(time);
  check_constant(
      d.time, [](double t) { return t >= 0.0 && std::isfinite(t); },
      "a dose time of 0 or more");
  d.amount = checked(amount);
  check_constant(
      d.amount, [](double a) { return a >= 0.0 && std::isfinite(a); },
      "a dose amount of 0 or more");
  if (duration) {
    d.duration = checked(*duration);
    check_constant(
        *d.duration, [](double t) { return t > 0.0 && std::isfinite(t); },
        "an infusion duration above 0 (for a dose given at once, use a bolus: "
        "no duration)");
    check_end_after_start(d.time, *d.duration);
  }
  e.doses.push_back(std::move(d));
}

void ProblemBuilder::set_lag(int experiment, std::string_view expression) {
  experiments_.at(experiment).lag = checked(expression);
}

void ProblemBuilder::add_measurement(int experiment, int observable,
                                     double time, double value,
                                     std::optional<double> sigma,
                                     bool counted) {
  ExperimentText& e = experiments_.at(experiment);
  if (observable < 0 || observable >= static_cast<int>(observables_.size())) {
    throw ProblemError("expected an observable index below " +
                       std::to_string(observables_.size()) + ", found " +
                       std::to_string(observable));
  }
  if (!(time >= 0.0) || !std::isfinite(time)) {
    throw ProblemError("expected a finite time of 0 or more, found " +
                       number_text(time));
  }
  check_measured_value(observable, value);
  if (sigma && (!(*sigma > 0.0) || !std::isfinite(*sigma))) {
    throw ProblemError("expected a finite sigma above 0, found " +
                       number_text(*sigma));
  }
  e.measurements.push_back(MeasurementText{time, value, sigma.value_or(0.0),
                                           observable, 0, counted});
}

void ProblemBuilder::add_measurement(int experiment, int observable,
                                     double time, double value,
                                     std::string_view sigma) {
  Expression e = checked(sigma);
  const BoundExpression probe =
      BoundExpression::bind(e, [&](const std::string& name) {
        return Resolved{parameter_index(name), 0.0};
      });
  if (probe.is_constant() && (!(probe.constant_value() > 0.0) ||
                              !std::isfinite(probe.constant_value()))) {
    throw ProblemError("expected a finite sigma above 0, found " +
                       number_text(probe.constant_value()));
  }
  add_measurement(experiment, observable, time, value);
  ExperimentText& text = experiments_[experiment];
  text.sigma_expressions.push_back(std::move(e));
  text.measurements.back().sigma_expression =
      static_cast<std::uint32_t>(text.sigma_expressions.size());
}

void ProblemBuilder::check_measured_value(int observable, double value) const {
  if (!std::isfinite(value)) {
    throw ProblemError("expected a finite measurement, found " +
                       number_text(value));
  }
  const Scale h = observables_.at(observable).noise.transformation;
  if (h != Scale::kLin && !(value > 0.0)) {
    throw ProblemError("expected a measurement above 0 (observable " +
                       observables()[observable] + " is compared on a " +
                       scale_name(h) + " scale), found " + number_text(value));
  }
}

}  // namespace identify
