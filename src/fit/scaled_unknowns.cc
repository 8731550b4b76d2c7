// Scaled unknowns for the library methods. The libraries see y_j = x_j/s_j
// with s_j = ‖r(x0)‖ / c_j, c_j = ‖∂r/∂x_j(x0)‖ from the Objective's
// Jacobian at the start x0, so that every scaled column starts with the
// norm of the starting residual whatever the size of the parameter. A
// column that vanishes at the start (an entry A[i][j] that acts only
// through other entries there, or whose x_j starts at 0) takes instead
// m_j·‖t‖: the first-order column t·x_j(t) of A[i][j] at A = 0 with x_j at
// its typical size m_j. Norms of very large or very small numbers (times
// near 1e308, or 1e-320) are taken as m·sqrt(sum (v/m)²), m = max |v|, so
// they neither overflow nor underflow; a scale that would still not be a
// finite nonzero number, or that would make the scaled start or a bound
// infinite, is 1. Every point x = s·y is clamped into [l, h], so a bound
// reached in y is exactly the bound in x.
#include "fit/scaled_unknowns.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "core/index_list.h"

namespace identify {

double robust_norm(const double* v, std::size_t count, std::size_t stride) {
  double s = 0.0;
  for (std::size_t k = 0; k < count; ++k) {
    const double x = v[k * stride];
    s = x * x + s;
  }
  // A normal sum lost nothing that matters; 0, a subnormal, inf or NaN
  // may hide squares that overflowed or underflowed.
  if (std::isfinite(s) && s >= std::numeric_limits<double>::min()) {
    return std::sqrt(s);
  }
  double m = 0.0;
  for (std::size_t k = 0; k < count; ++k) {
    const double x = std::fabs(v[k * stride]);
    if (std::isnan(x)) return x;
    m = std::max(m, x);
  }
  if (m == 0.0 || std::isinf(m)) return m;
  double q = 0.0;
  for (std::size_t k = 0; k < count; ++k) {
    const double x = v[k * stride] / m;
    q = x * x + q;
  }
  return m * std::sqrt(q);
}

double usable_scale(double reference, double column, double value, double lower,
                    double upper) {
  const double s = reference / column;
  const auto finite = [](double x) { return std::isfinite(x); };
  if (!(s > 0.0) || !finite(s) || !finite(value / s)) return 1.0;
  if (finite(lower) && !finite(lower / s)) return 1.0;
  if (finite(upper) && !finite(upper / s)) return 1.0;
  return s;
}

ScaledUnknowns::ScaledUnknowns(Objective& objective, std::vector<double> start)
    : f_(objective), x_(std::move(start)), scale_(x_.size(), 1.0) {}

double ScaledUnknowns::evaluate_current() {
  const double s = f_.evaluate(x_);
  if (f_.stop_requested()) return std::numeric_limits<double>::quiet_NaN();
  return f_.progress_value(s);
}

double ScaledUnknowns::evaluate(const double* y) {
  for (int j = 0; j < size(); ++j) {
    const double lower = f_.lower(j), upper = f_.upper(j);
    const double s = scale_[j];
    double v = y[j] * s;
    if (y[j] <= lower / s) {
      v = lower;
    } else if (y[j] >= upper / s) {
      v = upper;
    } else {
      v = std::clamp(v, lower, upper);
    }
    x_[j] = v;
  }
  return evaluate_current();
}

void ScaledUnknowns::residuals(double* r) const {
  std::copy(f_.residuals().begin(), f_.residuals().end(), r);
  if (!f_.has_sigma_rows()) return;
  const std::size_t n = f_.residual_count();
  for (std::size_t m = 0; m < n; ++m) {
    const double c = m < sigma_offset_.size() ? sigma_offset_[m] : 0.0;
    r[n + m] = std::sqrt(2.0 * std::log(f_.sigmas()[m]) + c);
  }
}

void ScaledUnknowns::center_sigma_rows() {
  if (!f_.has_sigma_rows()) return;
  sigma_offset_.resize(f_.residual_count());
  for (std::size_t m = 0; m < sigma_offset_.size(); ++m) {
    sigma_offset_[m] = kSigmaRowStart - 2.0 * std::log(f_.sigmas()[m]);
  }
}

void ScaledUnknowns::jacobian(const std::vector<int>& columns, double* out) {
  const Table& J = f_.jacobian();
  const std::size_t m = columns.size();
  const std::size_t n = f_.residual_count();
  // Every column, in order: a row is J's row, scaled.
  const bool all = is_whole_set(columns, J.cols());
  for (std::size_t row = 0; row < J.rows(); ++row) {
    // An e row: ∂e/∂y = (∂ln σ/∂y)/e.
    double per_row = 1.0;
    if (row >= n) {
      const double c =
          row - n < sigma_offset_.size() ? sigma_offset_[row - n] : 0.0;
      per_row = 1.0 / std::sqrt(2.0 * std::log(f_.sigmas()[row - n]) + c);
    }
    if (row < n && all) {
      const double* from = J[row];
      double* to = out + row * m;
      for (std::size_t c = 0; c < m; ++c) to[c] = from[c] * scale_[c];
      continue;
    }
    for (std::size_t c = 0; c < m; ++c) {
      out[row * m + c] =
          row < n ? J[row][columns[c]] * scale_[columns[c]]
                  : J[row][columns[c]] * scale_[columns[c]] * per_row;
    }
  }
}

void ScaledUnknowns::gradient(double factor, double* out) {
  const std::vector<double>& g = f_.gradient();
  for (int j = 0; j < size(); ++j) out[j] = g[j] * scale_[j] * factor;
}

std::vector<double> ScaledUnknowns::scale_at_current(
    const std::vector<double>& stand_in) {
  double r0 = evaluate_current();
  const Table& J = f_.jacobian();
  if (!f_.is_sum_of_squares()) {
    // The norm of the standardised residuals: −2 ln L is no norm.
    r0 = robust_norm(f_.residuals().data(), f_.residual_count(), 1);
  }
  const double reference = r0 > 0.0 && std::isfinite(r0) ? r0 : 1.0;
  std::vector<double> y(x_.size());
  for (std::size_t j = 0; j < x_.size(); ++j) {
    double column = robust_norm(J.data() + j, f_.residual_count(), J.cols());
    if (!(column > 0.0) || !std::isfinite(column)) column = stand_in[j];
    const int k = static_cast<int>(j);
    const double lower = f_.lower(k), upper = f_.upper(k);
    scale_[j] = usable_scale(reference, column, x_[j], lower, upper);
    y[j] = std::clamp(x_[j] / scale_[j], lower / scale_[j], upper / scale_[j]);
  }
  return y;
}

namespace {

// m_j for every state: the largest of |x0_j| over the experiments and of
// the measured values of the observables that read x_j; 1 where all are 0.
std::vector<double> typical_sizes(const FitProblem& problem,
                                  const std::vector<double>& theta) {
  std::vector<double> typical(problem.state_count(), 0.0);
  std::vector<double> scratch;
  for (const Experiment& e : problem.experiments) {
    for (int j = 0; j < problem.state_count(); ++j) {
      typical[j] =
          std::max(typical[j], std::fabs(e.x0[j].value(theta, scratch)));
    }
    for (const Measurement& m : e.measurements) {
      for (const auto& [state, c] : e.observables[m.observable].coefficients) {
        typical[state] = std::max(typical[state], std::fabs(m.value));
      }
    }
  }
  for (double& m : typical) m = m > 0.0 ? m : 1.0;
  return typical;
}

}  // namespace

std::vector<double> stand_in_columns(const Objective& objective) {
  const FitProblem& problem = objective.problem();
  const std::vector<double> typical = typical_sizes(problem, problem.values());
  std::vector<double> times;
  for (const Experiment& e : problem.experiments) {
    for (const Measurement& m : e.measurements) times.push_back(m.time);
  }
  const double norm = robust_norm(times.data(), times.size(), 1);
  const double time_norm = norm > 0.0 ? norm : 1.0;
  std::vector<double> columns(objective.size(),
                              std::numeric_limits<double>::quiet_NaN());
  for (int j = 0; j < objective.size(); ++j) {
    const int k = objective.free()[j];
    for (const Experiment& e : problem.experiments) {
      const auto term = std::find_if(
          e.matrix.begin(), e.matrix.end(),
          [k](const MatrixTerm& t) { return t.value.single_parameter() == k; });
      if (term == e.matrix.end()) continue;
      columns[j] = typical[term->col] * time_norm;
      break;
    }
  }
  return columns;
}

std::optional<Summary> start_library_run(const char* method,
                                         ScaledUnknowns& unknowns,
                                         Monitor& monitor) {
  Objective& f = unknowns.objective();
  monitor.set_likelihood(!f.is_sum_of_squares());
  const double norm = unknowns.evaluate_current();
  monitor.set_start(f.theta(), norm);
  if (f.stop_requested()) {
    monitor.stop(Termination::kInterrupted);
    return finish_library_run(method, Termination::kInterrupted, "", monitor,
                              f);
  }
  if (std::isfinite(norm) && unknowns.size() > 0) return std::nullopt;
  monitor.iterate(norm, f.theta(), false);
  if (!std::isfinite(norm)) {
    return finish_library_run(method, Termination::kDiverged, "", monitor, f);
  }
  return finish_library_run(method, Termination::kOptimumReached,
                            "nothing to estimate: every parameter is fixed",
                            monitor, f);
}

Summary finish_library_run(const char* method, Termination end,
                           std::string message, const Monitor& monitor,
                           const Objective& objective) {
  Summary summary = monitor.summary(end, std::move(message));
  summary.method = method;
  summary.library = true;
  summary.counts = objective.counts();
  return summary;
}

}  // namespace identify
