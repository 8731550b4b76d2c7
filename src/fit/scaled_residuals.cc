// Scaled residuals for the library methods. The libraries see scaled
// unknowns y_j = u_j / s_j with s_j = ‖r(u0)‖ / c_j, c_j = ‖∂r/∂u_j(u0)‖
// from the model's Jacobian at the start u0, so that every scaled column
// starts with the norm of the starting residual whatever the size of the
// entry. A column that vanishes at the start (A[i][j] acts only through other
// entries there, or x_j starts at 0) takes instead m_j·‖t‖: the first-order
// column t·x_j(t) of A[i][j] at A = 0 with x_j at its typical size m_j.
// Norms of very large or very small numbers (sample times near 1e308, or
// 1e-320) are taken as m·sqrt(sum (v/m)²), m = max |v|, so they neither
// overflow nor underflow; a scale that would still not be a finite nonzero
// number, or that would make the scaled start or bounds infinite, is 1.
// Every point u = s·y is clamped into [l, h], so a bound reached in y is
// exactly the bound in A.
#include "fit/scaled_residuals.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "fit/descent.h"
#include "fit/misfit.h"

namespace identify {

std::vector<Unknown> prepare_unknowns(const ProblemRecord& problem, Matrix& A) {
  apply_fixed_entries(problem, A);
  const std::vector<EntryRole> roles = entry_roles(problem);
  std::vector<Unknown> unknowns;
  for (std::size_t q = 0; q < roles.size(); ++q) {
    const EntryRole& role = roles[q];
    if (role.kind == EntryRole::kFixed) continue;
    Unknown u;
    u.entry = static_cast<int>(q);
    if (role.kind == EntryRole::kBounded) {
      double& value = A.data()[q];
      value = std::clamp(value, role.lower, role.upper);
      if (role.lower == role.upper) continue;
      u.bounded = true;
      u.lower = role.lower;
      u.upper = role.upper;
    }
    unknowns.push_back(u);
  }
  return unknowns;
}

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

double usable_scale(double reference, double column, double value,
                    const Unknown& u) {
  const double s = reference / column;
  const auto finite = [](double x) { return std::isfinite(x); };
  if (!(s > 0.0) || !finite(s) || !finite(value / s)) return 1.0;
  if (u.bounded && (!finite(u.lower / s) || !finite(u.upper / s))) return 1.0;
  return s;
}

Residuals::Residuals(const ObservationRecord& obs, MatrixModel& model,
                     Matrix& A, std::vector<Unknown> unknowns,
                     FitCounts& counts)
    : data_(obs.add_data),
      model_(model),
      A_(A),
      unknowns_(std::move(unknowns)),
      counts_(counts),
      M_(data_.rows(), data_.cols()),
      H_(data_.rows(), data_.cols()),
      G_(A.rows(), A.cols()),
      J_(data_.size(), A.size()),
      last_(A.rows(), A.cols()) {}

double Residuals::evaluate_current() {
  if (!valid_ ||
      std::memcmp(A_.data(), last_.data(), A_.size() * sizeof(double)) != 0) {
    model_.evaluate(A_, M_);
    ++counts_.evaluations;
    jacobian_valid_ = false;
    gradient_valid_ = false;
    if (model_.stop_requested()) {
      valid_ = false;
      norm_ = cost_ = std::numeric_limits<double>::quiet_NaN();
      return norm_;
    }
    std::copy(A_.data(), A_.data() + A_.size(), last_.data());
    valid_ = true;
    norm_ = residual_norm(M_, data_);
    cost_ = 0.0;
    for (std::size_t q = 0; q < M_.size(); ++q) {
      const double r = M_.data()[q] - data_.data()[q];
      cost_ = r * r + cost_;
    }
  }
  return norm_;
}

double Residuals::evaluate(const double* y) {
  for (int j = 0; j < unknowns(); ++j) {
    const Unknown& u = unknowns_[j];
    double v = y[j] * u.scale;
    if (u.bounded) {
      if (y[j] <= u.lower / u.scale) {
        v = u.lower;
      } else if (y[j] >= u.upper / u.scale) {
        v = u.upper;
      } else {
        v = std::clamp(v, u.lower, u.upper);
      }
    }
    A_.data()[u.entry] = v;
  }
  return evaluate_current();
}

void Residuals::residuals(double* r) const {
  for (std::size_t q = 0; q < M_.size(); ++q) {
    r[q] = M_.data()[q] - data_.data()[q];
  }
}

const Table& Residuals::full_jacobian() {
  if (!jacobian_valid_) {
    model_.jacobian(A_, J_);
    ++counts_.jacobians;
    jacobian_valid_ = !model_.stop_requested();
  }
  return J_;
}

void Residuals::jacobian(const std::vector<int>& columns, double* out) {
  full_jacobian();
  const std::size_t m = columns.size();
  for (int row = 0; row < samples(); ++row) {
    for (std::size_t c = 0; c < m; ++c) {
      const Unknown& u = unknowns_[columns[c]];
      out[row * m + c] = J_[row][u.entry] * u.scale;
    }
  }
}

void Residuals::gradient(double factor, double* out) {
  if (!gradient_valid_) {
    residual_jumps(M_, data_, H_);
    model_.gradient(A_, H_, G_);
    ++counts_.gradients;
    gradient_valid_ = !model_.stop_requested();
  }
  for (int j = 0; j < unknowns(); ++j) {
    out[j] = G_.data()[unknowns_[j].entry] * unknowns_[j].scale * factor;
  }
}

std::vector<double> Residuals::scale_at_current(
    const std::vector<double>& stand_in) {
  const double r0 = evaluate_current();
  const Table& J = full_jacobian();
  const double reference = r0 > 0.0 && std::isfinite(r0) ? r0 : 1.0;
  std::vector<double> y(unknowns_.size());
  for (std::size_t j = 0; j < unknowns_.size(); ++j) {
    Unknown& u = unknowns_[j];
    double column = robust_norm(J.data() + u.entry, J.rows(), J.cols());
    if (!(column > 0.0) || !std::isfinite(column)) column = stand_in[j];
    const double value = A_.data()[u.entry];
    u.scale = usable_scale(reference, column, value, u);
    y[j] = value / u.scale;
    if (u.bounded) {
      y[j] = std::clamp(y[j], u.lower / u.scale, u.upper / u.scale);
    }
  }
  return y;
}

std::vector<double> stand_in_columns(const ProblemRecord& problem,
                                     const ObservationRecord& obs,
                                     const Residuals& residuals) {
  const int n = problem.dim;
  std::vector<double> typical(n, 0.0);
  for (int j = 0; j < n; ++j) typical[j] = std::fabs(problem.init_val[j]);
  for (std::size_t k = 0; k < obs.data_time.rows(); ++k) {
    const int c = obs.is_data_exist[k];
    for (std::size_t q = 0; q < obs.data_time.cols(); ++q) {
      typical[c] = std::max(typical[c], std::fabs(obs.add_data[k][q]));
    }
  }
  const double times =
      robust_norm(obs.data_time.data(), obs.data_time.size(), 1);
  const double time_norm = times > 0.0 ? times : 1.0;
  std::vector<double> columns(residuals.unknowns());
  for (int u = 0; u < residuals.unknowns(); ++u) {
    const double m = typical[residuals.unknown(u).entry % n];
    columns[u] = (m > 0.0 ? m : 1.0) * time_norm;
  }
  return columns;
}

}  // namespace identify
