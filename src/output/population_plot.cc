// The QQ plot puts the k-th smallest of n standardised EBEs against the
// normal quantile Φ⁻¹((k − ½)/n), Φ⁻¹ by bisection on
// Φ(x) = ½·erfc(−x/√2) to the resolution of a double. The individual lines
// are the model at (θ̂, η̂_i) and (θ̂, 0) at 200 times over [0, T_i], T_i the
// subject's latest measurement (or the problem's end time).
#include "output/population_plot.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <string>
#include <utility>

#include "fit/population/predictions.h"
#include "fit/population/subject_mode.h"

namespace identify {

namespace {

constexpr int kGridPoints = 200;

// A series with its title, axis labels and no points yet.
struct Scatter {
  PlotData::Series series;
  PlotData::SeriesExtra extra;
  Scatter(std::string title, std::string x_label, std::string y_label) {
    series.title = std::move(title);
    series.y_label = std::move(y_label);
    extra.x_label = std::move(x_label);
  }
};

void add(PlotData& d, const Scatter& s) {
  d.series.push_back(s.series);
  d.series_extra.push_back(s.extra);
}

// The identity line over the range of both coordinates of the points.
void identity_line(PlotData::Series& s) {
  double lo = INFINITY, hi = -INFINITY;
  for (const std::vector<double>* v : {&s.sample_time, &s.sample_value}) {
    for (double x : *v) {
      if (!std::isfinite(x)) continue;
      lo = std::min(lo, x);
      hi = std::max(hi, x);
    }
  }
  if (lo > hi) return;
  s.line_time = {lo, hi};
  s.line_value = {lo, hi};
}

// A horizontal line at 0 over the points' x range.
void zero_line(PlotData::Series& s) {
  if (s.sample_time.empty()) return;
  const auto [lo, hi] =
      std::minmax_element(s.sample_time.begin(), s.sample_time.end());
  s.line_time = {*lo, *hi};
  s.line_value = {0.0, 0.0};
}

// The model values of subject i's observable o at `times`, at θ̂ with η.
std::vector<double> model_line(const FitProblem& problem, int i, int o,
                               const std::vector<double>& times,
                               const PopulationFit& fit,
                               const Eigen::VectorXd& eta) {
  FitProblem one = problem;
  Experiment e = problem.experiments[i];
  e.measurements.clear();
  for (double t : times) {
    Measurement m;
    m.observable = o;
    m.time = t;
    m.value = 1.0;
    e.measurements.push_back(m);
  }
  one.experiments = {e};
  SubjectProblem subject(one, 0);
  SubjectResiduals r;
  subject.residuals(fit.theta, eta, r);
  return std::vector<double>(r.y.data(), r.y.data() + r.y.size());
}

void goodness_of_fit(const FitProblem& problem, const PopulationFit& fit,
                     PlotData& d) {
  Scatter pred_s("measured against PRED", "PRED", "measured"),
      ipred_s("measured against IPRED", "IPRED", "measured"),
      cwres_t_s("CWRES against time", "", "CWRES"),
      cwres_p_s("CWRES against PRED", "PRED", "CWRES");
  PlotData::Series &pred = pred_s.series, &ipred = ipred_s.series,
                   &cwres_t = cwres_t_s.series, &cwres_p = cwres_p_s.series;
  for (std::size_t i = 0; i < problem.experiments.size(); ++i) {
    const SubjectPredictions p =
        subject_predictions(problem, fit, static_cast<int>(i));
    const std::vector<Measurement>& ms = problem.experiments[i].measurements.rows();
    for (std::size_t j = 0; j < ms.size(); ++j) {
      pred.sample_time.push_back(p.pred[j]);
      pred.sample_value.push_back(ms[j].value);
      ipred.sample_time.push_back(p.ipred[j]);
      ipred.sample_value.push_back(ms[j].value);
      cwres_t.sample_time.push_back(ms[j].time);
      cwres_t.sample_value.push_back(p.cwres[j]);
      cwres_p.sample_time.push_back(p.pred[j]);
      cwres_p.sample_value.push_back(p.cwres[j]);
    }
  }
  identity_line(pred);
  identity_line(ipred);
  zero_line(cwres_t);
  zero_line(cwres_p);
  for (const Scatter* s : {&pred_s, &ipred_s, &cwres_t_s, &cwres_p_s}) {
    add(d, *s);
  }
}

void qq_plots(const FitProblem& problem, const PopulationFit& fit,
              PlotData& d) {
  const Population& pop = problem.population;
  for (int k = 0; k < pop.effect_count(); ++k) {
    std::vector<double> z;
    for (std::size_t i = 0; i < problem.experiments.size(); ++i) {
      if (problem.experiments[i].measurements.empty()) continue;
      z.push_back(fit.modes[i].eta[k] / std::sqrt(fit.omega(k, k)));
    }
    std::sort(z.begin(), z.end());
    Scatter qq("QQ plot of " + pop.effects[k].name, "normal quantile",
               pop.effects[k].name + " / omega");
    PlotData::Series& s = qq.series;
    for (std::size_t j = 0; j < z.size(); ++j) {
      s.sample_time.push_back(normal_quantile((static_cast<double>(j) + 0.5) /
                                              static_cast<double>(z.size())));
      s.sample_value.push_back(z[j]);
    }
    identity_line(s);
    add(d, qq);
  }
}

void individual_fits(const FitProblem& problem, const PopulationFit& fit,
                     PlotData& d) {
  const Eigen::VectorXd zero =
      Eigen::VectorXd::Zero(problem.population.effect_count());
  for (std::size_t i = 0; i < problem.experiments.size(); ++i) {
    const Experiment& e = problem.experiments[i];
    for (std::size_t o = 0; o < problem.observables.size(); ++o) {
      Scatter fit_s(problem.observables[o] + ", " + e.id, "",
                    problem.observables[o]);
      PlotData::Series& s = fit_s.series;
      double end = 0.0;
      for (const Measurement& m : e.measurements) {
        if (m.observable != static_cast<int>(o)) continue;
        s.sample_time.push_back(m.time);
        s.sample_value.push_back(m.value);
        end = std::max(end, m.time);
      }
      if (s.sample_time.empty()) continue;
      if (end == 0.0) end = problem.end_time() > 0.0 ? problem.end_time() : 1.0;
      std::vector<double> times;
      for (int k = 0; k < kGridPoints; ++k) {
        times.push_back(end * k / (kGridPoints - 1));
      }
      const int subject = static_cast<int>(i), obs = static_cast<int>(o);
      s.line_time = fit_s.extra.dashed_time = times;
      s.line_value =
          model_line(problem, subject, obs, times, fit, fit.modes[i].eta);
      fit_s.extra.dashed_value =
          model_line(problem, subject, obs, times, fit, zero);
      add(d, fit_s);
    }
  }
}

}  // namespace

double normal_quantile(double p) {
  double lo = -40.0, hi = 40.0;
  for (int k = 0; k < 200 && lo < hi; ++k) {
    const double mid = 0.5 * (lo + hi);
    if (mid == lo || mid == hi) break;
    (0.5 * std::erfc(-mid / std::numbers::sqrt2) < p ? lo : hi) = mid;
  }
  return 0.5 * (lo + hi);
}

PlotData population_plot_data(const FitProblem& problem,
                              const PopulationFit& fit) {
  PlotData d;
  d.no_norm = true;
  goodness_of_fit(problem, fit, d);
  qq_plots(problem, fit, d);
  individual_fits(problem, fit, d);
  return d;
}

}  // namespace identify
