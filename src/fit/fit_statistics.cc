// Fit statistics. With r the residuals of the n measured samples, p free
// entries and S = |r|², s² = S/(n − p) estimates the error variance, and to
// first order the free entries a have covariance s²·(JᵀJ)⁻¹ with J = ∂r/∂a.
// J is taken with unit-norm columns, Js = J·D⁻¹ (D the column norms), so that
// the condition number measures how distinguishable the entries are whatever
// their units. With Js = U Σ Vᵀ, (JᵀJ)⁻¹ = D⁻¹ V Σ⁻² Vᵀ D⁻¹; the singular
// values at or below the rounding threshold σ₁·max(n, p)·ε are left out
// (pseudo-inverse), and an entry with a share in their right singular
// vectors is not determined by the data. Each right singular vector v with
// σ below that threshold or below σ₁/1e8 is a flat direction; in the units
// of the entries it is D⁻¹v. A column that is exactly zero (an entry that
// does not act on any sample) is its own flat direction and is kept out of
// the decomposition. Gaussian errors of unknown variance give
// −2 log L = n·(ln 2π + ln(S/n) + 1) at the maximum, with p + 1 parameters.
#include "fit/fit_statistics.h"

#include <Eigen/Core>
#include <Eigen/SVD>
#include <algorithm>
#include <boost/math/distributions/students_t.hpp>
#include <cmath>
#include <limits>
#include <numbers>

#include "fit/descent.h"

namespace identify {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// Terms of a flat direction below this fraction of its largest are left
// out of its description.
constexpr double kNegligibleTerm = 1e-3;
// A determined entry has at most this share in the rank-deficient
// directions (of unit length, in the scaled unknowns).
constexpr double kNullShare = 1e-6;

EntryStatus status_of(const EntryRole& role, double value) {
  switch (role.kind) {
    case EntryRole::kFree:
      return EntryStatus::kFree;
    case EntryRole::kFixed:
      return EntryStatus::kFixed;
    case EntryRole::kBounded:
      if (role.lower == role.upper) return EntryStatus::kFixed;
      if (value <= role.lower) return EntryStatus::kOnLowerBound;
      if (value >= role.upper) return EntryStatus::kOnUpperBound;
      return EntryStatus::kFree;
  }
  return EntryStatus::kFree;
}

// The direction D⁻¹v in the units of the entries, normalised so that its
// largest coefficient is +1, negligible terms dropped, largest first.
FlatDirection flat_direction(double ratio, const std::vector<int>& entries,
                             const Eigen::VectorXd& v,
                             const Eigen::VectorXd& norms) {
  Eigen::VectorXd d = v.cwiseQuotient(norms);
  Eigen::Index top = 0;
  d.cwiseAbs().maxCoeff(&top);
  d /= d[top];
  std::vector<int> order;
  for (Eigen::Index c = 0; c < d.size(); ++c) {
    if (std::abs(d[c]) >= kNegligibleTerm) order.push_back(static_cast<int>(c));
  }
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
    return std::abs(d[a]) > std::abs(d[b]);
  });
  FlatDirection flat;
  flat.ratio = ratio;
  for (int c : order) {
    flat.entries.push_back(entries[c]);
    flat.coefficients.push_back(d[c]);
  }
  return flat;
}

}  // namespace

