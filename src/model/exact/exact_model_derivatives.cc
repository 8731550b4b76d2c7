// Closed-form model on θ, derivatives (the formulas are in exact_model.h).
// Both the Jacobian and the gradient run forward through the events of each
// experiment: S_0 = ∂z(0)/∂θ, then S_e from S_{e−1} across each step, and
// the measurements of each event from its S_e. Across a step of length
// h > 0 the B part of S_e is either one Fréchet derivative per moving row
// a, G_a = h·L(h·Bᵀ, u_a·zᵀ), whose inner product with ∂B/∂θ_k is
// ∂(F·z)_a/∂θ_k, or, for a length whose directional derivatives are kept,
// D_c·z for each parameter θ_c of B.
//
// For the gradient g = sum over m of w_m·∂y_m/∂θ everything is linear in
// the weights: per distinct time, a = sum of w_m·ĉ_o(m) over its
// measurements gives one Fréchet derivative with W = a·z(τ_e)ᵀ, and the
// G's, the propagated a's, the rates a·B·z(t) and the w·x sums are added up
// before the chain rule, once per event for S_e and ∂τ_e/∂θ and once per
// experiment for B, c and d.
//
// The experiments are independent: a large Jacobian of experiments without
// events or phases is split between two threads by whole experiments, each
// with working storage of its own, so that every row is the same doubles
// as on one thread.
#include <algorithm>
#include <cstring>
#include <limits>
#include <thread>

#include "model/exact/exact_model.h"

namespace identify {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

}  // namespace

template <typename F>
void ExactModel::interval_derivative(const Part& p, int e, const F& f) const {
  p.doses.base_derivative(e - 1, f);
  if (e == 1) {
    p.doses.lag_derivative(f);
  } else {
    p.doses.base_derivative(e - 2, [&f](int k, double d) { f(k, -d); });
  }
}

template <typename F>
void ExactModel::time_derivative(const Part& p, int e, const F& f) const {
  p.doses.base_derivative(e - 1, f);
  p.doses.lag_derivative(f);
}

int ExactModel::segment_end(const Part& p, int e, int begin) {
  int end = begin;
  const int times = static_cast<int>(p.schedule.times.size());
  while (end < times && p.segment_at(end) == e) ++end;
  return end;
}

void ExactModel::start_sensitivity(const Part& p, Workspace& ws) const {
  const auto columns = static_cast<Eigen::Index>(p.sensitive.size());
  ws.sensitivity.leftCols(columns).setZero();
  p.system.initial_sensitivity(p.column, ws.sensitivity);
}

void ExactModel::add_step_derivative(Part& p, Workspace& ws, int e, double h,
                                     Eigen::Map<const Eigen::VectorXd> z) {
  const auto columns = static_cast<Eigen::Index>(p.sensitive.size());
  auto next = ws.next.leftCols(columns);
  const auto sensitivity = ws.sensitivity.leftCols(columns);
  const int slot = p.intervals.find(h);
  if (slot >= 0 && p.intervals.has_directions(slot)) {
    const Eigen::MatrixXd& F =
        p.intervals.with_directions(slot, p.system, ws.expm, ws.work);
    next.noalias() = F * sensitivity;
    ws.state.noalias() = F * z;
    const std::vector<int>& ks = p.system.matrix_parameters();
    for (std::size_t c = 0; c < ks.size(); ++c) {
      next.col(p.column[ks[c]]).noalias() +=
          p.intervals.direction(slot, static_cast<int>(c)) * z;
    }
    return;
  }
  const AugmentedSystem& system = p.system_at(e - 1);
  ws.scaled = h * system.matrix().transpose();
  for (int a = 0; a < system.moving_size(); ++a) {
    ws.weight.setZero();
    ws.weight.row(a) = z.transpose();
    ws.expm.compute_with_derivative(ws.scaled, ws.weight, ws.propagator,
                                    ws.frechet);
    ws.frechet *= h;
    if (a == 0) {
      next.noalias() = ws.propagator.transpose() * sensitivity;
      ws.state.noalias() = ws.propagator.transpose() * z;
    }
    for (const int k : p.sensitive) row_[k] = 0.0;
    system.add_matrix_derivative(ws.frechet, row_);
    for (Eigen::Index c = 0; c < columns; ++c) {
      next(a, c) += row_[p.sensitive[c]];
    }
  }
}

