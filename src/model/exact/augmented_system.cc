// The augmented system of one experiment. Values: B column-major, so that
// entry (i, j) is at i + j·m as in an Eigen matrix; z(0) = (x0, amp); ĉ_o
// and d_o. Constant expressions are written there once; a Dependent holds
// each other expression with the place of its value and of its gradient,
// and the dependents of B, of z(0) and of each observable lie in
// contiguous runs, so that a chain-rule pass over one group touches only
// what that group's derivatives reach: with ∂f/∂v the derivative of some
// output f with respect to the value v of an expression,
// ∂f/∂θ_k = sum over dependents of ∂f/∂v·∂v/∂θ_k, ∂v/∂θ_k nonzero only for
// the parameters that expression uses.
#include "model/exact/augmented_system.h"

#include <algorithm>
#include <cstddef>

namespace identify {

AugmentedSystem::AugmentedSystem(const FitProblem& problem, int experiment)
    : n_(problem.state_count()),
      k_(static_cast<int>(problem.observables.size())),
      parameters_(problem.parameter_count()) {
  const Experiment& ex = problem.experiments[experiment];
  int sources = 0;
  for (const Source& s : ex.sources) {
    if (!(s.amp.is_constant() && s.amp.constant_value() == 0.0)) ++sources;
  }
  m_ = n_ + sources;
  initial_ = m_ * m_;
  coefficients_ = initial_ + m_;
  offsets_ = coefficients_ + k_ * m_;
  values_.assign(static_cast<std::size_t>(offsets_ + k_), 0.0);

  for (const MatrixTerm& term : ex.matrix) {
    add(term.value, term.row + term.col * m_);
  }
  int u = n_;
  for (const Source& s : ex.sources) {
    if (s.amp.is_constant() && s.amp.constant_value() == 0.0) continue;
    values_[s.state + u * m_] = 1.0;
    add(s.rate, u + u * m_);
    ++u;
  }
  matrix_end_ = static_cast<int>(dependents_.size());
  for (int i = 0; i < n_; ++i) add(ex.x0[i], initial_ + i);
  u = n_;
  for (const Source& s : ex.sources) {
    if (s.amp.is_constant() && s.amp.constant_value() == 0.0) continue;
    add(s.amp, initial_ + u);
    ++u;
  }
  initial_end_ = static_cast<int>(dependents_.size());
  for (int q = matrix_end_; q < initial_end_; ++q) {
    const std::vector<int>& uses = dependents_[q].expression.parameters();
    initial_parameters_.insert(initial_parameters_.end(), uses.begin(),
                               uses.end());
  }
  std::sort(initial_parameters_.begin(), initial_parameters_.end());
  initial_parameters_.erase(
      std::unique(initial_parameters_.begin(), initial_parameters_.end()),
      initial_parameters_.end());
  observable_start_.push_back(initial_end_);
  for (int o = 0; o < k_; ++o) {
    for (const auto& [state, coefficient] : ex.observables[o].coefficients) {
      add(coefficient, coefficients_ + o * m_ + state);
    }
    add(ex.observables[o].offset, offsets_ + o);
    observable_start_.push_back(static_cast<int>(dependents_.size()));
  }
}

void AugmentedSystem::add(const BoundExpression& e, int target) {
  if (e.is_constant()) {
    values_[target] = e.constant_value();
    return;
  }
  dependents_.push_back({e, target, static_cast<int>(gradients_.size())});
  gradients_.resize(gradients_.size() + e.parameters().size());
}

void AugmentedSystem::load(std::span<const double> theta,
                           std::vector<double>& scratch) {
  for (const Dependent& d : dependents_) {
    values_[d.target] = d.expression.value(theta, scratch);
  }
}

void AugmentedSystem::load_with_gradients(std::span<const double> theta,
                                          std::vector<double>& scratch) {
  for (const Dependent& d : dependents_) {
    const std::span<double> grad(gradients_.data() + d.gradient,
                                 d.expression.parameters().size());
    values_[d.target] = d.expression.value_and_gradient(theta, grad, scratch);
  }
}

template <typename Weight>
void AugmentedSystem::chain(int begin, int end, const Weight& weight,
                            std::span<double> g) const {
  for (int q = begin; q < end; ++q) {
    const Dependent& d = dependents_[q];
    const double w = weight(d.target);
    if (w == 0.0) continue;
    const std::vector<int>& uses = d.expression.parameters();
    const double* grad = gradients_.data() + d.gradient;
    for (std::size_t p = 0; p < uses.size(); ++p) g[uses[p]] += w * grad[p];
  }
}

void AugmentedSystem::add_matrix_derivative(const Eigen::MatrixXd& G,
                                            std::span<double> g) const {
  const double* entries = G.data();
  chain(
      0, matrix_end_, [entries](int target) { return entries[target]; }, g);
}

void AugmentedSystem::add_observable_derivative(int o, const double* x,
                                                double w,
                                                std::span<double> g) const {
  const int first = coefficients_ + o * m_;
  const int offset = offsets_ + o;
  chain(
      observable_start_[o], observable_start_[o + 1],
      [x, w, first, offset](int target) {
        return target == offset ? w : x[target - first];
      },
      g);
}

void AugmentedSystem::initial_sensitivity(Eigen::MatrixXd& S) const {
  const auto columns = static_cast<Eigen::Index>(initial_parameters_.size());
  S.leftCols(columns).setZero();
  for (int q = matrix_end_; q < initial_end_; ++q) {
    const Dependent& d = dependents_[q];
    const std::vector<int>& uses = d.expression.parameters();
    const double* grad = gradients_.data() + d.gradient;
    for (std::size_t p = 0; p < uses.size(); ++p) {
      const auto column = std::lower_bound(initial_parameters_.begin(),
                                           initial_parameters_.end(), uses[p]) -
                          initial_parameters_.begin();
      S(d.target - initial_, column) = grad[p];
    }
  }
}

}  // namespace identify
