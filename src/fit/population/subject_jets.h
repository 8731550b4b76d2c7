// One subject's residuals e_j = h(y_j) − h(v_j) and standard deviations σ_j
// (subject_mode.h) as jets (jet.h) over z = (η, the fitted fixed effects θ_f,
// unscaled): their exact first and second derivatives with respect to the
// random effects and the fixed effects, which the outer gradient of the
// FOCE-I objective needs (outer_gradient.h).
//
// The model is solved in closed form on jets: from x(0) = x0, through the
// dose events in time order (an event at or before a sample's time acts
// before it), x(t) = exp(A·(t − t_e))·x(t_e) with the jet matrix
// exponential (jet_exponential.h), y = Σ c_i x_i + d. Inputs enter as
// augmented states: a source amp·exp(rate·t) into x_i as u with u' =
// rate·u, u(0) = amp, and column A(i, u) = 1; the running infusions as a
// constant state 1 whose column holds the rates amount/duration into each
// state, changed at each infusion's start and end. It covers the problems
// whose experiments have no steady doses or starts, no pre-equilibration
// and no change of the matrix over time (covers()); others are fitted
// without the outer gradient.
#pragma once

#include <Eigen/Core>
#include <span>
#include <vector>

#include "fit/population/dual_jet.h"
#include "fit/population/jet.h"
#include "problem/fit_problem.h"

namespace identify {

class SubjectJets {
 public:
  // Whether every subject of `problem` is in the covered class and
  // q + fitted.size() <= kMaxJetVariables.
  static bool covers(const FitProblem& problem, const std::vector<int>& fitted);

  // Subject `experiment` of `problem` (which must outlive this), the
  // variables z = (η, θ_fitted).
  SubjectJets(const FitProblem& problem, int experiment,
              const std::vector<int>& fitted);

  int variable_count() const { return m_; }
  // e and σ per measurement at θ (every parameter, unscaled) with the
  // effects' slots set to η; false if a value is not finite.
  bool residuals(std::span<const double> theta, const Eigen::VectorXd& eta,
                 std::vector<Jet>& e, std::vector<Jet>& sigma);
  // The same jets with their derivatives along one direction in which the
  // fitted fixed effects move by theta_tangent (one entry per fitted
  // effect, unscaled) and η by eta_tangent.
  bool residuals(std::span<const double> theta, const Eigen::VectorXd& eta,
                 const Eigen::VectorXd& theta_tangent,
                 const Eigen::VectorXd& eta_tangent, std::vector<DualJet>& e,
                 std::vector<DualJet>& sigma);

 private:
  // e and σ from the jet parameters z (one per parameter, one spare).
  template <class J>
  bool residuals_at(std::vector<J>& z, std::vector<J>& e,
                    std::vector<J>& sigma);
  // A bolus (amount into x_state) or the start or end of an infusion
  // (a change of the input rate into the state), at a time.
  template <class J>
  struct DoseEvent {
    J time;
    int state = 0;
    J amount;  // or the change of the rate
    bool rate_change = false;
  };
  // The events of the experiment's doses by time (stable: a bolus given
  // first acts first).
  template <class J>
  std::vector<DoseEvent<J>> dose_events(const std::vector<J>& theta);
  // The model values y_j in measurement order at the jet parameters.
  template <class J>
  std::vector<J> model_values(const std::vector<J>& theta);
  // b at the jet parameters, with m_ variables even where b is constant.
  template <class J>
  J value(const BoundExpression& b, const std::vector<J>& theta);
  template <class J>
  J value(const SharedExpression& s, const std::vector<J>& theta);
  std::vector<Jet>& scratch(const Jet&) { return scratch_; }
  std::vector<DualJet>& scratch(const DualJet&) { return dual_scratch_; }

  const FitProblem* problem_;
  int experiment_ = 0;
  std::vector<int> slots_, fitted_;
  int m_ = 0, q_ = 0;
  std::vector<int> order_;  // measurements by time
  std::vector<Jet> scratch_;
  std::vector<DualJet> dual_scratch_;
};

}  // namespace identify
