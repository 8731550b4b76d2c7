// A steady start given to the builder: the dose whose periodic steady state
// the experiment starts from (or reaches at a dose time, for a steady-state
// dose), checked as a dose is (a state, a constant infusion duration above
// 0), and shorter than its interval, since an infusion that lasts the whole
// interval never ends.
#include <algorithm>
#include <cmath>

#include "core/quoted_text.h"
#include "problem/problem_builder.h"

namespace identify {

namespace {

std::string list_of(const std::vector<std::string>& names) {
  std::string list;
  for (const std::string& n : names) list += (list.empty() ? "" : ", ") + n;
  return list;
}

double constant_of(const Expression& e) {
  return BoundExpression::bind(e, [](const std::string&) { return Resolved{}; })
      .constant_value();
}

}  // namespace

void ProblemBuilder::set_steady_start(int experiment, std::string_view state,
                                      std::string_view amount,
                                      std::optional<std::string_view> duration,
                                      double interval, bool added) {
  ExperimentText& e = experiments_.at(experiment);
  e.steady = steady_dose(state, amount, duration, interval);
  e.steady_added = added;
}

void ProblemBuilder::add_steady_dose(int experiment, std::string_view state,
                                     std::string_view time,
                                     std::string_view amount,
                                     std::optional<std::string_view> duration,
                                     double interval, bool added) {
  steady_dose(state, amount, duration, interval);  // for its checks
  add_dose(experiment, state, time, amount, duration);
  DoseText& d = experiments_.at(experiment).doses.back();
  d.steady_interval = interval;
  d.steady_added = added;
}

ProblemBuilder::DoseText ProblemBuilder::steady_dose(
    std::string_view state, std::string_view amount,
    std::optional<std::string_view> duration, double interval) const {
  if (std::any_of(sources_.begin(), sources_.end(),
                  [](const auto& s) { return s.has_value(); })) {
    throw ProblemError(
        "expected a problem without inputs for a steady state, found inputs");
  }
  const Expression period = Expression::number(interval);
  if (!(interval > 0.0) || !std::isfinite(interval)) {
    throw ProblemError("expected a steady-state interval above 0, found " +
                       period.text());
  }
  DoseText d;
  d.state = state_index(state);
  if (d.state < 0) {
    throw ProblemError("expected a state (" + list_of(states()) + "), found " +
                       quote_text(state));
  }
  d.time = period;
  d.amount = checked(amount);
  if (duration) {
    d.duration = checked(*duration);
    const Expression& t = *d.duration;
    if (t.names().empty() &&
        !(constant_of(t) > 0.0 && constant_of(t) < interval)) {
      throw ProblemError(
          "expected a steady-state infusion shorter than its interval " +
          period.text() + ", found " + t.text());
    }
  }
  return d;
}

}  // namespace identify
