// The weighted residuals and their derivatives, by the chain rule from the
// model's ∂y/∂θ:
//   ∂r_m/∂θ_k = ∂y_m/∂θ_k / σ_m − r_m/σ_m · ∂σ_m/∂θ_k,
//   ∂S/∂θ_k   = Σ_m (2 r_m/σ_m)·∂y_m/∂θ_k
//               + Σ_m (−2 r_m²/σ_m + [ln σ terms] 2/σ_m)·∂σ_m/∂θ_k,
// the first sum from Model::gradient with weights 2 r_m/σ_m, and to the
// method's coordinates by ∂θ/∂x = 1, θ or θ·ln 10 for lin, log and log10.
// S is summed as s = r·r + s in measurement order (the ln σ terms, when
// present, after), so that unit σ reproduces the plain sum of squares to
// the last bit.
#include "fit/objective.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace identify {

namespace {

double theta_per_x(Scale scale, double theta) {
  switch (scale) {
    case Scale::kLin:
      return 1.0;
    case Scale::kLog:
      return theta;
    case Scale::kLog10:
      return theta * std::log(10.0);
  }
  return 1.0;
}

}  // namespace

Objective::Objective(const FitProblem& problem, Model& model,
                     std::vector<int> free, std::vector<double> base)
    : problem_(problem),
      model_(model),
      free_(std::move(free)),
      theta_work_(std::move(base)) {
  std::vector<char> is_free(problem.parameters.size(), 0);
  for (int k : free_) is_free[k] = 1;
  std::size_t largest_sigma = 0;
  for (const Experiment& e : problem.experiments) {
    for (const Measurement& m : e.measurements) {
      sigma_expr_.push_back(&m.sigma);
      values_.push_back(m.value);
      for (int k : m.sigma.parameters()) noise_estimated_ |= is_free[k] != 0;
      largest_sigma = std::max(largest_sigma, m.sigma.parameters().size());
    }
  }
  sigma_.assign(values_.size(), 1.0);
  r_.assign(values_.size(), 0.0);
  weights_.assign(values_.size(), 0.0);
  full_gradient_.assign(problem.parameters.size(), 0.0);
  gradient_.assign(free_.size(), 0.0);
  sigma_grad_.assign(largest_sigma, 0.0);
  eval_.theta.reserve(problem.parameters.size());
  eval_.y.reserve(values_.size());
}

void Objective::add_model_time(std::chrono::steady_clock::time_point start) {
  const std::chrono::duration<double> spent =
      std::chrono::steady_clock::now() - start;
  counts_.model_seconds += spent.count();
}

double Objective::lower(int j) const {
  const Parameter& p = problem_.parameters[free_[j]];
  return to_scaled(p.scale, p.lower);
}

double Objective::upper(int j) const {
  const Parameter& p = problem_.parameters[free_[j]];
  return to_scaled(p.scale, p.upper);
}

std::vector<double> Objective::coordinates(
    std::span<const double> theta) const {
  std::vector<double> x(free_.size());
  for (std::size_t j = 0; j < free_.size(); ++j) {
    x[j] = to_scaled(problem_.parameters[free_[j]].scale, theta[free_[j]]);
  }
  return x;
}

double Objective::evaluate(std::span<const double> x) {
  for (std::size_t j = 0; j < free_.size(); ++j) {
    theta_work_[free_[j]] =
        from_scaled(problem_.parameters[free_[j]].scale, x[j]);
  }
  if (!valid_ || std::memcmp(theta_work_.data(), eval_.theta.data(),
                             theta_work_.size() * sizeof(double)) != 0) {
    run_model();
  }
  return value_;
}

double Objective::evaluate_theta(std::span<const double> theta) {
  std::copy(theta.begin(), theta.end(), theta_work_.begin());
  if (!valid_ || std::memcmp(theta_work_.data(), eval_.theta.data(),
                             theta_work_.size() * sizeof(double)) != 0) {
    run_model();
  }
  return value_;
}