void ExactModel::advance_sensitivity(Part& p, Workspace& ws, int e,
                                     const double* z) {
  const int m = p.system.size();
  const auto columns = static_cast<Eigen::Index>(p.sensitive.size());
  const Eigen::Map<const Eigen::VectorXd> before(z + (e - 1) * m, m);
  const double h = p.interval[e];
  auto next = ws.next.leftCols(columns);
  if (h == 0.0) {
    next = ws.sensitivity.leftCols(columns);
    ws.state = before;
  } else {
    add_step_derivative(p, ws, e, h, before);
  }
  ws.slope.noalias() = p.system_at(e - 1).matrix() * ws.state;
  interval_derivative(
      p, e, [&](int k, double d) { next.col(p.column[k]) += d * ws.slope; });
  const DoseSchedule::Event& event = p.doses.event(e - 1);
  p.doses.magnitude_derivative(
      e - 1, [&](int k, double d) { next(event.target, p.column[k]) += d; });
  if (event.closes) next.row(event.target).setZero();
  if (event.steady) steady_sensitivity(p, ws, e);
  ws.sensitivity.swap(ws.next);
}

void ExactModel::steady_sensitivity(const Part& p, Workspace& ws, int e) {
  const auto columns = static_cast<Eigen::Index>(p.sensitive.size());
  auto next = ws.next.leftCols(columns).topRows(n_);
  if (!p.doses.steady_added(e - 1)) next.setZero();
  const AugmentedSystem& system = p.system_at(e);
  steady_matrix_ = system.matrix().topLeftCorner(n_, n_);
  if (!steady_.compute(steady_matrix_, p.doses.periodic_dose(e - 1),
                       steady_x_)) {
    next.setConstant(kNaN);
    return;
  }
  for (const int k : p.sensitive) d_amount_[k] = d_duration_[k] = 0.0;
  p.doses.amount_derivative(e - 1, [&](int k, double d) { d_amount_[k] += d; });
  p.doses.duration_derivative(e - 1,
                              [&](int k, double d) { d_duration_[k] += d; });
  const std::vector<int>& ks = system.matrix_parameters();
  direction_.resize(system.size(), system.size());
  for (Eigen::Index c = 0; c < columns; ++c) {
    const int k = p.sensitive[c];
    const auto at = std::lower_bound(ks.begin(), ks.end(), k);
    if (at != ks.end() && *at == k) {
      system.matrix_direction(static_cast<int>(at - ks.begin()), 1.0,
                              direction_);
    } else {
      direction_.setZero();
    }
    steady_.derivative(direction_.topLeftCorner(n_, n_), d_amount_[k],
                       d_duration_[k], steady_dx_);
    next.col(c) += steady_dx_;
  }
}

void ExactModel::add_sensitivity_product(const Part& p, const Workspace& ws,
                                         const Eigen::VectorXd& v,
                                         std::span<double> g) const {
  for (std::size_t c = 0; c < p.sensitive.size(); ++c) {
    g[p.sensitive[c]] +=
        ws.sensitivity.col(static_cast<Eigen::Index>(c)).dot(v);
  }
}

int ExactModel::adjoint_at(Part& p, Workspace& ws, int e, double s,
                           Eigen::Map<const Eigen::VectorXd> z, bool full) {
  const int slot = p.intervals.find(s);
  if (slot >= 0 && p.intervals.has_directions(slot)) {
    const Eigen::MatrixXd& F =
        p.intervals.with_directions(slot, p.system, ws.expm, ws.work);
    ws.adjoint.noalias() = F.transpose() * ws.weights;
    if (full) ws.state.noalias() = F * z;
    return slot;
  }
  ws.scaled = s * p.system_at(e).matrix().transpose();
  ws.weight.noalias() = ws.weights * z.transpose();
  ws.expm.compute_with_derivative(ws.scaled, ws.weight, ws.propagator,
                                  ws.frechet);
  ws.frechet *= s;
  ws.adjoint.noalias() = ws.propagator * ws.weights;
  if (full) ws.state.noalias() = ws.propagator.transpose() * z;
  return -1;
}

void ExactModel::add_directional(Part& p, const Workspace& ws, int slot,
                                 Eigen::Map<const Eigen::VectorXd> z,
                                 std::span<double> g) const {
  const std::vector<int>& ks = p.system.matrix_parameters();
  for (std::size_t c = 0; c < ks.size(); ++c) {
    const Eigen::MatrixXd& D = p.intervals.direction(slot, static_cast<int>(c));
    double sum = 0.0;
    for (Eigen::Index j = 0; j < D.cols(); ++j) {
      sum += ws.weights.dot(D.col(j)) * z[j];
    }
    g[ks[c]] += sum;
  }
}

