// Closed-form model on θ, values: in each experiment z' = B z between
// events, z(τ + s) = exp(s·B)·z(τ), and the events of the doses change z.
// A pass first plans: the interval h_e from each event to the next (the
// first dose event's time, then differences of base times, so that doses
// given the same interval apart give the same double), and for each
// measurement time t the last event e at or before it with the offset
// s = (t − base_e) − lag. Times within 4 ulps of each other are the same
// time: a time written as the dose time plus the lag (0.3 for a dose at
// 0.2 with lag 0.1, whose sum rounds to 0.30000000000000004) is at the
// dose, with s = 0. Whether t is reached only grows with t and shrinks
// with e, so one merge of the sorted times with the sorted events assigns
// them all. Then z(τ_e) follows event by event, and each measured x(t)
// from its event, with one exponential per distinct step length where the
// interval cache keeps it. At s = 0 exp(0) = I, so x = z(τ_e) exactly and
// nothing is exponentiated.
#include "model/exact/exact_model.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace identify {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// Times this close, relative to their size, are the same time: 4 ulps.
constexpr double kCoincidence = 4.0 * std::numeric_limits<double>::epsilon();

int step_count(const Experiment& ex, const SampleSchedule& schedule) {
  if (ex.doses.empty() || !ex.phases.empty()) return 0;
  int events = 0;
  for (const Dose& d : ex.doses) {
    events +=
        (d.infusion ? 2 : 1) + (d.infusion && d.steady_interval > 0.0 ? 1 : 0);
  }
  return events + static_cast<int>(schedule.times.size());
}

}  // namespace

ExactModel::Workspace::Workspace(int m)
    : m(m),
      expm(m),
      scaled(m, m),
      propagator(m, m),
      weight(m, m),
      frechet(m, m),
      accumulated(m, m),
      work(m, m),
      sensitivity(m, 0),
      next(m, 0),
      weights(m),
      adjoint(m),
      adjoint_sum(m),
      state(m),
      slope(m),
      spectral(m),
      exponentials(m) {}

ExactModel::Part::Part(const FitProblem& problem, int experiment)
    : system(problem, experiment),
      schedule(problem.experiments[experiment]),
      doses(problem.experiments[experiment], system),
      intervals(system.size(),
                static_cast<int>(system.matrix_parameters().size()),
                step_count(problem.experiments[experiment], schedule)),
      events(1 + doses.event_count()),
      interval(events, 0.0),
      phase_of(events, 0) {
  if (events > 1) {
    segment.assign(schedule.times.size(), 0);
    offset.assign(schedule.times.size(), 0.0);
  }
  const Experiment& ex = problem.experiments[experiment];
  for (std::size_t k = 1; k <= ex.phases.size(); ++k) {
    phases.emplace_back(problem, experiment, static_cast<int>(k));
  }
  sensitive = system.initial_parameters();
  for (const AugmentedSystem& b : phases) {
    sensitive.insert(sensitive.end(), b.matrix_parameters().begin(),
                     b.matrix_parameters().end());
  }
  if (events > 1) {
    for (const std::vector<int>* more :
         {&system.matrix_parameters(), &doses.parameters()}) {
      sensitive.insert(sensitive.end(), more->begin(), more->end());
    }
    std::sort(sensitive.begin(), sensitive.end());
    sensitive.erase(std::unique(sensitive.begin(), sensitive.end()),
                    sensitive.end());
  }
  column.assign(problem.parameter_count(), -1);
  for (std::size_t c = 0; c < sensitive.size(); ++c) {
    column[sensitive[c]] = static_cast<int>(c);
  }
}

