// Σ_i OFV_i over the subjects, each from its own inner problem
// (subject_mode.h), with Ω⁻¹ and ln det Ω formed once per evaluation from
// the factor L (omega.h). Each inner problem starts from the subject's last
// mode, or, right after a gradient, from the mode's first-order prediction
// η̂(x + dx) ≈ η̂(x) + (dη̂/dx)·dx, with dη̂/dx from implicit differentiation
// of the mode's stationarity (outer_gradient.h); near the optimum the
// prediction is within a step or two of the new mode.
#include "fit/population/focei_objective.h"

#include <cmath>

#include "fit/population/omega.h"

namespace identify {

FoceiObjective::FoceiObjective(const FitProblem& problem, int threads)
    : pool_(threads), problem_(&problem) {
  for (int i = 0; i < static_cast<int>(problem.experiments.size()); ++i) {
    subjects_.push_back(std::make_unique<SubjectProblem>(problem, i));
  }
  modes_.resize(subjects_.size());
  reset_modes();
}

void FoceiObjective::reset_modes() {
  const int q = subjects_.empty() ? 0 : subjects_[0]->effect_count();
  for (SubjectMode& m : modes_) m.eta = Eigen::VectorXd::Zero(q);
  mode_slopes_.clear();
}

void FoceiObjective::predict_modes(const Eigen::VectorXd& dx) {
  if (mode_slopes_.size() != modes_.size()) return;
  for (std::size_t i = 0; i < modes_.size(); ++i) {
    if (mode_slopes_[i].cols() != dx.size()) continue;
    const Eigen::VectorXd next = modes_[i].eta + mode_slopes_[i] * dx;
    if (next.allFinite()) modes_[i].eta = next;
  }
  mode_slopes_.clear();
}

double FoceiObjective::evaluate(std::span<const double> theta,
                                const Eigen::MatrixXd& factor) {
  const OmegaTerms omega = OmegaTerms::from_factor(factor);
  if (!std::isfinite(omega.log_determinant) || !omega.inverse.allFinite()) {
    return INFINITY;
  }
  mode_slopes_.clear();
  pool_.run(subject_count(), [&](int, int i) {
    const Eigen::VectorXd start = modes_[i].eta.allFinite()
                                      ? modes_[i].eta
                                      : Eigen::VectorXd::Zero(factor.rows());
    modes_[i] =
        subjects_[i]->mode(theta, omega.inverse, omega.log_determinant, start);
  });
  double total = 0.0;
  for (const SubjectMode& m : modes_) total += m.ofv;
  return std::isfinite(total) ? total : INFINITY;
}

}  // namespace identify

namespace identify {

bool FoceiObjective::enable_gradient(const std::vector<int>& fitted) {
  jets_.clear();
  if (!SubjectJets::covers(*problem_, fitted)) return false;
  for (int i = 0; i < subject_count(); ++i) {
    jets_.push_back(std::make_unique<SubjectJets>(*problem_, i, fitted));
  }
  return true;
}

bool FoceiObjective::gradient(const OuterPoint& point, Eigen::VectorXd& total,
                              std::vector<Eigen::VectorXd>& scores) {
  if (jets_.empty() && subject_count() > 0) return false;
  scores.assign(subject_count(), Eigen::VectorXd());
  std::vector<char> ok(subject_count(), 0);
  std::vector<Eigen::MatrixXd> slopes(subject_count());
  pool_.run(subject_count(), [&](int, int i) {
    ok[i] = subject_outer_gradient(*jets_[i], point, modes_[i].eta, scores[i],
                                   &slopes[i]);
  });
  total =
      Eigen::VectorXd::Zero(point.slope.size() + point.omega_derivative.size());
  for (int i = 0; i < subject_count(); ++i) {
    if (!ok[i]) return false;
    total += scores[i];
  }
  mode_slopes_ = std::move(slopes);
  return true;
}

bool FoceiObjective::hessian(const OuterPoint& point,
                             const OuterCurvature& curvature,
                             Eigen::MatrixXd& total) {
  if (jets_.empty() && subject_count() > 0) return false;
  std::vector<Eigen::MatrixXd> parts(subject_count());
  std::vector<char> ok(subject_count(), 0);
  pool_.run(subject_count(), [&](int, int i) {
    ok[i] = subject_outer_hessian(*jets_[i], point, curvature, modes_[i].eta,
                                  parts[i]);
  });
  const int n =
      static_cast<int>(point.slope.size() + point.omega_derivative.size());
  total = Eigen::MatrixXd::Zero(n, n);
  for (int i = 0; i < subject_count(); ++i) {
    if (!ok[i]) return false;
    total += parts[i];
  }
  return true;
}

}  // namespace identify
