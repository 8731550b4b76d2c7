// One subject of a population fit: its conditional mode of η and its term
// of the FOCE-I objective (focei_objective.h states the whole objective).
//
// With θ the fixed effects (and error parameters), measurement j of the
// subject has the model value y_j(θ, η), the residual e_j = h(y_j) − h(v_j)
// on its noise model's scale h and the standard deviation σ_j(θ, η, y_j).
// The inner problem is the penalised least squares
//
//   f(η) = Σ_j [ e_j²/σ_j² + 2 ln σ_j ] + ηᵀ Ω⁻¹ η,
//
// minimised by Levenberg–Marquardt steps on the Gauss–Newton matrix
// M = Σ_j [ ρ_j ρ_jᵀ + 2 b_j b_jᵀ ] + Ω⁻¹, with ρ_j = ∂(e_j/σ_j)/∂η and
// b_j = (∂σ_j/∂η)/σ_j, all from the exact model's Jacobian with respect to
// the effects' slots (no finite differences). At the mode η̂ the subject's
// term is
//
//   OFV_i = Σ_j [ e_j²/σ_j² + ln 2π + 2 ln σ_j + J(v_j) ]
//           + η̂ᵀ Ω⁻¹ η̂ + ln det Ω + ln det H_i,
//   H_i   = Ω⁻¹ + Σ_j [ a_j a_jᵀ + 2 b_j b_jᵀ ],   a_j = (∂e_j/∂η)/σ_j,
//
// the Laplace approximation of −2 ln ∫ p(y_i | η) p(η) dη with the
// first-order (Gauss–Newton, with interaction: σ at η̂) Hessian H_i. A
// subject without measurements has η̂ = 0 and OFV_i = 0.
#pragma once

#include <Eigen/Core>
#include <memory>
#include <span>
#include <vector>

#include "core/table.h"
#include "model/model.h"
#include "problem/fit_problem.h"

namespace identify {

// What the inner problem found for one subject.
struct SubjectMode {
  Eigen::VectorXd eta;         // η̂
  double ofv = 0.0;            // OFV_i at η̂
  double gradient_norm = 0.0;  // |∂f/∂η| at η̂, inf-norm
  int iterations = 0;
  bool converged = false;  // the gradient test passed
  bool finite = false;     // OFV_i is finite
  // The mode ended short of stationarity: at the iteration limit, or with
  // |∂f/∂η| above kSettledGradient where no step lowered f any more (a
  // mode limited by rounding ends far below it).
  bool stalled = false;
};

// The largest |∂f/∂η| (inf-norm) of a mode that is not stalled.
inline constexpr double kSettledGradient = 1e-4;

// The measurements of one subject at one (θ, η).
struct SubjectResiduals {
  Eigen::VectorXd e, sigma, y;  // per measurement
  Eigen::MatrixXd de;           // ∂e_j/∂η (rows j)
  Eigen::MatrixXd dsigma;       // ∂σ_j/∂η
  Eigen::MatrixXd dy_dtheta;    // ∂y_j/∂θ_k over every parameter
  double constant = 0.0;        // Σ_j [ln 2π + J(v_j)]
};

class SubjectProblem {
 public:
  // Subject `experiment` of the population problem `problem`.
  SubjectProblem(const FitProblem& problem, int experiment);

  int measurement_count() const { return count_; }
  int effect_count() const { return static_cast<int>(slots_.size()); }
  const Experiment& experiment() const { return sub_.experiments[0]; }

  // y, e, σ and their derivatives at θ with the effects' slots set to η.
  // False if a value is not finite or a σ is not above 0.
  bool residuals(std::span<const double> theta, const Eigen::VectorXd& eta,
                 SubjectResiduals& out);
  // The conditional mode from `start`, and OFV_i there.
  SubjectMode mode(std::span<const double> theta,
                   const Eigen::MatrixXd& omega_inverse,
                   double omega_log_determinant, const Eigen::VectorXd& start);
  // f(η) as stated above, or inf where the model fails.
  double inner_objective(std::span<const double> theta,
                         const Eigen::MatrixXd& omega_inverse,
                         const Eigen::VectorXd& eta);

 private:
  // One Levenberg–Marquardt step from η: (B + λ·diag B)·δ = −½∇f with λ
  // raised until f falls (then lowered for the next step). True if a step
  // was taken: η, f and `now` are then those of the new point.
  bool damped_step(std::span<const double> theta, const Eigen::MatrixXd& wi,
                   const Eigen::MatrixXd& B,
                   const Eigen::VectorXd& half_gradient, double& lambda,
                   double& f, Eigen::VectorXd& eta, SubjectResiduals& now,
                   Eigen::VectorXd& step);

  // residuals() in two parts: y, e, σ (and what σ's derivatives need) at
  // θ with the effects' slots set to η, false if a value is not finite or a
  // σ is not above 0; then the derivatives at that same point, false if one
  // is not finite.
  bool values(std::span<const double> theta, const Eigen::VectorXd& eta,
              SubjectResiduals& out);
  bool derivatives(SubjectResiduals& out);

  FitProblem sub_;
  std::unique_ptr<Model> model_;
  std::vector<int> slots_;
  int count_ = 0;
  Evaluation evaluation_;
  Table jacobian_;
  std::vector<double> theta_, scratch_, sigma_gradient_;
  // Of the last values(): per measurement, ∂σ/∂η directly and ∂σ/∂y.
  Eigen::MatrixXd sigma_direct_;
  Eigen::VectorXd sigma_per_y_;
  SubjectResiduals work_, trial_;
};

}  // namespace identify