ExactModel::ExactModel(const FitProblem& problem)
    : n_(problem.state_count()),
      parameters_(problem.parameter_count()),
      steady_(problem.state_count()),
      steady_matrix_(n_, n_),
      steady_x_(n_),
      steady_dx_(n_),
      d_amount_(parameters_, 0.0),
      d_duration_(parameters_, 0.0) {
  const std::vector<double> theta = problem.values();
  for (int e = 0; e < static_cast<int>(problem.experiments.size()); ++e) {
    Part p(problem, e);
    const int m = p.system.size();
    auto same = std::find_if(workspaces_.begin(), workspaces_.end(),
                             [m](const Workspace& w) { return w.m == m; });
    p.workspace = static_cast<int>(same - workspaces_.begin());
    if (same == workspaces_.end()) workspaces_.emplace_back(m);
    Workspace& ws = workspaces_[p.workspace];
    const auto columns = static_cast<Eigen::Index>(p.sensitive.size());
    if (ws.sensitivity.cols() < columns) {
      ws.sensitivity.resize(m, columns);
      ws.next.resize(m, columns);
    }
    p.first_measurement = measurements_;
    measurements_ += problem.experiments[e].measurements.size();
    p.cache_offset = cache_size_;
    p.states_offset = cache_size_ + static_cast<std::size_t>(p.events) * m;
    cache_size_ = p.states_offset + p.schedule.times.size() * n_;
    // Both passes once, so that the expressions' scratch has its final size.
    p.system.load(theta, scratch_);
    p.system.load_with_gradients(theta, scratch_);
    p.doses.load(theta, scratch_);
    p.doses.load_with_gradients(theta, scratch_);
    for (AugmentedSystem& b : p.phases) {
      b.load(theta, scratch_);
      b.load_with_gradients(theta, scratch_);
    }
    parts_.push_back(std::move(p));
  }
  row_.assign(parameters_, 0.0);
  const std::size_t k = problem.observables.size();
  observed_x_.resize(k * n_);
  observed_w_.resize(k);
}

int ExactModel::plan(Part& p, std::span<const double> times,
                     std::span<int> segment, std::span<double> offset) {
  const DoseSchedule& d = p.doses;
  const double lag = d.lag();
  for (int e = 1; e < p.events; ++e) {
    const double base = d.event(e - 1).base;
    p.interval[e] = e == 1 ? base + lag : base - d.event(e - 2).base;
    const int phase = d.event(e - 1).phase;
    p.phase_of[e] = phase > 0 ? phase : p.phase_of[e - 1];
  }
  // t − τ_e, or -inf when t lies before τ_e, or 0 when within 4 ulps.
  const auto after = [&](double t, int e) {
    const double base = d.event(e - 1).base, time = base + lag;
    const double near = kCoincidence * std::max(std::abs(t), std::abs(time));
    if (t - time < -near) return -std::numeric_limits<double>::infinity();
    return t - time <= near ? 0.0 : std::max(0.0, (t - base) - lag);
  };
  int e = 0;
  for (std::size_t i = 0; i < times.size(); ++i) {
    const double t = times[i];
    double s = e == 0 ? t : after(t, e);
    for (double next; e + 1 < p.events && (next = after(t, e + 1)) >= 0.0;) {
      s = next;
      ++e;
    }
    segment[i] = e;
    offset[i] = s;
  }
  return times.empty() ? 1 : segment[times.size() - 1] + 1;
}

bool ExactModel::prepare(Part& p, std::span<const double> theta,
                         bool with_gradients, std::vector<double>& scratch) {
  if (with_gradients) {
    p.system.load_with_gradients(theta, scratch);
    for (AugmentedSystem& b : p.phases) b.load_with_gradients(theta, scratch);
    if (!p.doses.load_with_gradients(theta, scratch)) return false;
  } else {
    p.system.load(theta, scratch);
    for (AugmentedSystem& b : p.phases) b.load(theta, scratch);
    if (!p.doses.load(theta, scratch)) return false;
  }
  p.used = p.events > 1 ? plan(p, p.schedule.times, p.segment, p.offset) : 1;
  p.intervals.clear();
  if (p.events > 1 && p.phases.empty()) {
    const SampleSchedule& sch = p.schedule;
    for (int e = 1; e < p.used; ++e) {
      if (p.interval[e] > 0.0) {
        p.intervals.add(p.interval[e], p.system.moving_size());
      }
    }
    for (std::size_t i = 0; i < sch.times.size(); ++i) {
      if (p.offset_at(i) > 0.0) {
        p.intervals.add(p.offset_at(i), sch.observed_count(i));
      }
    }
  }
  p.intervals.finish();
  return true;
}

