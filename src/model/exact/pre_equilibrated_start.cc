// The pre-equilibrated start: A_pre, b_pre and x_pre(0) evaluated at θ, the
// steady state solved in closed form, and for the derivatives the
// direction (∂A/∂θ_k, ∂b/∂θ_k, ∂x0/∂θ_k) of every parameter k they use,
// each mapped to ∂x/∂θ_k by Equilibrium::derivative().
#include "model/exact/pre_equilibrated_start.h"

#include <algorithm>
#include <limits>

namespace identify {

PreEquilibratedStart::PreEquilibratedStart(const PreEquilibration& pre,
                                           int states)
    : n_(states), reset_(pre.reset) {
  reset_.resize(static_cast<std::size_t>(n_), false);
  for (const MatrixTerm& t : pre.matrix) {
    matrix_.push_back({t.value, t.row + t.col * n_});
  }
  for (const Source& s : pre.sources) {
    if (!(s.rate.is_constant() && s.rate.constant_value() == 0.0)) {
      has_rate_ = true;
    }
    inputs_.push_back({s.amp, s.state});
  }
  for (int i = 0; i < n_ && i < static_cast<int>(pre.x0.size()); ++i) {
    start_.push_back({pre.x0[i], i});
  }
  for (const auto* list : {&matrix_, &inputs_, &start_}) {
    for (const Entry& e : *list) {
      const std::vector<int>& ps = e.expression.parameters();
      parameters_.insert(parameters_.end(), ps.begin(), ps.end());
    }
  }
  std::sort(parameters_.begin(), parameters_.end());
  parameters_.erase(std::unique(parameters_.begin(), parameters_.end()),
                    parameters_.end());
  const int largest = parameters_.empty() ? 0 : parameters_.back() + 1;
  column_.assign(static_cast<std::size_t>(largest), -1);
  for (std::size_t c = 0; c < parameters_.size(); ++c) {
    column_[parameters_[c]] = static_cast<int>(c);
  }
  const auto columns = static_cast<Eigen::Index>(parameters_.size());
  a_.setZero(n_, n_);
  b_.setZero(n_);
  x0_.setZero(n_);
  da_.assign(parameters_.size(), Eigen::MatrixXd::Zero(n_, n_));
  db_.setZero(n_, columns);
  dx0_.setZero(n_, columns);
}

void PreEquilibratedStart::spread(const Entry& e, std::span<const double> grad,
                                  int kind) {
  const std::vector<int>& ps = e.expression.parameters();
  for (std::size_t p = 0; p < ps.size(); ++p) {
    const int c = column_[ps[p]];
    if (kind == 0) da_[c].data()[e.target] += grad[p];
    if (kind == 1) db_(e.target, c) += grad[p];
    if (kind == 2) dx0_(e.target, c) += grad[p];
  }
}

void PreEquilibratedStart::evaluate(std::span<const double> theta,
                                    std::vector<double>& scratch,
                                    Eigen::VectorXd& x, Eigen::MatrixXd* dx) {
  a_.setZero();
  b_.setZero();
  x0_.setZero();
  if (dx != nullptr) {
    for (Eigen::MatrixXd& d : da_) d.setZero();
    db_.setZero();
    dx0_.setZero();
  }
  const auto load = [&](const std::vector<Entry>& list, int kind,
                        double* values) {
    for (const Entry& e : list) {
      grad_.resize(e.expression.parameters().size());
      const double v =
          dx != nullptr ? e.expression.value_and_gradient(theta, grad_, scratch)
                        : e.expression.value(theta, scratch);
      values[e.target] += v;
      if (dx != nullptr) spread(e, grad_, kind);
    }
  };
  load(matrix_, 0, a_.data());
  load(inputs_, 1, b_.data());
  load(start_, 2, x0_.data());
  const auto columns = static_cast<Eigen::Index>(parameters_.size());
  if (has_rate_ || !equilibrium_.solve(a_, b_, x0_, x)) {
    x.setConstant(n_, std::numeric_limits<double>::quiet_NaN());
    if (dx != nullptr) dx->setConstant(n_, columns, x(0));
    return;
  }
  if (dx == nullptr) return;
  dx->resize(n_, columns);
  Eigen::VectorXd column(n_);
  for (Eigen::Index c = 0; c < columns; ++c) {
    equilibrium_.derivative(da_[c], db_.col(c), dx0_.col(c), column);
    dx->col(c) = column;
  }
}

}  // namespace identify
