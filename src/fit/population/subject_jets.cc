// The closed-form solution of one subject's model on jets. With the dose
// events (a bolus adds amount a_d to x_{i_d} at t_d + lag; an infusion adds
// a_d/D_d to the input rate into x_{i_d} at t_d + lag and removes it at
// t_d + lag + D_d; all jets) sorted by value and the samples by time, the
// augmented state z = (x, u, 1) is carried forward event by event,
// z ← exp(Â·(t_next − t_now))·z with Â = [[A, E, b], [0, diag(rate), 0],
// [0, 0, 0]] (E the sources' unit columns, b the running rates), so that
// x' = A x + Σ_s amp_s e^{rate_s t} e_{i_s} + b exactly between events;
// each sample takes y = Σ c_i x_i + d at its time. Dose times, durations
// and the lag may depend on z: their derivatives enter through the
// interval τ = t − t_e of the exponential and through the rates.
#include "fit/population/subject_jets.h"

#include <algorithm>
#include <cmath>
#include <numeric>

#include "fit/population/jet_exponential.h"
#include "problem/expression_generic.h"

namespace identify {

bool SubjectJets::covers(const FitProblem& problem,
                         const std::vector<int>& fitted) {
  if (problem.population.effect_count() + static_cast<int>(fitted.size()) >
      kMaxJetVariables) {
    return false;
  }
  for (const Experiment& e : problem.experiments) {
    if (e.steady_start || e.pre_equilibration || !e.phases.empty()) {
      return false;
    }
    for (const Dose& d : e.doses) {
      if (d.steady_interval > 0.0) return false;
    }
  }
  return true;
}

SubjectJets::SubjectJets(const FitProblem& problem, int experiment,
                         const std::vector<int>& fitted)
    : problem_(&problem), experiment_(experiment), fitted_(fitted) {
  for (const RandomEffect& e : problem.population.effects) {
    slots_.push_back(e.parameter);
  }
  q_ = static_cast<int>(slots_.size());
  m_ = static_cast<int>(slots_.size() + fitted_.size());
  const std::vector<Measurement>& ms =
      problem.experiments[experiment].measurements.rows();
  order_.resize(ms.size());
  std::iota(order_.begin(), order_.end(), 0);
  std::stable_sort(order_.begin(), order_.end(),
                   [&](int a, int b) { return ms[a].time < ms[b].time; });
}

namespace {

// j with m variables, q of them in the Hessian, even where it is a plain
// number.
Jet widened(const Jet& j, int m, int q) {
  return j.size() == m ? j : Jet(j.v, m, q);
}
DualJet widened(const DualJet& j, int m, int q) {
  return {widened(j.v, m, q), widened(j.d, m, q)};
}

}  // namespace

template <class J>
J SubjectJets::value(const BoundExpression& b, const std::vector<J>& theta) {
  return widened(b.generic_value<J>(theta, scratch(J())), m_, q_);
}

template <class J>
J SubjectJets::value(const SharedExpression& s, const std::vector<J>& theta) {
  return s.bound() ? value(*s.bound(), theta) : J(s.constant_value(), m_, q_);
}

template <class J>
std::vector<J> SubjectJets::model_values(const std::vector<J>& theta) {
  const Experiment& ex = problem_->experiments[experiment_];
  const int n = problem_->state_count();
  const int ns = static_cast<int>(ex.sources.size());
  const bool infusions = std::any_of(ex.doses.begin(), ex.doses.end(),
                                     [](const Dose& d) { return d.infusion; });
  // The state (x, u_s, 1) with the inputs as augmented columns.
  const int size = ns > 0 || infusions ? n + ns + 1 : n;
  const J zero(0.0, m_, q_);
  JetMatrixOf<J> a{size, std::vector<J>(size * size, zero)};
  for (const MatrixTerm& t : ex.matrix) {
    a(t.row, t.col) = value(t.value, theta);
  }
  std::vector<J> x(size, zero);
  for (int i = 0; i < n; ++i) x[i] = value(ex.x0[i], theta);
  for (int s = 0; s < ns; ++s) {
    a(ex.sources[s].state, n + s) = J(1.0, m_, q_);
    a(n + s, n + s) = value(ex.sources[s].rate, theta);
    x[n + s] = value(ex.sources[s].amp, theta);
  }
  if (size > n) x[size - 1] = J(1.0, m_, q_);
  const std::vector<DoseEvent<J>> events = dose_events(theta);
  J now = zero;
  const auto advance = [&](const J& to) {
    const J tau = to - now;
    if (!jet_is_zero(tau)) {
      JetMatrixOf<J> step = a;
      for (J& e : step.a) e = e * tau;
      x = jet_product(jet_exponential(step), x);
    }
    now = to;
  };
  std::vector<J> y(ex.measurements.size());
  std::size_t next = 0;
  for (int j : order_) {
    const Measurement& m = ex.measurements[j];
    for (; next < events.size() && jet_value(events[next].time) <= m.time;
         ++next) {
      const DoseEvent<J>& e = events[next];
      advance(e.time);
      if (e.rate_change) {
        a(e.state, size - 1) += e.amount;
      } else {
        x[e.state] += e.amount;
      }
    }
    advance(J(m.time, m_, q_));
    const ObservableTerms& o = ex.observables[m.observable];
    J v = value(o.offset, theta);
    for (const auto& [state, c] : o.coefficients) {
      v += value(c, theta) * x[state];
    }
    y[j] = v;
  }
  return y;
}

template <class J>
std::vector<SubjectJets::DoseEvent<J>> SubjectJets::dose_events(
    const std::vector<J>& theta) {
  const Experiment& ex = problem_->experiments[experiment_];
  const J lag = value(ex.lag, theta);
  std::vector<DoseEvent<J>> events;
  for (const Dose& d : ex.doses) {
    const J start = value(d.time, theta) + lag;
    const J amount = value(d.amount, theta);
    if (!d.infusion) {
      events.push_back({start, d.state, amount, false});
      continue;
    }
    const J duration = value(d.duration, theta);
    const J rate = amount / duration;
    events.push_back({start, d.state, rate, true});
    events.push_back({start + duration, d.state, -rate, true});
  }
  std::stable_sort(events.begin(), events.end(),
                   [](const DoseEvent<J>& p, const DoseEvent<J>& q) {
                     return jet_value(p.time) < jet_value(q.time);
                   });
  return events;
}

bool SubjectJets::residuals(std::span<const double> theta,
                            const Eigen::VectorXd& eta, std::vector<Jet>& e,
                            std::vector<Jet>& sigma) {
  const int p = problem_->parameter_count();
  std::vector<Jet> z(p + 1);
  for (int k = 0; k < p; ++k) z[k] = Jet(theta[k], m_, q_);
  for (std::size_t s = 0; s < slots_.size(); ++s) {
    z[slots_[s]] = Jet::variable(eta[s], static_cast<int>(s), m_, q_);
  }
  for (std::size_t f = 0; f < fitted_.size(); ++f) {
    z[fitted_[f]] = Jet::variable(theta[fitted_[f]],
                                  static_cast<int>(slots_.size() + f), m_, q_);
  }
  return residuals_at(z, e, sigma);
}

bool SubjectJets::residuals(std::span<const double> theta,
                            const Eigen::VectorXd& eta,
                            const Eigen::VectorXd& theta_tangent,
                            const Eigen::VectorXd& eta_tangent,
                            std::vector<DualJet>& e,
                            std::vector<DualJet>& sigma) {
  const int p = problem_->parameter_count();
  std::vector<DualJet> z(p + 1);
  for (int k = 0; k < p; ++k) z[k] = DualJet(theta[k], m_, q_);
  // A variable moves along the direction by its tangent; its derivatives
  // with respect to z stay those of a variable.
  for (std::size_t s = 0; s < slots_.size(); ++s) {
    z[slots_[s]] = {Jet::variable(eta[s], static_cast<int>(s), m_, q_),
                    Jet(eta_tangent[s], m_, q_)};
  }
  for (std::size_t f = 0; f < fitted_.size(); ++f) {
    const int k = static_cast<int>(slots_.size() + f);
    z[fitted_[f]] = {Jet::variable(theta[fitted_[f]], k, m_, q_),
                     Jet(theta_tangent[f], m_, q_)};
  }
  return residuals_at(z, e, sigma);
}

template <class J>
bool SubjectJets::residuals_at(std::vector<J>& z, std::vector<J>& e,
                               std::vector<J>& sigma) {
  const int p = problem_->parameter_count();
  const std::vector<J> y = model_values(z);
  const Experiment& ex = problem_->experiments[experiment_];
  e.resize(y.size());
  sigma.resize(y.size());
  bool ok = true;
  for (std::size_t j = 0; j < y.size(); ++j) {
    const Measurement& m = ex.measurements[j];
    const Scale h = problem_->noise_of(m.observable).transformation;
    const J hv(transformed(h, m.value), m_, q_);
    switch (h) {
      case Scale::kLin:
        e[j] = y[j] - hv;
        break;
      case Scale::kLog:
        e[j] = log(y[j]) - hv;
        break;
      case Scale::kLog10:
        e[j] = (1.0 / std::log(10.0)) * log(y[j]) - hv;
        break;
    }
    z[p] = y[j];
    sigma[j] = value(m.sigma, z);
    ok = ok && e[j].is_finite() && jet_value(sigma[j]) > 0.0 &&
         sigma[j].is_finite();
  }
  return ok;
}

}  // namespace identify
