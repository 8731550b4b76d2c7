// Grid model on θ: A is assembled from θ entry by entry, the forward sweep
// gives y_m = X[c_m][node(t_m)], and the adjoint sweep with jumps w_m at
// node(t_m) followed by the trapezoid quadrature gives
// G[i][j] = ∫ psi_i·x_j = Σ_m w_m·∂y_m/∂A[i][j]; then ∂/∂θ_k = Σ G[i][j]
// over the entries (i, j) that stand for θ_k (assigned, not added to a
// zero, for the first such entry, so that a lone entry's derivative keeps
// its sign of zero). The jumps are applied node by node in measurement
// order, which for the legacy layout (series after series) is the order of
// the sweeps on A.
#include "model/grid/grid_model.h"

#include <cstring>

#include "model/grid/forward_sweep.h"
#include "model/grid/quadrature.h"

namespace identify {

namespace {

bool is_number(const BoundExpression& e, double value) {
  return e.is_constant() && e.constant_value() == value;
}

std::string first_unsupported(const FitProblem& p) {
  if (p.experiments.size() != 1) {
    return "the grid model takes one experiment, found " +
           std::to_string(p.experiments.size());
  }
  const Experiment& e = p.experiments[0];
  for (const MatrixTerm& t : e.matrix) {
    if (!t.value.is_constant() && t.value.single_parameter() < 0) {
      return "the grid model takes matrix entries that are numbers or single "
             "parameters, found \"" +
             t.value.text() + "\"";
    }
  }
  for (const BoundExpression& x : e.x0) {
    if (!x.is_constant()) {
      return "the grid model takes numbers for x0, found \"" + x.text() + "\"";
    }
  }
  for (const Source& s : e.sources) {
    if (!s.amp.is_constant() || !s.rate.is_constant()) {
      return "the grid model takes numbers for the inputs' amp and rate";
    }
  }
  if (!e.doses.empty()) return "the grid model takes no doses";
  if (e.steady_start) return "the grid model takes no steady state";
  if (!e.phases.empty()) {
    return "the grid model takes no covariate that changes within an "
           "experiment";
  }
  if (e.pre_equilibration) {
    return "the grid model takes no pre-equilibration";
  }
  for (std::size_t o = 0; o < e.observables.size(); ++o) {
    const ObservableTerms& terms = e.observables[o];
    if (terms.coefficients.size() != 1 ||
        !is_number(terms.coefficients[0].second, 1.0) ||
        !is_number(terms.offset, 0.0)) {
      return "the grid model takes observables that read one state as it "
             "is, found " +
             p.observables[o];
    }
  }
  if (!(p.end_time() > 0.0)) {
    return "the grid model needs a time interval longer than 0";
  }
  return "";
}

}  // namespace

std::string grid_supports(const FitProblem& problem) {
  return first_unsupported(problem);
}

GridModel::GridModel(const FitProblem& problem, Kernels kernels)
    : scratch_(problem.state_count()) {
  const std::string reason = grid_supports(problem);
  if (!reason.empty()) throw ProblemError(reason);
  const Experiment& e = problem.experiments[0];
  n_ = problem.state_count();
  T_ = problem.horizon > 0.0 ? problem.horizon : problem.end_time();
  dt_ = T_ / static_cast<double>(kStepCount);
  parameters_ = problem.parameter_count();
  for (const BoundExpression& x : e.x0) x0_.push_back(x.constant_value());
  amp_.assign(n_, 0.0);
  rate_.assign(n_, 0.0);
  for (const Source& s : e.sources) {
    amp_[s.state] = s.amp.constant_value();
    rate_[s.state] = s.rate.constant_value();
  }
  zero_terminal_.assign(n_, 0.0);
  constant_matrix_ = make_matrix(n_);
  entry_parameter_.reserve(e.matrix.size());
  first_entry_.reserve(e.matrix.size());
  for (const MatrixTerm& t : e.matrix) {
    const int q = t.row * n_ + t.col;
    if (t.value.is_constant()) {
      constant_matrix_.data()[q] = t.value.constant_value();
    } else {
      entry_parameter_.emplace_back(q, t.value.single_parameter());
    }
  }
  std::vector<char> seen(static_cast<std::size_t>(parameters_), 0);
  for (const auto& [q, k] : entry_parameter_) {
    first_entry_.push_back(seen[k] == 0);
    seen[k] = 1;
  }
  std::vector<double> times;
  for (const Measurement& m : e.measurements) {
    components_.push_back(e.observables[m.observable].coefficients[0].first);
    times.push_back(m.time);
    nodes_.push_back(sample_node(m.time, T_));
  }
  jumps_ = make_jump_schedule(components_, times, T_);
  A_ = make_matrix(n_);
  X_ = make_trajectory(n_);
  Psi_ = make_trajectory(n_);
  theta_of_x_.assign(parameters_, 0.0);
  H_ = Table(1, components_.size());
  G_ = make_matrix(n_);
  if (kernels == Kernels::kFast) {
    fast_ = std::make_unique<FastKernels>(n_, T_, dt_, amp_, rate_);
  }
}

void GridModel::load_matrix(std::span<const double> theta) {
  // copy_n, not memcpy: the buffers of an empty system may be null.
  std::copy_n(constant_matrix_.data(), A_.size(), A_.data());
  for (const auto& [q, k] : entry_parameter_) A_.data()[q] = theta[k];
}

void GridModel::sweep_forward(Trajectory& X) {
  if (fast_) {
    fast_->forward(x0_.data(), A_, X, stop_flag());
  } else {
    solve_forward(n_, T_, dt_, x0_.data(), A_, amp_.data(), rate_.data(), X,
                  scratch_, stop_flag());
  }
}

void GridModel::ensure_forward(std::span<const double> theta) {
  load_matrix(theta);
  // Same bits, not ==: a −0 for a 0 may change the sweep's bits. An empty
  // θ has no buffer to compare.
  if (has_x_ && (theta_of_x_.empty() ||
                 std::memcmp(theta.data(), theta_of_x_.data(),
                             theta_of_x_.size() * sizeof(double)) == 0)) {
    return;
  }
  sweep_forward(X_);
  std::copy(theta.begin(), theta.end(), theta_of_x_.begin());
  has_x_ = !stop_requested();
}

void GridModel::evaluate(std::span<const double> theta, Evaluation& out) {
  out.theta.assign(theta.begin(), theta.end());
  out.y.resize(components_.size());
  has_x_ = false;
  ensure_forward(theta);
  if (stop_requested()) return;
  for (std::size_t m = 0; m < components_.size(); ++m) {
    out.y[m] = X_[components_[m]][nodes_[m]];
  }
}

void GridModel::matrix_gradient() {
  if (fast_) {
    fast_->adjoint(zero_terminal_.data(), A_, H_, jumps_, Psi_, stop_flag());
    if (stop_requested()) return;
    fast_->gradient(Psi_, G_, stop_flag());
    return;
  }
  solve_adjoint(n_, T_, dt_, zero_terminal_.data(), A_, H_, jumps_, Psi_,
                scratch_, stop_flag());
  if (stop_requested()) return;
  for (int i = 0; i < n_; ++i) {
    for (int j = 0; j < n_; ++j) {
      G_[i][j] = gradient_entry(T_, kNodeCount, Psi_[i], X_[j]);
    }
  }
}

void GridModel::chain_to_parameters(std::span<double> g) const {
  std::fill(g.begin(), g.end(), 0.0);
  // Most problems name each parameter once: the first entry of a parameter
  // is assigned, later ones added.
  for (std::size_t e = 0; e < entry_parameter_.size(); ++e) {
    const auto [q, k] = entry_parameter_[e];
    g[k] = first_entry_[e] ? G_.data()[q] : g[k] + G_.data()[q];
  }
}

void GridModel::gradient(const Evaluation& at, std::span<const double> w,
                         std::span<double> g) {
  ensure_forward(at.theta);
  if (stop_requested()) return;
  std::copy(w.begin(), w.end(), H_.data());
  matrix_gradient();
  if (stop_requested()) return;
  chain_to_parameters(g);
}

void GridModel::jacobian(const Evaluation& at, Table& J) {
  J.reshape(components_.size(), parameters_);
  ensure_forward(at.theta);
  H_.fill(0.0);
  for (std::size_t m = 0; m < components_.size(); ++m) {
    if (stop_requested()) return;
    H_.data()[m] = 1.0;
    matrix_gradient();
    H_.data()[m] = 0.0;
    chain_to_parameters({J[m], static_cast<std::size_t>(parameters_)});
  }
}

void GridModel::states(std::span<const double> theta, int,
                       std::span<const double> times, Table& X) {
  Trajectory sweep = make_trajectory(n_);
  load_matrix(theta);
  sweep_forward(sweep);
  has_x_ = false;  // the fast kernels now hold this sweep's copy
  X.reshape(n_, times.size());
  for (std::size_t q = 0; q < times.size(); ++q) {
    int node = sample_node(times[q], T_);
    if (node < kStepCount && times[q] == static_cast<double>(node + 1) * dt_) {
      ++node;
    }
    for (int i = 0; i < n_; ++i) X[i][q] = sweep[i][node];
  }
}

}  // namespace identify
