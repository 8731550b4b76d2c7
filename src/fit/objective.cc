// The standardised residuals and their derivatives, by the chain rule from
// the model's ∂y/∂θ. With σ_m = σ(θ, y_m), h' the slope of the
// transformation and dσ_m/dθ_k = ∂σ/∂θ_k + ∂σ/∂y·∂y_m/∂θ_k,
//   ∂r_m/∂θ_k = (h'(y_m)/σ_m)·∂y_m/∂θ_k − (r_m/σ_m)·dσ_m/dθ_k,
//   ∂S/∂θ_k   = Σ_m w_m·∂y_m/∂θ_k + Σ_m u_m·∂σ_m/∂θ_k,
// with g_m = ∂ρ/∂r (2r normal, 2·sign r laplace), u_m = −g_m·r_m/σ_m
// (+ 2/σ_m for −2 ln L) and w_m = g_m·h'(y_m)/σ_m + u_m·∂σ/∂y; the first sum
// from Model::gradient with weights w, and to the method's coordinates by
// ∂θ/∂x = 1, θ or θ·ln 10 for lin, log and log10. S is summed as
// s = r·r + s in measurement order (the ln σ terms, when present, after),
// so that unit σ reproduces the plain sum of squares to the last bit.
#include "fit/objective.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "core/index_list.h"

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

bool objective_is_likelihood(const FitProblem& problem) {
  for (std::size_t o = 0; o < problem.observables.size(); ++o) {
    if (problem.noise_of(static_cast<int>(o)).distribution !=
        Distribution::kNormal) {
      return true;
    }
  }
  const int slot = problem.model_value_slot();
  for (const Experiment& e : problem.experiments) {
    for (const Measurement& m : e.measurements) {
      for (int k : m.sigma.parameters()) {
        if (k == slot || problem.parameters[k].estimated) return true;
      }
    }
  }
  return false;
}

Objective::Objective(const FitProblem& problem, Model& model,
                     std::vector<int> free, std::vector<double> base)
    : problem_(problem),
      model_(model),
      free_(std::move(free)),
      theta_work_(std::move(base)),
      likelihood_(objective_is_likelihood(problem)) {
  std::vector<char> is_free(problem.parameters.size(), 0);
  for (int k : free_) is_free[k] = 1;
  for (std::size_t o = 0; o < problem.observables.size(); ++o) {
    observable_noise_.push_back(problem.noise_of(static_cast<int>(o)));
    transformed_ |= observable_noise_.back().transformation != Scale::kLin;
  }
  const int slot = problem.model_value_slot();
  std::size_t largest_sigma = 0;
  for (const Experiment& e : problem.experiments) {
    for (const Measurement& m : e.measurements) {
      const NoiseModel& h = noise(m);
      fixed_terms_ += density_term(h.distribution) +
                      transformation_term(h.transformation, m.value);
      for (int k : m.sigma.parameters()) {
        if (k != slot) noise_estimated_ |= is_free[k] != 0;
      }
      varying_ |= !m.sigma.is_constant();
      largest_sigma = std::max(largest_sigma, m.sigma.parameters().size());
    }
  }
  sigma_rows_ = likelihood_ && varying_;
  all_free_ = is_whole_set(free_, problem.parameters.size());
  if (varying_) sigma_theta_.assign(problem.parameters.size() + 1, 0.0);
  const std::size_t count = problem.measurement_count();
  if (varying_) sigma_.assign(count, 1.0);
  if (transformed_) {
    values_.reserve(count);
    for (const Experiment& e : problem.experiments) {
      for (const Measurement& m : e.measurements) {
        const Scale h = noise(m).transformation;
        values_.push_back(h == Scale::kLin ? m.value : transformed(h, m.value));
      }
    }
    hy_.assign(count, 0.0);
  }
  r_.assign(count, 0.0);
  full_gradient_.assign(problem.parameters.size(), 0.0);
  gradient_.assign(free_.size(), 0.0);
  sigma_grad_.assign(largest_sigma, 0.0);
  eval_.theta.reserve(problem.parameters.size());
  eval_.y.reserve(count);
}