void ExactModel::event_states(Part& p, Workspace& ws, int used, double* z) {
  const int m = p.system.size();
  Eigen::Map<Eigen::VectorXd>(z, m) = p.system.initial_state();
  for (int e = 1; e < used; ++e) {
    const Eigen::Map<const Eigen::VectorXd> before(z + (e - 1) * m, m);
    Eigen::Map<Eigen::VectorXd> after(z + e * m, m);
    const double h = p.interval[e];
    const int slot = h == 0.0 ? -1 : p.intervals.find(h);
    if (h == 0.0) {
      after = before;
    } else if (slot >= 0) {
      after.noalias() =
          p.intervals.propagator(slot, p.system, ws.expm) * before;
    } else {
      ws.scaled = h * p.system_at(e - 1).matrix();
      ws.expm.compute(ws.scaled, ws.propagator);
      after.noalias() = ws.propagator * before;
    }
    const DoseSchedule::Event& event = p.doses.event(e - 1);
    if (event.phase > 0) continue;
    if (event.steady) {
      apply_steady(p, e, after);
      continue;
    }
    after[event.target] =
        event.closes ? 0.0 : after[event.target] + event.magnitude;
  }
}

void ExactModel::apply_steady(const Part& p, int e,
                              Eigen::Map<Eigen::VectorXd> z) {
  steady_matrix_ = p.system_at(e).matrix().topLeftCorner(n_, n_);
  if (!steady_.compute(steady_matrix_, p.doses.periodic_dose(e - 1),
                       steady_x_)) {
    steady_x_.setConstant(kNaN);
  }
  if (p.doses.steady_added(e - 1)) {
    z.head(n_) += steady_x_;
  } else {
    z.head(n_) = steady_x_;
  }
}

void ExactModel::state_at(Part& p, Workspace& ws, int e, double s,
                          Eigen::Map<const Eigen::VectorXd> z, double* x) {
  Eigen::Map<Eigen::VectorXd> out(x, n_);
  if (s == 0.0) {
    out = z.head(n_);
    return;
  }
  const int slot = p.intervals.find(s);
  if (slot >= 0) {
    out.noalias() =
        p.intervals.propagator(slot, p.system, ws.expm).topRows(n_) * z;
    return;
  }
  out.noalias() =
      ws.exponentials.exponential(p.system_at(e).matrix(), s, ws.expm)
          .topRows(n_) *
      z;
}

void ExactModel::evaluate(std::span<const double> theta, Evaluation& out) {
  out.theta.assign(theta.begin(), theta.end());
  out.y.resize(measurements_);
  out.cache.resize(cache_size_);
  for (Part& p : parts_) {
    Workspace& ws = workspaces_[p.workspace];
    const int m = p.system.size();
    const SampleSchedule& sch = p.schedule;
    double* z = out.cache.data() + p.cache_offset;
    double* y = out.y.data() + p.first_measurement;
    if (!prepare(p, theta, false)) {
      std::fill(z, z + p.events * m + sch.times.size() * n_, kNaN);
      std::fill(y, y + sch.measurements(), kNaN);
      continue;
    }
    event_states(p, ws, p.used, z);
    for (std::size_t i = 0; i < sch.times.size(); ++i) {
      if (stop_requested()) return;
      double* x = out.cache.data() + p.states_offset + i * n_;
      const Eigen::Map<const Eigen::VectorXd> ze(z + p.segment_at(i) * m, m);
      state_at(p, ws, p.segment_at(i), p.offset_at(i), ze, x);
      const Eigen::Map<const Eigen::VectorXd> xi(x, n_);
      for (int q = sch.first(i); q < sch.end(i); ++q) {
        const int meas = sch.measurement(q), o = sch.observable(meas);
        y[meas] = p.system.observable(o).head(n_).dot(xi) + p.system.offset(o);
      }
    }
  }
}

void ExactModel::states(std::span<const double> theta, int experiment,
                        std::span<const double> times, Table& X) {
  Part& p = parts_[experiment];
  Workspace& ws = workspaces_[p.workspace];
  const int m = p.system.size();
  X.reshape(n_, times.size());
  p.system.load(theta, scratch_);
  for (AugmentedSystem& b : p.phases) b.load(theta, scratch_);
  if (!p.doses.load(theta, scratch_)) {
    X.fill(kNaN);
    return;
  }
  std::vector<int> segment(times.size());
  std::vector<double> offset(times.size());
  const int used = plan(p, times, segment, offset);
  p.intervals.clear();
  p.intervals.finish();
  std::vector<double> z(static_cast<std::size_t>(used) * m), x(n_);
  event_states(p, ws, used, z.data());
  for (std::size_t q = 0; q < times.size(); ++q) {
    const Eigen::Map<const Eigen::VectorXd> ze(z.data() + segment[q] * m, m);
    state_at(p, ws, segment[q], offset[q], ze, x.data());
    for (int i = 0; i < n_; ++i) X[i][q] = x[i];
  }
}

}  // namespace identify
