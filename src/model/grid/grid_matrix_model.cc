// Grid model: M[k][n] = X[c_k][node(t_kn)] with X the RK4 forward trajectory
// and node(t) = trunc((t / T)·3000). With jumps H at those nodes the adjoint
// psi gives G[i][j] = trapezoid integral of psi_i·x_j = sum H·dM/dA[i][j].
// The Jacobian row of one sample is that gradient for a unit jump at it.
// The sweeps and quadratures run either on the fast kernels or on the plain
// reference functions; both give the same doubles.
#include "model/grid/grid_matrix_model.h"

#include "model/grid/forward_sweep.h"
#include "model/grid/quadrature.h"

namespace identify {

GridMatrixModel::GridMatrixModel(const ProblemRecord& problem, const ObservationRecord& obs,
                     Kernels kernels)
    : n_(problem.dim),
      T_(problem.T),
      dt_(problem.T / static_cast<double>(kStepCount)),
      x0_(problem.init_val),
      amp_(problem.exp_coef),
      rate_(problem.exp_par),
      zero_terminal_(problem.dim, 0.0),
      components_(obs.is_data_exist.begin(), obs.is_data_exist.end()),
      jumps_(make_jump_schedule(obs, problem.T)),
      X_(make_trajectory(problem.dim)),
      Psi_(make_trajectory(problem.dim)),
      scratch_(problem.dim),
      unit_jump_(obs.data_num, obs.points()),
      unit_grad_(make_matrix(problem.dim)) {
  // The node each sample is read at is the node its jump lands on.
  nodes_.resize(jumps_.size());
  for (const Jump& jp : jumps_) {
    nodes_[static_cast<std::size_t>(jp.series) * obs.points() + jp.sample] =
        jp.node;
  }
  if (kernels == Kernels::kFast) {
    fast_ = std::make_unique<FastKernels>(n_, T_, dt_, amp_, rate_);
  }
}

void GridMatrixModel::sweep_forward(const Matrix& A, Trajectory& X) {
  if (fast_) {
    fast_->forward(x0_.data(), A, X, stop_flag());
  } else {
    solve_forward(n_, T_, dt_, x0_.data(), A, amp_.data(), rate_.data(), X,
                  scratch_, stop_flag());
  }
}

void GridMatrixModel::evaluate(const Matrix& A, Table& M) {
  sweep_forward(A, X_);
  if (stop_requested()) return;
  const std::size_t points = M.cols();
  for (std::size_t k = 0; k < M.rows(); ++k) {
    const double* row = X_[components_[k]];
    for (std::size_t n = 0; n < points; ++n) {
      M[k][n] = row[nodes_[k * points + n]];
    }
  }
}

void GridMatrixModel::trajectory(const Matrix& A, Trajectory& X) {
  X.reshape(n_, kNodeCount);
  sweep_forward(A, X);
}

void GridMatrixModel::gradient(const Matrix& A, const Table& H, Matrix& G) {
  if (fast_) {
    fast_->adjoint(zero_terminal_.data(), A, H, jumps_, Psi_, stop_flag());
    if (stop_requested()) return;
    fast_->gradient(Psi_, G, stop_flag());
    return;
  }
  solve_adjoint(n_, T_, dt_, zero_terminal_.data(), A, H, jumps_, Psi_,
                scratch_, stop_flag());
  if (stop_requested()) return;
  for (int i = 0; i < n_; ++i) {
    for (int j = 0; j < n_; ++j) {
      G[i][j] = gradient_entry(T_, kNodeCount, Psi_[i], X_[j]);
    }
  }
}

void GridMatrixModel::jacobian(const Matrix& A, Table& J) {
  const std::size_t entries = static_cast<std::size_t>(n_) * n_;
  J.reshape(unit_jump_.size(), entries);
  unit_jump_.fill(0.0);
  double* h = unit_jump_.data();
  for (std::size_t q = 0; q < unit_jump_.size(); ++q) {
    h[q] = 1.0;
    gradient(A, unit_jump_, unit_grad_);
    h[q] = 0.0;
    if (stop_requested()) return;
    const double* g = unit_grad_.data();
    for (std::size_t e = 0; e < entries; ++e) J[q][e] = g[e];
  }
}

}  // namespace identify
