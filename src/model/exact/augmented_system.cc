// The augmented system of one experiment. Values: B column-major, so that
// entry (i, j) is at i + j·m as in an Eigen matrix; z(0) = (x0, amp, 0); ĉ_o
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
#include <limits>

namespace identify {

AugmentedSystem::AugmentedSystem(const FitProblem& problem, int experiment,
                                 int phase)
    : n_(problem.state_count()),
      k_(static_cast<int>(problem.observables.size())),
      parameters_(problem.parameter_count()) {
  const Experiment& ex = problem.experiments[experiment];
  if (ex.pre_equilibration && phase == 0) {
    pre_.emplace(*ex.pre_equilibration, n_);
  }
  int sources = 0;
  for (const Source& s : ex.sources) {
    if (!(s.amp.is_constant() && s.amp.constant_value() == 0.0)) ++sources;
  }
  moving_ = n_ + sources;
  infusion_input_.assign(n_, -1);
  m_ = moving_;
  for (const Dose& d : ex.doses) {
    if (d.infusion && infusion_input_[d.state] < 0) {
      infusion_input_[d.state] = m_++;
    }
  }
  initial_ = m_ * m_;
  coefficients_ = initial_ + m_;
  offsets_ = coefficients_ + k_ * m_;
  values_.assign(static_cast<std::size_t>(offsets_ + k_), 0.0);

  for (const MatrixTerm& term :
       phase == 0 ? ex.matrix : ex.phases[phase - 1].matrix) {
    add(term.value, term.row + term.col * m_);
  }
  int u = n_;
  for (const Source& s : ex.sources) {
    if (s.amp.is_constant() && s.amp.constant_value() == 0.0) continue;
    values_[s.state + u * m_] = 1.0;
    add(s.rate, u + u * m_);
    ++u;
  }
  for (int i = 0; i < n_; ++i) {
    if (infusion_input_[i] >= 0) values_[i + infusion_input_[i] * m_] = 1.0;
  }
  matrix_end_ = static_cast<int>(dependents_.size());
  for (int q = 0; q < matrix_end_; ++q) {
    const Dependent& d = dependents_[q];
    const std::vector<int>& uses = d.expression.parameters();
    for (std::size_t p = 0; p < uses.size(); ++p) {
      matrix_uses_.push_back(
          {d.target, uses[p], d.gradient + static_cast<int>(p)});
    }
  }
  index_directions();
  for (int i = 0; i < n_; ++i) {
    if (!(pre_ && pre_->from_steady_state(i))) add(ex.x0[i], initial_ + i);
  }
  u = n_;
  for (const Source& s : ex.sources) {
    if (s.amp.is_constant() && s.amp.constant_value() == 0.0) continue;
    add(s.amp, initial_ + u);
    ++u;
  }
  initial_end_ = static_cast<int>(dependents_.size());
  if (ex.steady_start && phase == 0) {
    steady_ = ex.steady_start;
    steady_solver_.emplace(n_);
    x0_constants_.assign(values_.begin() + initial_,
                         values_.begin() + initial_ + n_);
  }
  collect_initial_parameters();
  observable_start_.push_back(initial_end_);
  for (int o = 0; o < k_; ++o) {
    for (const auto& [state, coefficient] : ex.observables[o].coefficients) {
      add(coefficient, coefficients_ + o * m_ + state);
    }
    add(ex.observables[o].offset, offsets_ + o);
    observable_start_.push_back(static_cast<int>(dependents_.size()));
  }
}

void AugmentedSystem::collect_initial_parameters() {
  if (pre_) initial_parameters_ = pre_->parameters();
  for (int q = matrix_end_; q < initial_end_; ++q) {
    const std::vector<int>& uses = dependents_[q].expression.parameters();
    initial_parameters_.insert(initial_parameters_.end(), uses.begin(),
                               uses.end());
  }
  if (steady_) {
    initial_parameters_.insert(initial_parameters_.end(),
                               matrix_parameters_.begin(),
                               matrix_parameters_.end());
    for (const BoundExpression* e : {&steady_->amount, &steady_->duration}) {
      initial_parameters_.insert(initial_parameters_.end(),
                                 e->parameters().begin(),
                                 e->parameters().end());
    }
  }
  std::sort(initial_parameters_.begin(), initial_parameters_.end());
  initial_parameters_.erase(
      std::unique(initial_parameters_.begin(), initial_parameters_.end()),
      initial_parameters_.end());
}

void AugmentedSystem::index_directions() {
  // (parameter, target, gradient place) of every use of a parameter by an
  // entry of B, sorted by parameter: a compressed column per parameter.
  std::vector<std::pair<int, std::pair<int, int>>> uses;
  for (int q = 0; q < matrix_end_; ++q) {
    const Dependent& d = dependents_[q];
    const std::vector<int>& ps = d.expression.parameters();
    for (std::size_t p = 0; p < ps.size(); ++p) {
      uses.push_back({ps[p], {d.target, d.gradient + static_cast<int>(p)}});
    }
  }
  std::sort(uses.begin(), uses.end());
  for (const auto& [parameter, entry] : uses) {
    if (matrix_parameters_.empty() || matrix_parameters_.back() != parameter) {
      matrix_parameters_.push_back(parameter);
      direction_start_.push_back(static_cast<int>(direction_entries_.size()));
    }
    direction_entries_.push_back(entry);
  }
  direction_start_.push_back(static_cast<int>(direction_entries_.size()));
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
  if (steady_) load_steady_start(theta, scratch, false);
  if (pre_) load_pre(theta, scratch, nullptr);
}

void AugmentedSystem::load_pre(std::span<const double> theta,
                               std::vector<double>& scratch,
                               Eigen::MatrixXd* dx) {
  pre_->evaluate(theta, scratch, pre_x_, dx);
  for (int i = 0; i < n_; ++i) {
    if (pre_->from_steady_state(i)) values_[initial_ + i] = pre_x_(i);
  }
}

void AugmentedSystem::load_with_gradients(std::span<const double> theta,
                                          std::vector<double>& scratch) {
  for (const Dependent& d : dependents_) {
    const std::span<double> grad(gradients_.data() + d.gradient,
                                 d.expression.parameters().size());
    values_[d.target] = d.expression.value_and_gradient(theta, grad, scratch);
  }
  if (steady_) load_steady_start(theta, scratch, true);
  if (pre_) load_pre(theta, scratch, &pre_dx_);
}

void AugmentedSystem::load_steady_start(std::span<const double> theta,
                                        std::vector<double>& scratch,
                                        bool gradients) {
  // x0 as loaded: its constants (overwritten by the last load) and the
  // dependents just evaluated.
  for (int i = 0; i < n_; ++i) {
    bool dependent = false;
    for (int q = matrix_end_; q < initial_end_; ++q) {
      dependent = dependent || dependents_[q].target == initial_ + i;
    }
    if (!dependent) values_[initial_ + i] = x0_constants_[i];
  }
  const Eigen::MatrixXd A = matrix().topLeftCorner(n_, n_);
  const PeriodicDose dose{steady_->state, steady_->amount.value(theta, scratch),
                          steady_->duration.value(theta, scratch),
                          steady_->interval};
  const bool exists = steady_solver_->compute(A, dose, steady_state_);
  if (!exists) {
    steady_state_ =
        Eigen::VectorXd::Constant(n_, std::numeric_limits<double>::quiet_NaN());
  }
  for (int i = 0; i < n_; ++i) {
    const double base = steady_->added ? values_[initial_ + i] : 0.0;
    values_[initial_ + i] = base + steady_state_(i);
  }
  if (!gradients) return;
  const auto count = static_cast<Eigen::Index>(initial_parameters_.size());
  steady_sensitivity_.setConstant(n_, count,
                                  std::numeric_limits<double>::quiet_NaN());
  if (!exists) return;
  // ∂amount/∂θ_k and ∂duration/∂θ_k by column.
  std::vector<double> d_amount(count, 0.0), d_duration(count, 0.0);
  const auto gradient_into = [&](const BoundExpression& e,
                                 std::vector<double>& into) {
    dose_gradient_.assign(e.parameters().size(), 0.0);
    e.value_and_gradient(theta, dose_gradient_, scratch);
    for (std::size_t p = 0; p < e.parameters().size(); ++p) {
      const auto c =
          std::lower_bound(initial_parameters_.begin(),
                           initial_parameters_.end(), e.parameters()[p]) -
          initial_parameters_.begin();
      into[c] += dose_gradient_[p];
    }
  };
  gradient_into(steady_->amount, d_amount);
  gradient_into(steady_->duration, d_duration);
  direction_.resize(m_, m_);
  for (Eigen::Index c = 0; c < count; ++c) {
    const auto k =
        std::lower_bound(matrix_parameters_.begin(), matrix_parameters_.end(),
                         initial_parameters_[c]);
    if (k != matrix_parameters_.end() && *k == initial_parameters_[c]) {
      matrix_direction(static_cast<int>(k - matrix_parameters_.begin()), 1.0,
                       direction_);
    } else {
      direction_.setZero();
    }
    steady_solver_->derivative(direction_.topLeftCorner(n_, n_), d_amount[c],
                               d_duration[c], steady_derivative_);
    steady_sensitivity_.col(c) = steady_derivative_;
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
  // chain() over B's dependents, flattened: the same products added in the
  // same order, without a look at each expression.
  const double* entries = G.data();
  for (const MatrixUse& u : matrix_uses_) {
    const double w = entries[u.target];
    if (w != 0.0) g[u.parameter] += w * gradients_[u.gradient];
  }
}

void AugmentedSystem::matrix_direction(int c, double scale,
                                       Eigen::MatrixXd& Bdot) const {
  Bdot.setZero();
  double* entries = Bdot.data();
  for (int q = direction_start_[c]; q < direction_start_[c + 1]; ++q) {
    const auto [target, gradient] = direction_entries_[q];
    entries[target] += scale * gradients_[gradient];
  }
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

void AugmentedSystem::initial_sensitivity(std::span<const int> column,
                                          Eigen::MatrixXd& S) const {
  for (int q = matrix_end_; q < initial_end_; ++q) {
    const Dependent& d = dependents_[q];
    // A steady state that replaces x0 takes its place.
    if (steady_ && !steady_->added && d.target < initial_ + n_) continue;
    const std::vector<int>& uses = d.expression.parameters();
    const double* grad = gradients_.data() + d.gradient;
    for (std::size_t p = 0; p < uses.size(); ++p) {
      S(d.target - initial_, column[uses[p]]) = grad[p];
    }
  }
  if (steady_) {
    for (std::size_t c = 0; c < initial_parameters_.size(); ++c) {
      const int to = column[initial_parameters_[c]];
      for (int i = 0; i < n_; ++i) S(i, to) += steady_sensitivity_(i, c);
    }
  }
  if (!pre_) return;
  const std::vector<int>& uses = pre_->parameters();
  for (int i = 0; i < n_; ++i) {
    if (!pre_->from_steady_state(i)) continue;
    for (std::size_t c = 0; c < uses.size(); ++c) {
      S(i, column[uses[c]]) = pre_dx_(i, static_cast<Eigen::Index>(c));
    }
  }
}

}  // namespace identify
