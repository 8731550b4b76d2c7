// The FOCE-I objective of a population problem (population.h): with the
// subjects i independent given (θ, Ω),
//
//   OFV(θ, Ω) = −2 ln L ≈ Σ_i OFV_i(θ, Ω),
//
// OFV_i the Laplace approximation of −2 ln ∫ p(y_i | θ, η) p(η | Ω) dη at
// the subject's conditional mode η̂_i with the first-order Hessian and the
// residual variance at η̂_i (first-order conditional estimation with
// interaction; subject_mode.h states OFV_i and the inner problem). The outer
// problem (population_fit.h) minimises OFV over the fixed effects, Ω and
// the error parameters; each evaluation here solves every subject's inner
// problem, in parallel, each from its previous mode. The sum runs in
// subject order, so the value does not depend on the number of threads.
#pragma once

#include <Eigen/Core>
#include <memory>
#include <span>
#include <vector>

#include "fit/multistart/worker_pool.h"
#include "fit/population/outer_gradient.h"
#include "fit/population/outer_hessian.h"
#include "fit/population/subject_mode.h"
#include "problem/fit_problem.h"

namespace identify {

class FoceiObjective {
 public:
  // A population problem; threads >= 1.
  FoceiObjective(const FitProblem& problem, int threads);

  int subject_count() const { return static_cast<int>(subjects_.size()); }
  // OFV at θ (one value per parameter, unscaled; the effects' slots are
  // ignored) and Ω = L·Lᵀ; inf where a subject's term is not finite.
  double evaluate(std::span<const double> theta, const Eigen::MatrixXd& factor);
  // The modes of the last evaluate(), by subject.
  const std::vector<SubjectMode>& modes() const { return modes_; }
  // Starts every subject's next inner problem at η = 0.
  void reset_modes();
  SubjectProblem& subject(int i) { return *subjects_[i]; }

  // Prepares gradient(): false (and gradient() unavailable) where the
  // closed-form jet model does not cover the problem (subject_jets.h).
  bool enable_gradient(const std::vector<int>& fitted);
  // The exact gradient of the OFV at the modes of the last evaluate() (at
  // the same θ and Ω) over x = (fitted fixed effects, u), each subject's
  // into `scores` (by subject), their sum in subject order into `total`;
  // false if a subject's is not finite. Also keeps each subject's dη̂/dx
  // there for predict_modes().
  bool gradient(const OuterPoint& point, Eigen::VectorXd& total,
                std::vector<Eigen::VectorXd>& scores);
  // Moves the next evaluate()'s starting modes to the first-order
  // prediction η̂ + (dη̂/dx)·dx, dx the step in x from the point of the last
  // gradient(), when that gradient followed the last evaluate() (else,
  // and where a prediction is not finite, the modes stay). The modes found
  // then differ from the cold-started ones only within the inner
  // tolerance.
  void predict_modes(const Eigen::VectorXd& dx);
  // The exact Hessian of the OFV (outer_hessian.h) at the modes of the
  // last evaluate(), the subjects' summed in subject order into `total`;
  // false if a subject's is not finite. Needs enable_gradient().
  bool hessian(const OuterPoint& point, const OuterCurvature& curvature,
               Eigen::MatrixXd& total);

 private:
  std::vector<std::unique_ptr<SubjectProblem>> subjects_;
  std::vector<SubjectMode> modes_;
  WorkerPool pool_;
  const FitProblem* problem_;
  std::vector<std::unique_ptr<SubjectJets>> jets_;
  std::vector<Eigen::MatrixXd> mode_slopes_;  // empty when stale
};

}  // namespace identify