void ExactModel::jacobian_row(Part& p, Workspace& ws, int e, double s, int o,
                              Eigen::Map<const Eigen::VectorXd> z,
                              const double* x, std::span<double> row) {
  ws.weights = p.system.observable(o);
  const bool unread = ws.weights.isZero(0.0);
  if (s == 0.0 || unread) {
    ws.adjoint = ws.weights;
    ws.state = z;
  } else if (ws.spectral_on) {
    ws.spectral.derivative(ws.weights, ws.frechet,
                           p.sensitive.empty() ? nullptr : &ws.adjoint,
                           e > 0 ? &ws.state : nullptr, o);
    p.system.add_matrix_derivative(ws.frechet, row);
  } else if (const int slot = adjoint_at(p, ws, e, s, z, e > 0); slot >= 0) {
    add_directional(p, ws, slot, z, row);
  } else {
    p.system_at(e).add_matrix_derivative(ws.frechet, row);
  }
  add_sensitivity_product(p, ws, ws.adjoint, row);
  if (e > 0 && !unread) {
    ws.slope.noalias() = p.system_at(e).matrix() * ws.state;
    const double rate = ws.weights.dot(ws.slope);
    time_derivative(p, e, [&](int k, double d) { row[k] -= rate * d; });
  }
  p.system.add_observable_derivative(o, x, 1.0, row);
}

void ExactModel::jacobian_segment(Part& p, Workspace& ws, int e, int begin,
                                  int end, const Evaluation& at, Table& J) {
  const int m = p.system.size();
  const SampleSchedule& sch = p.schedule;
  const Eigen::Map<const Eigen::VectorXd> ze(
      at.cache.data() + p.cache_offset + e * m, m);
  for (int i = begin; i < end; ++i) {
    if (stop_requested()) return;
    const double* x = at.cache.data() + p.states_offset + i * n_;
    if (ws.spectral_on && p.offset_at(i) > 0.0) {
      ws.spectral.set_sample(p.offset_at(i), ze);
    }
    for (int r = 0; r < sch.observed_count(i); ++r) {
      // The first measurement of (time, observable) gets the row, the
      // others a copy.
      const int o = sch.observed(i, r);
      double* first = nullptr;
      for (int q = sch.first(i); q < sch.end(i); ++q) {
        const int meas = sch.measurement(q);
        if (sch.observable(meas) != o) continue;
        double* row = J[p.first_measurement + meas];
        if (first == nullptr) {
          first = row;
          jacobian_row(p, ws, e, p.offset_at(i), o, ze, x,
                       std::span<double>(row, parameters_));
        } else {
          std::copy_n(first, parameters_, row);
        }
      }
    }
  }
}

void ExactModel::jacobian_part(Part& p, Workspace& ws,
                               std::vector<double>& scratch,
                               const Evaluation& at, Table& J) {
  // The part's own rows, zeroed by the thread that fills them.
  std::fill_n(J[p.first_measurement],
              static_cast<std::size_t>(p.schedule.measurements()) * parameters_,
              0.0);
  if (!prepare(p, at.theta, true, scratch)) {
    for (int q = 0; q < p.schedule.measurements(); ++q) {
      std::fill_n(J[p.first_measurement + q], parameters_, kNaN);
    }
    return;
  }
  const double* z = at.cache.data() + p.cache_offset;
  // One B for the whole experiment: no covariate changes.
  ws.spectral_on = p.phases.empty() &&
                   p.system.matrix_parameters().size() >= kSpectralParameters &&
                   ws.spectral.load(p.system.matrix());
  start_sensitivity(p, ws);
  for (int e = 0, begin = 0; e < p.used; ++e) {
    if (stop_requested()) return;
    if (e > 0) advance_sensitivity(p, ws, e, z);
    const int end = segment_end(p, e, begin);
    jacobian_segment(p, ws, e, begin, end, at, J);
    begin = end;
  }
}