FitStatistics compute_fit_statistics(const ProblemRecord& problem,
                                     const ObservationRecord& obs,
                                     MatrixModel& model, const Matrix& A) {
  const int n = problem.dim;
  const int points = obs.points();
  const int series = obs.data_num;
  FitStatistics st;

  // Residuals of the measured samples, series after series.
  Table M(obs.add_data.rows(), obs.add_data.cols());
  model.evaluate(A, M);
  st.residuals = static_cast<std::int64_t>(series) * (points - 1);
  double ssr = 0.0;
  for (int k = 0; k < series; ++k) {
    for (int s = 1; s < points; ++s) {
      const double r = M[k][s] - obs.add_data[k][s];
      ssr += r * r;
    }
  }
  st.ssr = ssr;
  st.norm = std::sqrt(ssr);

  // Entries and their status; the free ones are the unknowns of J.
  const std::vector<EntryRole> roles = entry_roles(problem);
  std::vector<int> free;
  for (int q = 0; q < n * n; ++q) {
    EntryEstimate e;
    e.row = q / n;
    e.col = q % n;
    e.value = A.data()[q];
    e.status = status_of(roles[q], e.value);
    e.standard_error = e.lower95 = e.upper95 = kNaN;
    if (e.status == EntryStatus::kFree) free.push_back(q);
    st.entries.push_back(e);
  }
  const int p = static_cast<int>(free.size());
  st.free_entries = p;
  st.dof = st.residuals - p;

  const double nn = static_cast<double>(st.residuals);
  st.rms = st.residuals > 0 ? std::sqrt(ssr / nn) : kNaN;
  st.residual_standard_error =
      st.dof > 0 ? std::sqrt(ssr / static_cast<double>(st.dof)) : kNaN;
  st.t_quantile = kNaN;
  if (st.dof > 0) {
    const boost::math::students_t_distribution<double> t(
        static_cast<double>(st.dof));
    st.t_quantile = boost::math::quantile(t, 0.975);
  }
  st.aic = st.bic = kNaN;
  if (st.residuals > 0) {
    const double m2logl =
        nn * (std::log(2.0 * std::numbers::pi) + std::log(ssr / nn) + 1.0);
    st.aic = m2logl + 2.0 * (p + 1);
    st.bic = m2logl + std::log(nn) * (p + 1);
  }
  st.condition = kNaN;
  if (p == 0 || !std::isfinite(ssr)) return st;

  // J: measured samples × free entries, columns split into the zero ones
  // and the ones scaled to unit norm.
  Table full;
  model.jacobian(A, full);
  const Eigen::Index rows = st.residuals;
  std::vector<int> active;  // free entries with a nonzero column
  std::vector<double> norms;
  for (int q : free) {
    double sum = 0.0;
    for (int k = 0; k < series; ++k) {
      for (int s = 1; s < points; ++s) {
        const double v = full[k * points + s][q];
        sum += v * v;
      }
    }
    if (sum > 0.0) {
      active.push_back(q);
      norms.push_back(std::sqrt(sum));
    } else {
      FlatDirection alone;
      alone.entries = {q};
      alone.coefficients = {1.0};
      st.flat.push_back(alone);
    }
  }
  const Eigen::Index q_count = static_cast<Eigen::Index>(active.size());
  Eigen::MatrixXd Js(rows, q_count);
  for (Eigen::Index c = 0; c < q_count; ++c) {
    Eigen::Index r = 0;
    for (int k = 0; k < series; ++k) {
      for (int s = 1; s < points; ++s) {
        Js(r++, c) = full[k * points + s][active[c]] / norms[c];
      }
    }
  }
  const Eigen::VectorXd d =
      Eigen::Map<const Eigen::VectorXd>(norms.data(), q_count);

  Eigen::VectorXd sigma = Eigen::VectorXd::Zero(q_count);
  Eigen::MatrixXd V = Eigen::MatrixXd::Identity(q_count, q_count);
  if (q_count > 0) {
    Eigen::BDCSVD<Eigen::MatrixXd> svd(Js, Eigen::ComputeFullV);
    sigma.head(svd.singularValues().size()) = svd.singularValues();
    V = svd.matrixV();
  }
  const double top = q_count > 0 ? sigma[0] : 0.0;
  const double tol =
      top * static_cast<double>(std::max<Eigen::Index>(rows, q_count)) *
      std::numeric_limits<double>::epsilon();
  st.rank = 0;
  for (Eigen::Index i = 0; i < q_count; ++i) {
    if (sigma[i] > tol) ++st.rank;
  }
  st.condition = st.rank == p ? top / sigma[q_count - 1]
                              : std::numeric_limits<double>::infinity();
  for (Eigen::Index i = 0; i < q_count; ++i) {
    if (sigma[i] > tol && top / sigma[i] <= kIllConditioned) continue;
    const double ratio = sigma[i] > tol ? sigma[i] / top : 0.0;
    st.flat.push_back(flat_direction(ratio, active, V.col(i), d));
  }

  // Covariance of the scaled unknowns over the resolved directions, and the
  // share of each unknown in the unresolved ones.
  const Eigen::Index r = st.rank;
  const Eigen::MatrixXd Vr = V.leftCols(r);
  const Eigen::VectorXd inv2 =
      sigma.head(r).cwiseProduct(sigma.head(r)).cwiseInverse();
  const Eigen::MatrixXd C = Vr * inv2.asDiagonal() * Vr.transpose();
  std::vector<char> determined(q_count, 0);
  for (Eigen::Index c = 0; c < q_count; ++c) {
    determined[c] = V.row(c).tail(q_count - r).norm() <= kNullShare;
  }
  const double s = st.residual_standard_error;
  for (Eigen::Index c = 0; c < q_count; ++c) {
    if (!determined[c]) continue;
    EntryEstimate& e = st.entries[active[c]];
    e.determined = true;
    if (st.dof <= 0) continue;
    e.standard_error = s * std::sqrt(C(c, c)) / d[c];
    e.lower95 = e.value - st.t_quantile * e.standard_error;
    e.upper95 = e.value + st.t_quantile * e.standard_error;
  }
  for (Eigen::Index a = 0; a < q_count; ++a) {
    for (Eigen::Index b = a + 1; b < q_count; ++b) {
      if (!determined[a] || !determined[b]) continue;
      const double corr = C(a, b) / std::sqrt(C(a, a) * C(b, b));
      if (std::abs(corr) > kHighCorrelation) {
        st.correlated.push_back({active[a], active[b], corr});
      }
    }
  }
  return st;
}

}  // namespace identify
