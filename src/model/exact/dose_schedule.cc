// The dose events of an experiment at θ: each dose's expressions evaluated
// (with their gradients by reverse-mode differentiation when asked), the
// events sorted by (base time, dose, start before end) with an insertion
// sort over the fixed list of event places (a handful to a few hundred,
// usually given in order already, where it costs one pass; a matrix phase,
// dose -1, comes before the doses at its time), and the count
// of running infusions per input followed along that order to mark the
// end that brings an input back to 0. An infusion's rate is its amount over
// the difference of its end and start times as doubles, fl(t + D) − t, so
// that the amount it delivers between those events is the amount given.
#include "model/exact/dose_schedule.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace identify {
namespace {

bool earlier(const DoseSchedule::Event& a, const DoseSchedule::Event& b) {
  if (a.base != b.base) return a.base < b.base;
  if (a.dose != b.dose) return a.dose < b.dose;
  if (a.steady != b.steady) return a.steady;
  return !a.end && b.end;
}

}  // namespace

DoseSchedule::DoseSchedule(const Experiment& experiment,
                           const AugmentedSystem& system)
    : lag_expression_(experiment.lag), active_(system.size(), 0) {
  int gradient = 0;
  const auto place = [&](const BoundExpression& e) {
    const int at = gradient;
    gradient += static_cast<int>(e.parameters().size());
    parameters_.insert(parameters_.end(), e.parameters().begin(),
                       e.parameters().end());
    return at;
  };
  for (const Dose& d : experiment.doses) {
    DoseTerms t;
    t.time = d.time;
    t.amount = d.amount;
    t.infusion = d.infusion;
    if (d.infusion) t.duration = d.duration;
    t.state = d.state;
    t.interval = d.steady_interval;
    t.added = d.steady_added;
    t.time_gradient = place(t.time);
    t.amount_gradient = place(t.amount);
    t.duration_gradient = place(t.duration);
    const int dose = static_cast<int>(doses_.size());
    const int target = d.infusion ? system.infusion_input(d.state) : d.state;
    if (t.interval > 0.0) {
      events_.push_back(Event{0.0, 0.0, d.state, dose, false, false, 0, true});
    }
    if (d.infusion || t.interval == 0.0) {
      events_.push_back(Event{0.0, 0.0, target, dose, false, false});
    }
    if (d.infusion) events_.push_back(Event{0.0, 0.0, target, dose, true});
    doses_.push_back(std::move(t));
  }
  for (std::size_t k = 0; k < experiment.phases.size(); ++k) {
    events_.push_back(Event{experiment.phases[k].time, 0.0, -1, -1, false,
                            false, static_cast<int>(k) + 1});
  }
  lag_gradient_ = place(lag_expression_);
  gradients_.assign(gradient, 0.0);
  std::sort(parameters_.begin(), parameters_.end());
  parameters_.erase(std::unique(parameters_.begin(), parameters_.end()),
                    parameters_.end());
  for (int k = 0; k < event_count(); ++k) order_.push_back(k);
}

double DoseSchedule::evaluate(const BoundExpression& e, int gradient,
                              std::span<const double> theta,
                              std::vector<double>& scratch,
                              bool with_gradients) {
  if (!with_gradients) return e.value(theta, scratch);
  const std::span<double> grad(gradients_.data() + gradient,
                               e.parameters().size());
  return e.value_and_gradient(theta, grad, scratch);
}

bool DoseSchedule::load(std::span<const double> theta,
                        std::vector<double>& scratch) {
  return load(theta, scratch, false);
}

PeriodicDose DoseSchedule::periodic_dose(int k) const {
  const DoseTerms& d = doses_[event(k).dose];
  return PeriodicDose{d.state, d.amount_value,
                      d.infusion ? d.duration_value : 0.0, d.interval};
}

bool DoseSchedule::load_with_gradients(std::span<const double> theta,
                                       std::vector<double>& scratch) {
  return load(theta, scratch, true);
}

bool DoseSchedule::load(std::span<const double> theta,
                        std::vector<double>& scratch, bool with_gradients) {
  bool valid = true;
  lag_ =
      evaluate(lag_expression_, lag_gradient_, theta, scratch, with_gradients);
  valid = valid && std::isfinite(lag_);
  for (DoseTerms& d : doses_) {
    d.time_value =
        evaluate(d.time, d.time_gradient, theta, scratch, with_gradients);
    d.amount_value =
        evaluate(d.amount, d.amount_gradient, theta, scratch, with_gradients);
    valid =
        valid && std::isfinite(d.time_value) && std::isfinite(d.amount_value);
    if (!d.infusion) continue;
    d.duration_value = evaluate(d.duration, d.duration_gradient, theta, scratch,
                                with_gradients);
    // The infusion runs between the event times t and t + D as doubles, so
    // its rate spreads the amount over their difference: a duration below
    // the rounding of t would otherwise lose its dose, or part of it.
    d.span_value = (d.time_value + d.duration_value) - d.time_value;
    valid = valid && d.duration_value > 0.0 &&
            std::isfinite(d.duration_value) && d.span_value > 0.0;
  }
  for (Event& e : events_) {
    if (e.phase > 0) continue;
    const DoseTerms& d = doses_[e.dose];
    e.base = e.end ? d.time_value + d.duration_value : d.time_value;
    if (e.steady) {
      e.magnitude = 0.0;
    } else if (!d.infusion) {
      e.magnitude = d.amount_value;
    } else {
      const double rate = d.amount_value / d.span_value;
      e.magnitude = e.end ? -rate : rate;
    }
  }
  for (std::size_t k = 1; k < order_.size(); ++k) {
    const int moving = order_[k];
    std::size_t j = k;
    for (; j > 0 && earlier(events_[moving], events_[order_[j - 1]]); --j) {
      order_[j] = order_[j - 1];
    }
    order_[j] = moving;
  }
  std::fill(active_.begin(), active_.end(), 0);
  for (const int k : order_) {
    Event& e = events_[k];
    if (e.phase > 0 || e.steady || !doses_[e.dose].infusion) continue;
    active_[e.target] += e.end ? -1 : 1;
    e.closes = e.end && active_[e.target] == 0;
  }
  if (!order_.empty()) {
    const double first = event(0).base + lag_;
    valid = valid && first >= 0.0 && std::isfinite(first);
  }
  return valid;
}

}  // namespace identify
