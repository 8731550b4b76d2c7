// Closed-form model. The source terms u_i = amp_i·exp(rate_i·t) of the
// components with amp_i ≠ 0 solve u' = diag(rate)·u, so z = (x, u) solves
// z' = B z with B = [[A, S], [0, diag(rate)]] (S puts u_i into row i) and
// z(0) = z0 = (x0, amp): x(t) is the top N entries of exp(B·t)·z0. A change
// E of A changes B by Ê = [[E, 0], [0, 0]] and x(t) by the top of
// L(B·t, Ê·t)·z0, L being the Fréchet derivative of exp. For samples at time
// t weighted by w_c per observed component c, the weighted sum of those
// changes is <W, L(B·t, Ê·t)> with W = (w, 0)·z0ᵀ, and the adjoint identity
// <W, L(X, E)> = <L(Xᵀ, W), E> turns it into t·<L(t·Bᵀ, W), Ê>: entry (i, j)
// of the derivative is t times entry (i, j) of L(t·Bᵀ, W), which is the
// upper-right block of exp([[t·Bᵀ, W], [0, t·Bᵀ]]). L is linear in W, so W
// is divided by its 1-norm before the exponential and the block multiplied
// back after; this keeps the W block from raising the scaling of the
// exponential. The gradient takes w from H, one block exponential per
// distinct time; the Jacobian takes w = e_c for each component c observed
// at that time (matrix_exponential.h has the exponential itself).
#include "model/exact/exact_matrix_model.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>

