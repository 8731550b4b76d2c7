// Closed-form model on θ. In each experiment z' = B z with B and z(0) from
// the augmented system, and between events z(τ + s) = exp(s·B)·z(τ), so a
// measurement of observable o at t = τ_e + s is
//
//   y = ĉ_o·exp(s·B)·z(τ_e) + d_o.
//
// Its derivative with respect to θ_k has four parts:
//   through B:     ĉ_o·L(s·B, s·∂B/∂θ_k)·z(τ_e), L the Fréchet derivative
//                  of exp; with W = ĉ_o·z(τ_e)ᵀ this is <W, L(s·B, s·Ḃ)>,
//                  and the adjoint identity <W, L(X, E)> = <L(Xᵀ, W), E>
//                  turns it into <G, Ḃ> with G = s·L(s·Bᵀ, W): one
//                  Fréchet derivative gives ∂y/∂B_ij for every entry at
//                  once, chained through the sparse ∂B/∂θ;
//   through z(τ_e): (exp(s·Bᵀ)·ĉ_o)·S_e[:, k], S_e = dz(τ_e)/dθ, the
//                  exponential coming with the Fréchet derivative;
//   through c, d:  x(t)·∂c_o/∂θ_k + ∂d_o/∂θ_k.
// For the gradient g = sum over m of w_m·∂y_m/∂θ all of this is linear in
// the weights: per distinct time, a = sum of w_m·ĉ_o(m) over its
// measurements gives one Fréchet derivative with W = a·z(τ_e)ᵀ, and the
// G's, the propagated a's and the w·x sums are added up before a single
// chain-rule pass. At s = 0 (a measurement at an event) exp(0) = I and the
// B part vanishes, so x = z(τ_e) exactly and nothing is exponentiated.
#include "model/exact/exact_model.h"

#include <algorithm>
#include <cstring>
#include <string>

