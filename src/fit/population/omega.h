// The covariance Ω of the random effects as unconstrained numbers. Ω is
// block diagonal (population.h); each block is L·Lᵀ with L lower
// triangular, its diagonal exp(u) and its entries below the diagonal free:
// per block of size b, b log-diagonal entries then the b(b − 1)/2 entries
// below the diagonal, row by row. Every such vector gives a positive
// definite Ω, and a diagonal block's u is the log of its standard
// deviations. An effect whose SD is not estimated has no entry: its L_ii is
// its SD.
#pragma once

#include <Eigen/Core>
#include <span>
#include <string>
#include <vector>

#include "problem/population.h"

namespace identify {

class OmegaParameters {
 public:
  explicit OmegaParameters(const Population& population);

  int size() const { return count_; }      // entries of u
  int effect_count() const { return q_; }  // the order of Ω
  // u at the effects' start SDs, no correlation.
  std::vector<double> start() const;
  // The lower-triangular factor L at u (q×q, block diagonal).
  Eigen::MatrixXd factor(std::span<const double> u) const;
  // ∂Ω/∂u_k at u (q×q): ∂L·Lᵀ + L·∂Lᵀ, ∂L/∂u_k the unit matrix of its
  // entry, times L_ii for a diagonal (log) entry.
  Eigen::MatrixXd omega_derivative(std::span<const double> u, int k) const;
  // ∂²Ω/∂u_k∂u_l at u (q×q): ∂_kL·∂_lLᵀ + ∂_lL·∂_kLᵀ, plus ∂_kL·Lᵀ +
  // L·∂_kLᵀ for a diagonal entry k = l (where ∂²L_ii/∂u_k² = L_ii).
  Eigen::MatrixXd omega_second_derivative(std::span<const double> u, int k,
                                          int l) const;
  // What entry k of u is, for messages: "log sd eta_ka" or
  // "L(eta_cl, eta_ka)".
  std::string entry_name(int k) const;

 private:
  // ∂L/∂u_k at the factor L.
  Eigen::MatrixXd factor_derivative(const Eigen::MatrixXd& L, int k) const;
  struct Block {
    std::vector<int> effects;
    int first = 0;  // its first entry in u, -1 for a fixed SD
  };
  int q_ = 0;
  int count_ = 0;
  std::vector<Block> blocks_;
  std::vector<double> start_sd_;
  std::vector<std::string> names_;
};

// Ω and what the objective needs of it, from its factor L.
struct OmegaTerms {
  Eigen::MatrixXd omega;         // L·Lᵀ
  Eigen::MatrixXd inverse;       // Ω⁻¹
  double log_determinant = 0.0;  // ln det Ω = 2·sum ln L_ii
  static OmegaTerms from_factor(const Eigen::MatrixXd& factor);
};

}  // namespace identify
