// The closed-form solution of one subject's model on jets. With the bolus
// doses (amount a_d into state i_d at t_d + lag, all jets) sorted by value
// and the samples by time, the state is carried forward event by event,
// x ← exp(A·(t_next − t_now))·x, and a dose adds a_d to x_{i_d}; each sample
// takes y = Σ c_i x_i + d at its time. Dose times and the lag may depend on
// z: their derivatives enter through the interval τ = t − t_e of the
// exponential.
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
    if (!e.sources.empty() || e.steady_start || e.pre_equilibration) {
      return false;
    }
    for (const Dose& d : e.doses) {
      if (d.infusion) return false;
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

Jet SubjectJets::value(const BoundExpression& b,
                       const std::vector<Jet>& theta) {
  Jet v = generic_value<Jet>(b, theta, scratch_);
  return v.size() == m_ ? v : Jet(v.v, m_, q_);
}

Jet SubjectJets::value(const SharedExpression& s,
                       const std::vector<Jet>& theta) {
  return s.bound() ? value(*s.bound(), theta) : Jet(s.constant_value(), m_, q_);
}

std::vector<Jet> SubjectJets::model_values(const std::vector<Jet>& theta) {
  const Experiment& ex = problem_->experiments[experiment_];
  const int n = problem_->state_count();
  JetMatrix a{n, std::vector<Jet>(n * n, Jet(0.0, m_, q_))};
  for (const MatrixTerm& t : ex.matrix) {
    a(t.row, t.col) = value(t.value, theta);
  }
  std::vector<Jet> x(n);
  for (int i = 0; i < n; ++i) x[i] = value(ex.x0[i], theta);
  const Jet lag = value(ex.lag, theta);
  std::vector<std::pair<Jet, int>> doses;
  for (std::size_t d = 0; d < ex.doses.size(); ++d) {
    doses.emplace_back(value(ex.doses[d].time, theta) + lag,
                       static_cast<int>(d));
  }
  std::stable_sort(
      doses.begin(), doses.end(),
      [](const auto& p, const auto& q) { return p.first.v < q.first.v; });
  Jet now(0.0, m_, q_);
  const auto advance = [&](const Jet& to) {
    const Jet tau = to - now;
    if (tau.v != 0.0 || !tau.g.isZero()) {
      JetMatrix step = a;
      for (Jet& e : step.a) e = e * tau;
      x = jet_product(jet_exponential(step), x);
    }
    now = to;
  };
  std::vector<Jet> y(ex.measurements.size());
  std::size_t next = 0;
  for (int j : order_) {
    const Measurement& m = ex.measurements[j];
    for (; next < doses.size() && doses[next].first.v <= m.time; ++next) {
      advance(doses[next].first);
      const Dose& d = ex.doses[doses[next].second];
      x[d.state] += value(d.amount, theta);
    }
    advance(Jet(m.time, m_, q_));
    const ObservableTerms& o = ex.observables[m.observable];
    Jet v = value(o.offset, theta);
    for (const auto& [state, c] : o.coefficients) {
      v += value(c, theta) * x[state];
    }
    y[j] = v;
  }
  return y;
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
  const std::vector<Jet> y = model_values(z);
  const Experiment& ex = problem_->experiments[experiment_];
  e.resize(y.size());
  sigma.resize(y.size());
  bool ok = true;
  for (std::size_t j = 0; j < y.size(); ++j) {
    const Measurement& m = ex.measurements[j];
    const Scale h = problem_->noise_of(m.observable).transformation;
    const double hv = transformed(h, m.value);
    switch (h) {
      case Scale::kLin:
        e[j] = y[j] - Jet(hv, m_, q_);
        break;
      case Scale::kLog:
        e[j] = log(y[j]) - Jet(hv, m_, q_);
        break;
      case Scale::kLog10:
        e[j] = (1.0 / std::log(10.0)) * log(y[j]) - Jet(hv, m_, q_);
        break;
    }
    z[p] = y[j];
    sigma[j] = value(m.sigma, z);
    ok = ok && std::isfinite(e[j].v) && e[j].g.allFinite() &&
         e[j].h.allFinite() && sigma[j].v > 0.0 && sigma[j].g.allFinite() &&
         sigma[j].h.allFinite();
  }
  return ok;
}

}  // namespace identify
