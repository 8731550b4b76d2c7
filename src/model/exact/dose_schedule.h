// The doses of one experiment as events of the closed-form model. A bolus
// of amount a into state i at time t adds a to z_i; an infusion of amount a
// over duration D into state i starts at t, adding a/D to its input v_i
// (augmented_system.h), and ends at t + D, taking a/D away again. Every
// event acts at its base time (t, or t + D for the end of an infusion)
// plus the experiment's lag L.
//
// The events are ordered by base time (the lag is common to all of them),
// then by dose, a start before its own end; several events at one time all
// apply, in that order. Because the lag is common, the interval between
// two dose events is the difference of their base times, exactly the same
// double for every pair of doses given the same interval apart: equal
// intervals can share one matrix exponential.
//
// A change of the matrix (MatrixPhase) is an event too, at its time, with
// nothing added; the experiments that have phases have no lag.
//
// Times, amounts, durations and the lag are expressions of θ; their values
// and gradients are evaluated per call and held here. All storage is sized
// in the constructor.
#pragma once

#include <span>
#include <vector>

#include "model/exact/augmented_system.h"
#include "model/exact/periodic_steady_state.h"
#include "problem/expression.h"
#include "problem/fit_problem.h"

namespace identify {

class DoseSchedule {
 public:
  struct Event {
    double base = 0.0;       // time, or time + duration for an end
    double magnitude = 0.0;  // amount, ±amount/duration for an infusion
    int target = 0;          // the index in z it changes
    int dose = 0;            // position in the experiment's doses
    bool end = false;        // the end of an infusion
    // The end of the last infusion running into its input: the input is
    // then exactly 0.
    bool closes = false;
    // Above 0: no dose but the start of matrix phase `phase` (1-based in
    // the experiment's phases), at its fixed time; target and dose are -1.
    int phase = 0;
    // The steady state of a steady-state dose, before its infusion's start
    // (a bolus has no other event); target is the state dosed.
    bool steady = false;
  };

  // The doses and lag of `experiment`; `system` is its augmented system,
  // which has an infusion input for every infused state.
  DoseSchedule(const Experiment& experiment, const AugmentedSystem& system);

  int event_count() const { return static_cast<int>(events_.size()); }
  // The parameters that the times, amounts, durations and lag use,
  // ascending.
  const std::vector<int>& parameters() const { return parameters_; }

  // Evaluates the doses and the lag at θ and puts the events in time order.
  // False if they cannot be given: a time, amount or lag not finite, an
  // infusion's duration not above 0 or so short that its end time rounds to
  // its start, or the first event before t = 0.
  bool load(std::span<const double> theta, std::vector<double>& scratch);
  // load(), and the gradients of the expressions.
  bool load_with_gradients(std::span<const double> theta,
                           std::vector<double>& scratch);

  // After a successful load: the k-th event in time order, and the lag.
  const Event& event(int k) const { return events_[order_[k]]; }
  double lag() const { return lag_; }

  // For a steady event: the dose repeated (amount and duration at the θ
  // loaded) and whether its steady state is added to the state.
  PeriodicDose periodic_dose(int k) const;
  bool steady_added(int k) const { return doses_[event(k).dose].added; }

  // f(parameter, derivative) for every term of ∂base/∂θ of the k-th event,
  // of ∂magnitude/∂θ, and of ∂lag/∂θ, at the θ of the last
  // load_with_gradients(); a parameter may come more than once (its
  // derivatives add).
  template <typename F>
  void base_derivative(int k, const F& f) const;
  template <typename F>
  void magnitude_derivative(int k, const F& f) const;
  // f(parameter, derivative) for ∂amount/∂θ and ∂duration/∂θ of the dose
  // of the k-th event.
  template <typename F>
  void amount_derivative(int k, const F& f) const {
    const DoseTerms& d = doses_[event(k).dose];
    visit(d.amount, d.amount_gradient, 1.0, f);
  }
  template <typename F>
  void duration_derivative(int k, const F& f) const {
    const DoseTerms& d = doses_[event(k).dose];
    if (d.infusion) visit(d.duration, d.duration_gradient, 1.0, f);
  }
  template <typename F>
  void lag_derivative(const F& f) const {
    visit(lag_expression_, lag_gradient_, 1.0, f);
  }

 private:
  struct DoseTerms {
    BoundExpression time, amount, duration;
    bool infusion = false;
    int state = 0;
    double interval = 0.0;  // above 0: a steady-state dose
    bool added = false;
    double time_value = 0.0, amount_value = 0.0, duration_value = 0.0;
    double span_value =
        0.0;  // fl(time + duration) − time: D as the events see it
    int time_gradient = 0, amount_gradient = 0, duration_gradient = 0;
  };
  template <typename F>
  void visit(const BoundExpression& e, int gradient, double scale,
             const F& f) const {
    const std::vector<int>& uses = e.parameters();
    for (std::size_t p = 0; p < uses.size(); ++p) {
      f(uses[p], scale * gradients_[gradient + p]);
    }
  }
  // Evaluates one expression into value, and its gradient at `gradient`
  // when `with_gradients`.
  double evaluate(const BoundExpression& e, int gradient,
                  std::span<const double> theta, std::vector<double>& scratch,
                  bool with_gradients);
  bool load(std::span<const double> theta, std::vector<double>& scratch,
            bool with_gradients);

  std::vector<DoseTerms> doses_;
  BoundExpression lag_expression_;
  int lag_gradient_ = 0;
  double lag_ = 0.0;
  std::vector<Event> events_;  // one or two per dose, in dose order
  std::vector<int> order_;     // events_ in time order
  std::vector<int> active_;    // infusions running into each z index
  std::vector<double> gradients_;
  std::vector<int> parameters_;
};

template <typename F>
void DoseSchedule::base_derivative(int k, const F& f) const {
  const Event& e = event(k);
  if (e.phase > 0) return;
  const DoseTerms& d = doses_[e.dose];
  visit(d.time, d.time_gradient, 1.0, f);
  if (e.end) visit(d.duration, d.duration_gradient, 1.0, f);
}

// Bolus: ∂a. Infusion rate r = ±a/S, with S = fl(t + D) − t the duration
// between its events (∂S = ∂D): ∂r = ±(∂a/S − a·∂D/S²).
template <typename F>
void DoseSchedule::magnitude_derivative(int k, const F& f) const {
  const Event& e = event(k);
  if (e.phase > 0 || e.steady) return;
  const DoseTerms& d = doses_[e.dose];
  if (!d.infusion) {
    visit(d.amount, d.amount_gradient, 1.0, f);
    return;
  }
  const double sign = e.end ? -1.0 : 1.0;
  visit(d.amount, d.amount_gradient, sign / d.span_value, f);
  visit(d.duration, d.duration_gradient,
        -sign * d.amount_value / (d.span_value * d.span_value), f);
}

}  // namespace identify