namespace identify {
namespace {

// Number of components whose source has a nonzero amplitude.
int source_count(const Vector& amp) {
  return static_cast<int>(
      std::count_if(amp.begin(), amp.end(), [](double a) { return a != 0.0; }));
}

}  // namespace

ExactMatrixModel::ExactMatrixModel(const ProblemRecord& problem,
                                   const ObservationRecord& obs)
    : n_(problem.dim),
      T_(problem.T),
      m_(problem.dim + source_count(problem.exp_coef)),
      points_(obs.points()),
      z0_(Eigen::VectorXd::Zero(m_)),
      components_(obs.is_data_exist.begin(), obs.is_data_exist.end()),
      state_matrix_(Eigen::MatrixXd::Zero(m_, m_)),
      expm_small_(m_, MatrixExponential::Squaring::kApproximant),
      expm_block_(2 * m_, MatrixExponential::Squaring::kApproximant) {
  // Only the sources with a nonzero amplitude need a state of their own.
  for (int i = 0; i < n_; ++i) z0_[i] = problem.init_val[i];
  int u = n_;
  for (int i = 0; i < n_; ++i) {
    if (problem.exp_coef[i] == 0.0) continue;
    z0_[u] = problem.exp_coef[i];
    state_matrix_(i, u) = 1.0;
    state_matrix_(u, u) = problem.exp_par[i];
    ++u;
  }

  // Distinct sample times, and the samples of each grouped by a counting
  // sort on the time index.
  const int samples = static_cast<int>(components_.size()) * points_;
  times_.assign(obs.data_time.data(), obs.data_time.data() + samples);
  std::sort(times_.begin(), times_.end());
  times_.erase(std::unique(times_.begin(), times_.end()), times_.end());
  const int count = static_cast<int>(times_.size());
  std::vector<int> time_of(samples);
  time_start_.assign(count + 1, 0);
  for (int s = 0; s < samples; ++s) {
    const double t = obs.data_time.data()[s];
    time_of[s] = static_cast<int>(
        std::lower_bound(times_.begin(), times_.end(), t) - times_.begin());
    ++time_start_[time_of[s] + 1];
  }
  for (int i = 0; i < count; ++i) time_start_[i + 1] += time_start_[i];
  sample_order_.resize(samples);
  std::vector<int> next(time_start_.begin(), time_start_.end() - 1);
  for (int s = 0; s < samples; ++s) sample_order_[next[time_of[s]]++] = s;

  component_start_.assign(1, 0);
  std::vector<int> seen;
  for (int i = 0; i < count; ++i) {
    seen.clear();
    for (int p = time_start_[i]; p < time_start_[i + 1]; ++p) {
      seen.push_back(components_[sample_order_[p] / points_]);
    }
    std::sort(seen.begin(), seen.end());
    seen.erase(std::unique(seen.begin(), seen.end()), seen.end());
    observed_.insert(observed_.end(), seen.begin(), seen.end());
    component_start_.push_back(static_cast<int>(observed_.size()));
  }

  scaled_.resize(m_, m_);
  propagator_.resize(m_, m_);
  states_.resize(n_, count);
  block_ = Eigen::MatrixXd::Zero(2 * m_, 2 * m_);
  block_exp_.resize(2 * m_, 2 * m_);
  frechet_.resize(n_, n_);
  weights_.resize(n_);
}

void ExactMatrixModel::load_matrix(const Matrix& A) {
  for (int i = 0; i < n_; ++i) {
    for (int j = 0; j < n_; ++j) state_matrix_(i, j) = A[i][j];
  }
}

void ExactMatrixModel::state_at(double t, Eigen::Ref<Eigen::VectorXd> x) {
  if (t == 0.0) {
    x = z0_.head(n_);
    return;
  }
  scaled_ = t * state_matrix_;
  expm_small_.compute(scaled_, propagator_);
  x.noalias() = propagator_.topRows(n_) * z0_;
}

void ExactMatrixModel::weighted_derivative(double t, const Eigen::VectorXd& w) {
  const double scale = w.lpNorm<1>() * z0_.lpNorm<Eigen::Infinity>();
  if (scale == 0.0) {
    frechet_.setZero();
    return;
  }
  block_.topLeftCorner(m_, m_) = t * state_matrix_.transpose();
  block_.bottomRightCorner(m_, m_) = block_.topLeftCorner(m_, m_);
  block_.block(0, m_, n_, m_).noalias() = (w / scale) * z0_.transpose();
  expm_block_.compute(block_, block_exp_);
  frechet_ = (t * scale) * block_exp_.block(0, m_, n_, n_);
}

void ExactMatrixModel::evaluate(const Matrix& A, Table& M) {
  const std::size_t series = components_.size();
  M.reshape(series, points_);
  load_matrix(A);
  for (std::size_t i = 0; i < times_.size(); ++i) {
    if (stop_requested()) return;
    state_at(times_[i], states_.col(i));
    for (int p = time_start_[i]; p < time_start_[i + 1]; ++p) {
      const int s = sample_order_[p];
      M.data()[s] = states_(components_[s / points_], i);
    }
  }
}

void ExactMatrixModel::trajectory(const Matrix& A, Trajectory& X) {
  X.reshape(n_, kNodeCount);
  load_matrix(A);
  const double dt = T_ / static_cast<double>(kStepCount);
  Eigen::VectorXd x(n_);
  for (int k = 0; k < kNodeCount; ++k) {
    state_at(static_cast<double>(k) * dt, x);
    for (int i = 0; i < n_; ++i) X[i][k] = x[i];
  }
}

void ExactMatrixModel::gradient(const Matrix& A, const Table& H, Matrix& G) {
  const std::size_t n = static_cast<std::size_t>(n_);
  G.reshape(n, n);
  G.fill(0.0);
  load_matrix(A);
  for (std::size_t i = 0; i < times_.size(); ++i) {
    if (times_[i] == 0.0) continue;  // x(0) = x0 does not depend on A
    if (stop_requested()) return;
    weights_.setZero();
    for (int p = time_start_[i]; p < time_start_[i + 1]; ++p) {
      const int s = sample_order_[p];
      weights_[components_[s / points_]] += H.data()[s];
    }
    weighted_derivative(times_[i], weights_);
    for (int r = 0; r < n_; ++r) {
      for (int c = 0; c < n_; ++c) G[r][c] += frechet_(r, c);
    }
  }
}

void ExactMatrixModel::jacobian(const Matrix& A, Table& J) {
  const std::size_t rows = components_.size() * points_;
  const std::size_t cols = static_cast<std::size_t>(n_) * n_;
  J.reshape(rows, cols);
  J.fill(0.0);
  load_matrix(A);
  for (std::size_t i = 0; i < times_.size(); ++i) {
    if (times_[i] == 0.0) continue;
    if (stop_requested()) return;
    for (int q = component_start_[i]; q < component_start_[i + 1]; ++q) {
      const int component = observed_[q];
      weights_.setZero();
      weights_[component] = 1.0;
      weighted_derivative(times_[i], weights_);
      for (int p = time_start_[i]; p < time_start_[i + 1]; ++p) {
        const int s = sample_order_[p];
        if (components_[s / points_] != component) continue;
        double* row = J[s];
        for (int r = 0; r < n_; ++r) {
          for (int c = 0; c < n_; ++c) row[r * n_ + c] = frechet_(r, c);
        }
      }
    }
  }
}

}  // namespace identify