namespace identify {

ExactModel::Workspace::Workspace(int m)
    : m(m),
      expm(m),
      scaled(m, m),
      propagator(m, m),
      weight(m, m),
      frechet(m, m),
      accumulated(m, m),
      sensitivity(m, 0),
      weights(m),
      adjoint(m),
      adjoint_sum(m) {}

ExactModel::ExactModel(const FitProblem& problem)
    : n_(problem.state_count()), parameters_(problem.parameter_count()) {
  std::vector<double> theta;
  for (const Parameter& p : problem.parameters) theta.push_back(p.value);
  for (int e = 0; e < static_cast<int>(problem.experiments.size()); ++e) {
    const Experiment& ex = problem.experiments[e];
    if (!ex.doses.empty()) {
      throw ProblemError(
          "experiment " + ex.id +
          ": expected no doses in the closed-form model, found " +
          std::to_string(ex.doses.size()));
    }
    Part p(problem, e);
    const int m = p.system.size();
    auto same = std::find_if(workspaces_.begin(), workspaces_.end(),
                             [m](const Workspace& w) { return w.m == m; });
    p.workspace = static_cast<int>(same - workspaces_.begin());
    if (same == workspaces_.end()) workspaces_.emplace_back(m);
    p.event_times = {0.0};
    p.segment_start = {0, static_cast<int>(p.schedule.times.size())};
    p.sensitive = p.system.initial_parameters();
    Eigen::MatrixXd& S = workspaces_[p.workspace].sensitivity;
    const auto columns = static_cast<Eigen::Index>(p.sensitive.size());
    if (S.cols() < columns) S.resize(m, columns);
    p.first_measurement = measurements_;
    measurements_ += problem.experiments[e].measurements.size();
    p.cache_offset = cache_size_;
    p.states_offset = cache_size_ + p.event_times.size() * m;
    cache_size_ = p.states_offset + p.schedule.times.size() * n_;
    // Both passes once, so that the expressions' scratch has its final size.
    p.system.load(theta, scratch_);
    p.system.load_with_gradients(theta, scratch_);
    parts_.push_back(std::move(p));
  }
  const std::size_t k = problem.observables.size();
  observed_x_.resize(k * n_);
  observed_w_.resize(k);
}

void ExactModel::event_states(const Part& p, double* z) const {
  const int m = p.system.size();
  Eigen::Map<Eigen::VectorXd>(z, m) = p.system.initial_state();
}

void ExactModel::event_sensitivity(const Part& p, int /*event*/,
                                   Workspace& ws) const {
  p.system.initial_sensitivity(ws.sensitivity);
}

void ExactModel::add_sensitivity_product(const Part& p, const Workspace& ws,
                                         const Eigen::VectorXd& v,
                                         std::span<double> g) const {
  for (std::size_t c = 0; c < p.sensitive.size(); ++c) {
    g[p.sensitive[c]] +=
        ws.sensitivity.col(static_cast<Eigen::Index>(c)).dot(v);
  }
}

void ExactModel::state_at(const Part& p, Workspace& ws, double s,
                          Eigen::Map<const Eigen::VectorXd> z, double* x) {
  Eigen::Map<Eigen::VectorXd> out(x, n_);
  if (s == 0.0) {
    out = z.head(n_);
    return;
  }
  ws.scaled = s * p.system.matrix();
  ws.expm.compute(ws.scaled, ws.propagator);
  out.noalias() = ws.propagator.topRows(n_) * z;
}

void ExactModel::adjoint_at(const Part& p, Workspace& ws, double s,
                            Eigen::Map<const Eigen::VectorXd> z) {
  ws.scaled = s * p.system.matrix().transpose();
  ws.weight.noalias() = ws.weights * z.transpose();
  ws.expm.compute_with_derivative(ws.scaled, ws.weight, ws.propagator,
                                  ws.frechet);
  ws.frechet *= s;
  ws.adjoint.noalias() = ws.propagator * ws.weights;
}

void ExactModel::evaluate(std::span<const double> theta, Evaluation& out) {
  out.theta.assign(theta.begin(), theta.end());
  out.y.resize(measurements_);
  out.cache.resize(cache_size_);
  for (Part& p : parts_) {
    Workspace& ws = workspaces_[p.workspace];
    const int m = p.system.size();
    const SampleSchedule& sch = p.schedule;
    p.system.load(theta, scratch_);
    double* z = out.cache.data() + p.cache_offset;
    event_states(p, z);
    for (std::size_t e = 0; e < p.event_times.size(); ++e) {
      const Eigen::Map<const Eigen::VectorXd> ze(z + e * m, m);
      for (int i = p.segment_start[e]; i < p.segment_start[e + 1]; ++i) {
        double* x = out.cache.data() + p.states_offset + i * n_;
        state_at(p, ws, sch.times[i] - p.event_times[e], ze, x);
        const Eigen::Map<const Eigen::VectorXd> xi(x, n_);
        for (int q = sch.time_start[i]; q < sch.time_start[i + 1]; ++q) {
          const int meas = sch.order[q], o = sch.observable[meas];
          out.y[p.first_measurement + meas] =
              p.system.observable(o).head(n_).dot(xi) + p.system.offset(o);
        }
      }
    }
  }
}

void ExactModel::jacobian_row(Part& p, Workspace& ws, double s, int o,
                              Eigen::Map<const Eigen::VectorXd> z,
                              const double* x, std::span<double> row) {
  ws.weights = p.system.observable(o);
  if (s == 0.0 || ws.weights.isZero(0.0)) {
    ws.adjoint = ws.weights;
  } else {
    adjoint_at(p, ws, s, z);
    p.system.add_matrix_derivative(ws.frechet, row);
  }
  add_sensitivity_product(p, ws, ws.adjoint, row);
  p.system.add_observable_derivative(o, x, 1.0, row);
}

void ExactModel::jacobian(const Evaluation& at, Table& J) {
  J.reshape(measurements_, parameters_);
  J.fill(0.0);
  const std::size_t bytes = sizeof(double) * parameters_;
  for (Part& p : parts_) {
    Workspace& ws = workspaces_[p.workspace];
    const int m = p.system.size();
    const SampleSchedule& sch = p.schedule;
    p.system.load_with_gradients(at.theta, scratch_);
    const double* z = at.cache.data() + p.cache_offset;
    for (std::size_t e = 0; e < p.event_times.size(); ++e) {
      event_sensitivity(p, static_cast<int>(e), ws);
      const Eigen::Map<const Eigen::VectorXd> ze(z + e * m, m);
      for (int i = p.segment_start[e]; i < p.segment_start[e + 1]; ++i) {
        const double s = sch.times[i] - p.event_times[e];
        const double* x = at.cache.data() + p.states_offset + i * n_;
        for (int r = sch.observed_start[i]; r < sch.observed_start[i + 1];
             ++r) {
          // The first measurement of (time, observable) gets the row, the
          // others a copy.
          const int o = sch.observed[r];
          double* first = nullptr;
          for (int q = sch.time_start[i]; q < sch.time_start[i + 1]; ++q) {
            const int meas = sch.order[q];
            if (sch.observable[meas] != o) continue;
            double* row = J[p.first_measurement + meas];
            if (first == nullptr) {
              first = row;
              jacobian_row(p, ws, s, o, ze, x,
                           std::span<double>(row, parameters_));
            } else {
              std::memcpy(row, first, bytes);
            }
          }
        }
      }
    }
  }
}

void ExactModel::add_gradient(Part& p, const Evaluation& at,
                              std::span<const double> w, std::span<double> g) {
  Workspace& ws = workspaces_[p.workspace];
  const int m = p.system.size();
  const SampleSchedule& sch = p.schedule;
  const double* z = at.cache.data() + p.cache_offset;
  std::fill(observed_x_.begin(), observed_x_.end(), 0.0);
  std::fill(observed_w_.begin(), observed_w_.end(), 0.0);
  ws.accumulated.setZero();
  for (std::size_t e = 0; e < p.event_times.size(); ++e) {
    const Eigen::Map<const Eigen::VectorXd> ze(z + e * m, m);
    ws.adjoint_sum.setZero();
    for (int i = p.segment_start[e]; i < p.segment_start[e + 1]; ++i) {
      const double* x = at.cache.data() + p.states_offset + i * n_;
      ws.weights.setZero();
      for (int q = sch.time_start[i]; q < sch.time_start[i + 1]; ++q) {
        const int meas = sch.order[q], o = sch.observable[meas];
        const double wm = w[p.first_measurement + meas];
        ws.weights += wm * p.system.observable(o);
        observed_w_[o] += wm;
        for (int j = 0; j < n_; ++j) observed_x_[o * n_ + j] += wm * x[j];
      }
      const double s = sch.times[i] - p.event_times[e];
      if (s == 0.0 || ws.weights.isZero(0.0)) {
        ws.adjoint_sum += ws.weights;
        continue;
      }
      adjoint_at(p, ws, s, ze);
      ws.accumulated += ws.frechet;
      ws.adjoint_sum += ws.adjoint;
    }
    event_sensitivity(p, static_cast<int>(e), ws);
    add_sensitivity_product(p, ws, ws.adjoint_sum, g);
  }
  p.system.add_matrix_derivative(ws.accumulated, g);
  for (int o = 0; o < p.system.observable_count(); ++o) {
    p.system.add_observable_derivative(o, observed_x_.data() + o * n_,
                                       observed_w_[o], g);
  }
}

void ExactModel::gradient(const Evaluation& at, std::span<const double> w,
                          std::span<double> g) {
  std::fill(g.begin(), g.end(), 0.0);
  for (Part& p : parts_) {
    p.system.load_with_gradients(at.theta, scratch_);
    add_gradient(p, at, w, g);
  }
}

void ExactModel::states(std::span<const double> theta, int experiment,
                        std::span<const double> times, Table& X) {
  Part& p = parts_[experiment];
  Workspace& ws = workspaces_[p.workspace];
  const int m = p.system.size();
  X.reshape(n_, times.size());
  p.system.load(theta, scratch_);
  std::vector<double> z(p.event_times.size() * m), x(n_);
  event_states(p, z.data());
  for (std::size_t q = 0; q < times.size(); ++q) {
    // The last event at or before the time.
    const auto e = static_cast<std::size_t>(
        std::upper_bound(p.event_times.begin() + 1, p.event_times.end(),
                         times[q]) -
        p.event_times.begin() - 1);
    const Eigen::Map<const Eigen::VectorXd> ze(z.data() + e * m, m);
    state_at(p, ws, times[q] - p.event_times[e], ze, x.data());
    for (int i = 0; i < n_; ++i) X[i][q] = x[i];
  }
}

}  // namespace identify
