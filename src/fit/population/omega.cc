// Ω = L·Lᵀ with L = blockdiag(L_b), diag(L_b) = exp(u_b,diag) and its lower
// entries u_b,lower, so that ln det Ω = 2·Σ ln L_ii and
// Ω⁻¹ = L⁻ᵀ·L⁻¹ come from triangular solves without forming a general
// inverse.
#include "fit/population/omega.h"

#include <Eigen/Dense>
#include <cmath>

namespace identify {

OmegaParameters::OmegaParameters(const Population& population)
    : q_(population.effect_count()) {
  for (const RandomEffect& e : population.effects) start_sd_.push_back(e.sd);
  for (const std::vector<int>& effects : population.blocks()) {
    Block b{effects, count_};
    const bool fixed =
        effects.size() == 1 && !population.effects[effects[0]].estimated;
    if (fixed) {
      b.first = -1;
      blocks_.push_back(b);
      continue;
    }
    for (int e : effects) {
      names_.push_back("log sd " + population.effects[e].name);
    }
    for (std::size_t r = 1; r < effects.size(); ++r) {
      for (std::size_t c = 0; c < r; ++c) {
        names_.push_back("L(" + population.effects[effects[r]].name + ", " +
                         population.effects[effects[c]].name + ")");
      }
    }
    const int b_size = static_cast<int>(effects.size());
    count_ += b_size + b_size * (b_size - 1) / 2;
    blocks_.push_back(b);
  }
}

std::vector<double> OmegaParameters::start() const {
  std::vector<double> u(count_, 0.0);
  for (const Block& b : blocks_) {
    if (b.first < 0) continue;
    for (std::size_t i = 0; i < b.effects.size(); ++i) {
      u[b.first + i] = std::log(start_sd_[b.effects[i]]);
    }
  }
  return u;
}

Eigen::MatrixXd OmegaParameters::factor(std::span<const double> u) const {
  Eigen::MatrixXd L = Eigen::MatrixXd::Zero(q_, q_);
  for (const Block& b : blocks_) {
    if (b.first < 0) {
      L(b.effects[0], b.effects[0]) = start_sd_[b.effects[0]];
      continue;
    }
    const std::size_t n = b.effects.size();
    int k = b.first;
    for (std::size_t i = 0; i < n; ++i) {
      L(b.effects[i], b.effects[i]) = std::exp(u[k++]);
    }
    for (std::size_t r = 1; r < n; ++r) {
      for (std::size_t c = 0; c < r; ++c)
        L(b.effects[r], b.effects[c]) = u[k++];
    }
  }
  return L;
}

std::string OmegaParameters::entry_name(int k) const { return names_[k]; }

Eigen::MatrixXd OmegaParameters::factor_derivative(const Eigen::MatrixXd& L,
                                                   int k) const {
  Eigen::MatrixXd dL = Eigen::MatrixXd::Zero(q_, q_);
  for (const Block& b : blocks_) {
    if (b.first < 0) continue;
    const int n = static_cast<int>(b.effects.size());
    int at = b.first;
    for (int i = 0; i < n; ++i, ++at) {
      if (at == k)
        dL(b.effects[i], b.effects[i]) = L(b.effects[i], b.effects[i]);
    }
    for (int r = 1; r < n; ++r) {
      for (int c = 0; c < r; ++c, ++at) {
        if (at == k) dL(b.effects[r], b.effects[c]) = 1.0;
      }
    }
  }
  return dL;
}

Eigen::MatrixXd OmegaParameters::omega_derivative(std::span<const double> u,
                                                  int k) const {
  const Eigen::MatrixXd L = factor(u);
  const Eigen::MatrixXd dL = factor_derivative(L, k);
  return dL * L.transpose() + L * dL.transpose();
}

Eigen::MatrixXd OmegaParameters::omega_second_derivative(
    std::span<const double> u, int k, int l) const {
  const Eigen::MatrixXd L = factor(u);
  const Eigen::MatrixXd dk = factor_derivative(L, k);
  const Eigen::MatrixXd dl = factor_derivative(L, l);
  Eigen::MatrixXd second = dk * dl.transpose() + dl * dk.transpose();
  // ∂²L/∂u_k∂u_l is ∂L/∂u_k for a diagonal (log) entry k = l, else 0.
  if (k == l && (dk.diagonal().array() != 0.0).any()) {
    second += dk * L.transpose() + L * dk.transpose();
  }
  return second;
}

OmegaTerms OmegaTerms::from_factor(const Eigen::MatrixXd& factor) {
  OmegaTerms t;
  const int q = static_cast<int>(factor.rows());
  t.omega = factor * factor.transpose();
  const Eigen::MatrixXd identity = Eigen::MatrixXd::Identity(q, q);
  const Eigen::MatrixXd inverse_factor =
      factor.triangularView<Eigen::Lower>().solve(identity);
  t.inverse = inverse_factor.transpose() * inverse_factor;
  for (int i = 0; i < q; ++i) t.log_determinant += 2.0 * std::log(factor(i, i));
  return t;
}

}  // namespace identify