void Objective::run_model() {
  const auto start = std::chrono::steady_clock::now();
  model_.evaluate(theta_work_, eval_);
  add_model_time(start);
  ++counts_.evaluations;
  // A call cut short is computed on but not kept: the next call at the
  // same point runs the model again.
  valid_ = !model_.stop_requested();
  jacobian_valid_ = false;
  gradient_valid_ = false;
  double s = 0.0;
  for (std::size_t m = 0; m < r_.size(); ++m) {
    const BoundExpression& sigma = *sigma_expr_[m];
    sigma_[m] = sigma.is_constant() ? sigma.constant_value()
                                    : sigma.value(eval_.theta, scratch_);
    r_[m] = (eval_.y[m] - values_[m]) / sigma_[m];
    s = r_[m] * r_[m] + s;
  }
  if (noise_estimated_) {
    for (double sigma : sigma_) s = 2.0 * std::log(sigma) + s;
  }
  value_ = s;
}

const Table& Objective::jacobian() {
  if (jacobian_valid_) return jacobian_;
  jacobian_.reshape(r_.size(), free_.size());
  const auto start = std::chrono::steady_clock::now();
  model_.jacobian(eval_, model_jacobian_);
  add_model_time(start);
  ++counts_.jacobians;
  jacobian_valid_ = valid_ && !model_.stop_requested();
  const std::size_t n = free_.size();
  for (std::size_t m = 0; m < r_.size(); ++m) {
    for (std::size_t j = 0; j < n; ++j) {
      jacobian_[m][j] = model_jacobian_[m][free_[j]] / sigma_[m];
    }
    const BoundExpression& sigma = *sigma_expr_[m];
    if (sigma.is_constant()) continue;
    sigma.value_and_gradient(
        eval_.theta, {sigma_grad_.data(), sigma.parameters().size()}, scratch_);
    for (std::size_t i = 0; i < sigma.parameters().size(); ++i) {
      const auto at =
          std::find(free_.begin(), free_.end(), sigma.parameters()[i]);
      if (at == free_.end()) continue;
      jacobian_[m][at - free_.begin()] -= r_[m] / sigma_[m] * sigma_grad_[i];
    }
  }
  for (std::size_t j = 0; j < n; ++j) {
    const Parameter& p = problem_.parameters[free_[j]];
    if (p.scale == Scale::kLin) continue;
    const double factor = theta_per_x(p.scale, eval_.theta[free_[j]]);
    for (std::size_t m = 0; m < r_.size(); ++m) jacobian_[m][j] *= factor;
  }
  return jacobian_;
}

void Objective::compute_full_gradient() {
  if (gradient_valid_) return;
  for (std::size_t m = 0; m < r_.size(); ++m) {
    weights_[m] = r_[m] * 2.0 / sigma_[m];
  }
  const auto start = std::chrono::steady_clock::now();
  model_.gradient(eval_, weights_, full_gradient_);
  add_model_time(start);
  ++counts_.gradients;
  gradient_valid_ = valid_ && !model_.stop_requested();
  for (std::size_t m = 0; m < r_.size(); ++m) {
    const BoundExpression& sigma = *sigma_expr_[m];
    if (sigma.is_constant()) continue;
    sigma.value_and_gradient(
        eval_.theta, {sigma_grad_.data(), sigma.parameters().size()}, scratch_);
    double per_sigma = -2.0 * r_[m] * r_[m] / sigma_[m];
    if (noise_estimated_) per_sigma += 2.0 / sigma_[m];
    for (std::size_t i = 0; i < sigma.parameters().size(); ++i) {
      full_gradient_[sigma.parameters()[i]] += per_sigma * sigma_grad_[i];
    }
  }
}

const std::vector<double>& Objective::full_gradient() {
  compute_full_gradient();
  return full_gradient_;
}

const std::vector<double>& Objective::gradient() {
  compute_full_gradient();
  for (std::size_t j = 0; j < free_.size(); ++j) {
    const int k = free_[j];
    gradient_[j] = full_gradient_[k] *
                   theta_per_x(problem_.parameters[k].scale, eval_.theta[k]);
  }
  return gradient_;
}

}  // namespace identify