std::size_t ExactModel::threaded_split() const {
  const std::size_t none = parts_.size();
  if (parts_.size() < 2 ||
      measurements_ * static_cast<std::size_t>(parameters_) <
          kThreadedEntries ||
      std::thread::hardware_concurrency() < 2) {
    return none;
  }
  // Events and phases use storage of the model's own (the sensitivity
  // row, the steady state's solver): those stay on one thread.
  for (const Part& p : parts_) {
    if (p.events > 1 || !p.phases.empty()) return none;
  }
  std::size_t split = 0, rows = 0;
  while (split + 1 < parts_.size() && 2 * rows < measurements_) {
    rows += parts_[split++].schedule.measurements();
  }
  return std::max<std::size_t>(split, 1);
}

void ExactModel::jacobian(const Evaluation& at, Table& J) {
  J.reshape(measurements_, parameters_);
  const std::size_t split = threaded_split();
  std::thread helper;
  if (split < parts_.size()) {
    if (helper_workspaces_.empty()) {
      helper_workspaces_ = workspaces_;
      helper_scratch_ = scratch_;
    }
    helper = std::thread([this, split, &at, &J] {
      for (std::size_t k = split; k < parts_.size(); ++k) {
        Part& p = parts_[k];
        jacobian_part(p, helper_workspaces_[p.workspace], helper_scratch_, at,
                      J);
      }
    });
  }
  for (std::size_t k = 0; k < std::min(split, parts_.size()); ++k) {
    Part& p = parts_[k];
    jacobian_part(p, workspaces_[p.workspace], scratch_, at, J);
  }
  if (helper.joinable()) helper.join();
}

void ExactModel::add_segment_gradient(Part& p, Workspace& ws, int e, int begin,
                                      int end, const Evaluation& at,
                                      std::span<const double> w,
                                      std::span<double> g) {
  const int m = p.system.size();
  const SampleSchedule& sch = p.schedule;
  const Eigen::Map<const Eigen::VectorXd> ze(
      at.cache.data() + p.cache_offset + e * m, m);
  ws.adjoint_sum.setZero();
  double rate = 0.0;  // sum of a·B·z(t) over the times
  for (int i = begin; i < end; ++i) {
    if (stop_requested()) return;
    const double* x = at.cache.data() + p.states_offset + i * n_;
    ws.weights.setZero();
    for (int q = sch.first(i); q < sch.end(i); ++q) {
      const int meas = sch.measurement(q), o = sch.observable(meas);
      const double wm = w[p.first_measurement + meas];
      ws.weights += wm * p.system.observable(o);
      observed_w_[o] += wm;
      for (int j = 0; j < n_; ++j) observed_x_[o * n_ + j] += wm * x[j];
    }
    const double s = p.offset_at(i);
    if (s == 0.0 || ws.weights.isZero(0.0)) {
      ws.adjoint_sum += ws.weights;
      ws.state = ze;
    } else {
      const int slot = adjoint_at(p, ws, e, s, ze, e > 0);
      if (slot >= 0) {
        add_directional(p, ws, slot, ze, g);
      } else {
        ws.accumulated += ws.frechet;
      }
      ws.adjoint_sum += ws.adjoint;
    }
    if (e > 0) {
      ws.slope.noalias() = p.system_at(e).matrix() * ws.state;
      rate += ws.weights.dot(ws.slope);
    }
  }
  add_sensitivity_product(p, ws, ws.adjoint_sum, g);
  if (e > 0) time_derivative(p, e, [&](int k, double d) { g[k] -= rate * d; });
}

void ExactModel::add_gradient(Part& p, const Evaluation& at,
                              std::span<const double> w, std::span<double> g) {
  Workspace& ws = workspaces_[p.workspace];
  if (!prepare(p, at.theta, true)) {
    std::fill(g.begin(), g.end(), kNaN);
    return;
  }
  const double* z = at.cache.data() + p.cache_offset;
  std::fill(observed_x_.begin(), observed_x_.end(), 0.0);
  std::fill(observed_w_.begin(), observed_w_.end(), 0.0);
  ws.accumulated.setZero();
  start_sensitivity(p, ws);
  for (int e = 0, begin = 0; e < p.used; ++e) {
    if (stop_requested()) return;
    if (e > 0) advance_sensitivity(p, ws, e, z);
    const int end = segment_end(p, e, begin);
    add_segment_gradient(p, ws, e, begin, end, at, w, g);
    begin = end;
    if (!p.phases.empty()) {
      // The B of each phase takes the sums of its own segments.
      p.system_at(e).add_matrix_derivative(ws.accumulated, g);
      ws.accumulated.setZero();
    }
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
  for (Part& p : parts_) add_gradient(p, at, w, g);
}

}  // namespace identify
