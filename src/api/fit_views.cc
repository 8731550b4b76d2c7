// The model views of a result. A trajectory holds x(t) of the result θ at
// its times and each observable y_o(t) = offset_o(θ) + Σ_s c_os(θ) x_s(t);
// the fine grid is t_k = k·T/1000 (k = 0..1000, the last exactly T). The
// plot's norm trace of several fits is one line per fit, a NaN between.
#include "api/fit_views.h"

#include <algorithm>
#include <limits>

#include "api/search_outputs.h"
#include "fit/objective.h"

namespace identify {

namespace {

// Points of the fine grid of a trajectory, ends included.
constexpr int kTrajectoryPoints = 1001;

// The model of one experiment of a fit on the fine grid.
ExperimentTrajectory trajectory_of(ProblemFit& fit, int experiment) {
  const Experiment& e = fit.problem.experiments[experiment];
  double end = 0.0;
  for (const Measurement& m : e.measurements) end = std::max(end, m.time);
  if (end == 0.0) end = std::max(fit.problem.end_time(), 1.0);
  ExperimentTrajectory t;
  t.id = e.id;
  for (int k = 0; k < kTrajectoryPoints; ++k) {
    t.times.push_back(
        k == kTrajectoryPoints - 1 ? end : end * k / (kTrajectoryPoints - 1));
  }
  const std::vector<double>& theta = fit.summary.theta;
  fit.model->states(theta, experiment, t.times, t.states);
  t.observables = Table(e.observables.size(), t.times.size());
  std::vector<double> scratch;
  for (std::size_t o = 0; o < e.observables.size(); ++o) {
    const ObservableTerms& terms = e.observables[o];
    const double offset = terms.offset.value(theta, scratch);
    for (std::size_t q = 0; q < t.times.size(); ++q) {
      t.observables[o][q] = offset;
    }
    for (const auto& [state, c] : terms.coefficients) {
      const double coefficient = c.value(theta, scratch);
      for (std::size_t q = 0; q < t.times.size(); ++q) {
        t.observables[o][q] += coefficient * t.states[state][q];
      }
    }
  }
  return t;
}

// The series of the observables of experiment `e` along its curve `t`.
void add_series(const FitProblem& problem, const Experiment& e,
                const ExperimentTrajectory& t, PlotData& data) {
  for (std::size_t o = 0; o < problem.observables.size(); ++o) {
    PlotData::Series s;
    s.title = problem.observables[o] + ", " + e.id;
    s.y_label = problem.observables[o];
    s.line_time = t.times;
    s.line_value.assign(t.observables[o], t.observables[o] + t.times.size());
    for (const Measurement& ms : e.measurements) {
      if (ms.observable != static_cast<int>(o)) continue;
      s.sample_time.push_back(ms.time);
      s.sample_value.push_back(ms.value);
    }
    if (!s.sample_time.empty()) data.series.push_back(std::move(s));
  }
}

// The norm trace of fit `f`, after those of the fits before it.
void add_trace(const ProblemFit& fit, std::size_t f, PlotData& data) {
  std::vector<std::int64_t> iterations;
  std::vector<double> norms;
  fit.trace.points(iterations, norms);
  if (f > 0 && !norms.empty()) {
    data.iterations.push_back(0);
    data.norms.push_back(std::numeric_limits<double>::quiet_NaN());
  }
  data.iterations.insert(data.iterations.end(), iterations.begin(),
                         iterations.end());
  data.norms.insert(data.norms.end(), norms.begin(), norms.end());
}

}  // namespace

PlotData single_fit_plot(const ProblemFit& fit, std::vector<double> times,
                         Table states) {
  PlotData data;
  data.times = std::move(times);
  data.trajectory = std::move(states);
  const Experiment& e = fit.problem.experiments[0];
  for (std::size_t o = 0; o < e.observables.size(); ++o) {
    const ObservableTerms& terms = e.observables[o];
    if (terms.coefficients.size() != 1) continue;
    PlotData::Panel panel;
    panel.component = terms.coefficients[0].first;
    for (const Measurement& m : e.measurements) {
      if (m.observable != static_cast<int>(o) || !m.counted) continue;
      panel.sample_time.push_back(m.time);
      panel.sample_value.push_back(m.value);
    }
    data.panels.push_back(std::move(panel));
  }
  fit.trace.points(data.iterations, data.norms);
  add_search_panels(fit.search, fit.experiment, data);
  return data;
}

std::vector<ExperimentTrajectory> fine_trajectories(
    std::vector<ProblemFit>& fits) {
  std::vector<ExperimentTrajectory> all;
  for (ProblemFit& fit : fits) {
    for (std::size_t e = 0; e < fit.problem.experiments.size(); ++e) {
      all.push_back(trajectory_of(fit, static_cast<int>(e)));
    }
  }
  return all;
}

PlotData problem_plot(bool log_y, const std::vector<ProblemFit>& fits,
                      const ResultViews& results,
                      const std::vector<ExperimentTrajectory>& curves) {
  PlotData data;
  data.log_y = log_y;
  data.residuals = true;
  data.likelihood = !fits.empty() && objective_is_likelihood(fits[0].problem);
  std::size_t curve = 0;
  for (std::size_t f = 0; f < fits.size(); ++f) {
    const FitProblem& problem = fits[f].problem;
    const FitResultView& view = results.views[f];
    std::size_t m = 0;
    for (const Experiment& e : problem.experiments) {
      add_series(problem, e, curves[curve++], data);
      for (const Measurement& ms : e.measurements) {
        data.residual_time.push_back(ms.time);
        data.residual_value.push_back(view.weighted[m++]);
      }
    }
    add_trace(fits[f], f, data);
  }
  for (const ProblemFit& fit : fits) {
    add_search_panels(fit.search, fit.experiment, data);
  }
  return data;
}

}  // namespace identify