void Objective::keep_columns() {
  const std::size_t count = r_.size();
  if (sigma_.empty()) sigma_.assign(count, 1.0);
  if (hy_.empty()) hy_.assign(count, 0.0);
  if (values_.empty()) {
    values_.reserve(count);
    for (const Experiment& e : problem_.experiments) {
      for (const Measurement& m : e.measurements) values_.push_back(m.value);
    }
  }
  valid_ = false;
}

double Objective::progress_value(double s) const {
  return likelihood_ ? s : std::sqrt(s);
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

double Objective::sigma_at(std::size_t m, const Measurement& row) {
  if (row.sigma.is_constant()) return row.sigma.constant_value();
  sigma_theta_.back() = eval_.y[m];
  return row.sigma.value(sigma_theta_, scratch_);
}

void Objective::sigma_gradient(std::size_t m, const Measurement& row) {
  sigma_theta_.back() = eval_.y[m];
  row.sigma.value_and_gradient(
      sigma_theta_, {sigma_grad_.data(), row.sigma.parameters().size()},
      scratch_);
}

double Objective::residual_weight(std::size_t m, Distribution density) const {
  if (density == Distribution::kNormal) return r_[m] * 2.0;
  return r_[m] > 0.0 ? 2.0 : (r_[m] < 0.0 ? -2.0 : 0.0);
}

double Objective::add_log_sigmas(double s) const {
  std::size_t m = 0;
  for (const Experiment& e : problem_.experiments) {
    for (const Measurement& row : e.measurements) {
      s = 2.0 * std::log(sigma(m++, row)) + s;
    }
  }
  return s;
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
  if (!sigma_theta_.empty()) {
    std::copy(eval_.theta.begin(), eval_.theta.end(), sigma_theta_.begin());
  }
  const bool columns = !hy_.empty(), sigmas = !sigma_.empty();
  double s = 0.0;
  std::size_t m = 0;
  for (const Experiment& e : problem_.experiments) {
    for (const Measurement& row : e.measurements) {
      const double sigma = sigma_at(m, row);
      if (sigmas) sigma_[m] = sigma;
      const NoiseModel& h = noise(row);
      const double y = eval_.y[m];
      double hy = y, hv = row.value;
      if (columns) {
        hy = h.transformation == Scale::kLin ? y
                                             : transformed(h.transformation, y);
        hy_[m] = hy;
        hv = values_[m];
      }
      r_[m] = (hy - hv) / sigma;
      if (h.distribution == Distribution::kNormal) {
        s = r_[m] * r_[m] + s;
      } else {
        s = 2.0 * std::fabs(r_[m]) + s;
      }
      ++m;
    }
  }
  if (likelihood_) {
    s = add_log_sigmas(s);
    s += fixed_terms_;
  }
  value_ = s;
}

double Objective::constant() const {
  if (likelihood_) return 0.0;
  return add_log_sigmas(fixed_terms_);
}

const Table& Objective::jacobian() {
  if (jacobian_valid_) return jacobian_;
  const auto start = std::chrono::steady_clock::now();
  // Every row is the model's row divided by a constant σ: the model writes
  // straight into jacobian_.
  const bool in_place = all_free_ && !varying_ && !transformed_;
  model_.jacobian(eval_, in_place ? jacobian_ : model_jacobian_);
  add_model_time(start);
  ++counts_.jacobians;
  jacobian_valid_ = valid_ && !model_.stop_requested();
  if (in_place) {
    std::size_t m = 0;
    const std::size_t p = free_.size();
    for (const Experiment& e : problem_.experiments) {
      for (const Measurement& row : e.measurements) {
        double* to = jacobian_[m++];
        const double sigma = row.sigma.constant_value();
        for (std::size_t j = 0; j < p; ++j) to[j] = to[j] / sigma;
      }
    }
  } else {
    chain_jacobian();
  }
  for (std::size_t j = 0; j < free_.size(); ++j) {
    const Parameter& q = problem_.parameters[free_[j]];
    if (q.scale == Scale::kLin) continue;
    const double factor = theta_per_x(q.scale, eval_.theta[free_[j]]);
    for (std::size_t row = 0; row < jacobian_.rows(); ++row) {
      jacobian_[row][j] *= factor;
    }
  }
  return jacobian_;
}

void Objective::chain_jacobian() {
  const std::size_t n = r_.size(), p = free_.size();
  jacobian_.reshape(sigma_rows_ ? 2 * n : n, p);
  const int slot = problem_.model_value_slot();
  std::size_t m = 0;
  for (const Experiment& e : problem_.experiments) {
    for (const Measurement& row : e.measurements) {
      const Scale h = noise(row).transformation;
      const double sigma_m = sigma(m, row);
      if (h == Scale::kLin && all_free_ && !sigma_rows_) {
        const double* from = model_jacobian_[m];
        double* to = jacobian_[m];
        for (std::size_t j = 0; j < p; ++j) to[j] = from[j] / sigma_m;
      } else {
        const double slope =
            h == Scale::kLin ? 1.0 : transformed_slope(h, eval_.y[m]);
        for (std::size_t j = 0; j < p; ++j) {
          jacobian_[m][j] =
              h == Scale::kLin ? model_jacobian_[m][free_[j]] / sigma_m
                               : model_jacobian_[m][free_[j]] * slope / sigma_m;
          if (sigma_rows_) jacobian_[n + m][j] = 0.0;
        }
      }
      const SharedExpression& sigma = row.sigma;
      if (sigma.is_constant()) {
        ++m;
        continue;
      }
      sigma_gradient(m, row);
      double by_y = 0.0;  // ∂σ/∂y
      for (std::size_t i = 0; i < sigma.parameters().size(); ++i) {
        if (sigma.parameters()[i] == slot) {
          by_y = sigma_grad_[i];
          continue;
        }
        const auto at =
            std::find(free_.begin(), free_.end(), sigma.parameters()[i]);
        if (at == free_.end()) continue;
        jacobian_[m][at - free_.begin()] -= r_[m] / sigma_m * sigma_grad_[i];
        if (sigma_rows_) {
          jacobian_[n + m][at - free_.begin()] += sigma_grad_[i] / sigma_m;
        }
      }
      if (by_y != 0.0) {
        for (std::size_t j = 0; j < p; ++j) {
          const double d = by_y * model_jacobian_[m][free_[j]];
          jacobian_[m][j] -= r_[m] / sigma_m * d;
          if (sigma_rows_) jacobian_[n + m][j] += d / sigma_m;
        }
      }
      ++m;
    }
  }
}

void Objective::compute_full_gradient() {
  if (gradient_valid_) return;
  weights_.resize(r_.size());
  const int slot = problem_.model_value_slot();
  std::size_t m = 0;
  for (const Experiment& e : problem_.experiments) {
    for (const Measurement& row : e.measurements) {
      const NoiseModel& h = noise(row);
      const double g = residual_weight(m, h.distribution);
      const double sigma_m = sigma(m, row);
      weights_[m] =
          h.transformation == Scale::kLin
              ? g / sigma_m
              : g * transformed_slope(h.transformation, eval_.y[m]) / sigma_m;
      const auto& uses = row.sigma.parameters();
      const auto at = std::find(uses.begin(), uses.end(), slot);
      if (!row.sigma.is_constant() && at != uses.end()) {
        sigma_gradient(m, row);
        double u = -g * r_[m] / sigma_m;
        if (likelihood_) u += 2.0 / sigma_m;
        weights_[m] += u * sigma_grad_[at - uses.begin()];
      }
      ++m;
    }
  }
  const auto start = std::chrono::steady_clock::now();
  model_.gradient(eval_, weights_, full_gradient_);
  add_model_time(start);
  ++counts_.gradients;
  gradient_valid_ = valid_ && !model_.stop_requested();
  if (!varying_) return;
  m = 0;
  for (const Experiment& e : problem_.experiments) {
    for (const Measurement& row : e.measurements) {
      const SharedExpression& sigma = row.sigma;
      if (sigma.is_constant()) {
        ++m;
        continue;
      }
      sigma_gradient(m, row);
      const double sigma_m = sigma_[m];
      double per_sigma =
          -residual_weight(m, noise(row).distribution) * r_[m] / sigma_m;
      if (likelihood_) per_sigma += 2.0 / sigma_m;
      for (std::size_t i = 0; i < sigma.parameters().size(); ++i) {
        const int k = sigma.parameters()[i];
        if (k != slot) full_gradient_[k] += per_sigma * sigma_grad_[i];
      }
      ++m;
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
