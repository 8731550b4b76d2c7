// One subject's residuals e_j = h(y_j) − h(v_j) and standard deviations σ_j
// (subject_mode.h) as jets (jet.h) over z = (η, the fitted fixed effects θ_f,
// unscaled): their exact first and second derivatives with respect to the
// random effects and the fixed effects, which the outer gradient of the
// FOCE-I objective needs (outer_gradient.h).
//
// The model is solved in closed form on jets: from x(0) = x0, through the
// bolus doses in time order (a dose at or before a sample's time acts
// before it), x(t) = exp(A·(t − t_e))·x(t_e) with the jet matrix
// exponential (jet_exponential.h), y = Σ c_i x_i + d. It covers the
// problems whose experiments have no sources, no infusions, no steady or
// pre-equilibrated start (covers()); others are fitted without the outer
// gradient.
#pragma once

#include <Eigen/Core>
#include <span>
#include <vector>

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

 private:
  // The model values y_j in measurement order at the jet parameters.
  std::vector<Jet> model_values(const std::vector<Jet>& theta);
  // b at the jet parameters, with m_ variables even where b is constant.
  Jet value(const BoundExpression& b, const std::vector<Jet>& theta);
  Jet value(const SharedExpression& s, const std::vector<Jet>& theta);

  const FitProblem* problem_;
  int experiment_ = 0;
  std::vector<int> slots_, fitted_;
  int m_ = 0, q_ = 0;
  std::vector<int> order_;  // measurements by time
  std::vector<Jet> scratch_;
};

}  // namespace identify
