// Fit statistics. With r the weighted residuals of the n counted
// measurements, p free parameters and S = |r|², s² = S/(n − p) estimates the
// error variance, and to first order the free parameters' coordinates x
// have covariance s²·(JᵀJ)⁻¹ with J = ∂r/∂x. J is taken with unit-norm
// columns, Js = J·D⁻¹ (D the column norms), so that the condition number
// measures how distinguishable the parameters are whatever their units.
// With Js = U Σ Vᵀ, (JᵀJ)⁻¹ = D⁻¹ V Σ⁻² Vᵀ D⁻¹; the singular values at or
// below the rounding threshold σ₁·max(n, p)·ε are left out (pseudo-inverse),
// and a parameter with a share in their right singular vectors is not
// determined by the data. Each right singular vector v with σ below that
// threshold or below σ₁/1e8 is a flat direction, D⁻¹v in the coordinates x.
// A column that is exactly zero (a parameter that acts on no counted
// measurement) is its own flat direction and is kept out of the
// decomposition. Gaussian errors of unknown variance give
// −2 log L = n·(ln 2π + ln(S/n) + 1) at the maximum, with p + 1 parameters.
// When the measurements carry their own sigma the weighted residuals have
// unit variance if the model is right: S is then χ² on n − p degrees of
// freedom, the covariance is (JᵀJ)⁻¹ as it stands, and the intervals take
// the normal quantile. When the objective is −2 ln L, the information of a
// measurement about the location h(y) is 1/σ² and about ln σ 2 (normal)
// or 1 (Laplace), so J is stacked from those rows and (JᵀJ)⁻¹ is the
// inverse expected Fisher information. A tall J of many unknowns with every
// direction well resolved takes σ and the covariance from the normal
// equations of Js instead (scaled_normal.h): σ_i² are the eigenvalues of
// JsᵀJs and the covariance of the scaled unknowns is (JsᵀJs)⁻¹.
#include "fit/fit_statistics.h"

#include <Eigen/Core>
#include <Eigen/Eigenvalues>
#include <Eigen/QR>
#include <Eigen/SVD>
#include <algorithm>
#include <boost/math/distributions/chi_squared.hpp>
#include <boost/math/distributions/normal.hpp>
#include <boost/math/distributions/students_t.hpp>
#include <cmath>
#include <limits>
#include <numbers>

#include "fit/gram.h"
#include "fit/long_table.h"
#include "fit/objective.h"
#include "fit/scaled_normal.h"

namespace identify {

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
// Terms of a flat direction below this fraction of its largest are left
// out of its description.
constexpr double kNegligibleTerm = 1e-3;
// A determined parameter has at most this share in the rank-deficient
// directions (of unit length, in the scaled unknowns).
constexpr double kNullShare = 1e-6;

ParameterStatus status_of(const Parameter& p, double value) {
  if (!p.estimated || p.lower == p.upper) return ParameterStatus::kFixed;
  if (value <= p.lower) return ParameterStatus::kOnLowerBound;
  if (value >= p.upper) return ParameterStatus::kOnUpperBound;
  return ParameterStatus::kFree;
}

// n, p and the sum of squares give everything but the parameters' part.
// `log_sigma` is Σ ln(2π·σ_m²) over the counted measurements: with sigma
// given, −2 log L = S + that (and the transformations' terms, included in
// it).
void residual_statistics(FitStatistics& st, double log_sigma) {
  const double n = static_cast<double>(st.residuals);
  const int p = st.free_parameters;
  st.dof = st.residuals - p;
  st.norm = std::sqrt(st.ssr);
  st.rms = st.residuals > 0 ? std::sqrt(st.ssr / n) : kNaN;
  st.residual_standard_error =
      st.dof > 0 ? std::sqrt(st.ssr / static_cast<double>(st.dof)) : kNaN;
  st.t_quantile = kNaN;
  st.chi_square_p = kNaN;
  if (st.sigma_given) {
    st.t_quantile = boost::math::quantile(
        boost::math::normal_distribution<double>(), 0.975);
    if (st.dof > 0 && std::isfinite(st.ssr)) {
      const boost::math::chi_squared_distribution<double> chi2(
          static_cast<double>(st.dof));
      st.chi_square_p = boost::math::cdf(boost::math::complement(chi2, st.ssr));
    }
  } else if (st.dof > 0) {
    const boost::math::students_t_distribution<double> t(
        static_cast<double>(st.dof));
    st.t_quantile = boost::math::quantile(t, 0.975);
  }
  st.aic = st.bic = kNaN;
  if (st.likelihood) {
    st.chi_square_p = kNaN;
    st.aic = st.minus_two_log_l + 2.0 * p;
    st.bic = st.minus_two_log_l + std::log(n) * p;
  } else if (st.sigma_given) {
    st.aic = st.ssr + log_sigma + 2.0 * p;
    st.bic = st.ssr + log_sigma + std::log(n) * p;
  } else if (st.residuals > 0) {
    const double m2logl =
        n * (std::log(2.0 * std::numbers::pi) + std::log(st.ssr / n) + 1.0);
    st.aic = m2logl + 2.0 * (p + 1);
    st.bic = m2logl + std::log(n) * (p + 1);
  }
}

// The direction D⁻¹v in the coordinates x, normalised so that its largest
// coefficient is +1, negligible terms dropped, largest first.
FlatDirection flat_direction(double ratio, const std::vector<int>& parameters,
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
    flat.parameters.push_back(parameters[c]);
    flat.coefficients.push_back(d[c]);
  }
  return flat;
}

// J over the counted rows with its nonzero columns scaled to unit norm.
struct ScaledJacobian {
  Eigen::MatrixXd Js;
  std::vector<int> active;  // parameter of each column
  std::vector<int> column;  // its column in the Objective's J
  Eigen::VectorXd norms;    // D
};

// Splits the free columns of J (rows: the counted measurements) into the
// zero ones, each a flat direction of its own, and the scaled others.
ScaledJacobian scale_columns(const Table& J, const std::vector<int>& rows,
                             const std::vector<int>& free, FitStatistics& st) {
  ScaledJacobian sj;
  std::vector<double> norms;
  for (std::size_t c = 0; c < free.size(); ++c) {
    double sum = 0.0;
    for (int row : rows) sum += J[row][c] * J[row][c];
    if (sum > 0.0) {
      sj.active.push_back(free[c]);
      sj.column.push_back(static_cast<int>(c));
      norms.push_back(std::sqrt(sum));
    } else {
      FlatDirection alone;
      alone.parameters = {free[c]};
      alone.coefficients = {1.0};
      st.flat.push_back(alone);
    }
  }
  const auto count = static_cast<Eigen::Index>(sj.active.size());
  sj.norms = Eigen::Map<const Eigen::VectorXd>(norms.data(), count);
  sj.Js.resize(static_cast<Eigen::Index>(rows.size()), count);
  for (Eigen::Index c = 0; c < count; ++c) {
    for (std::size_t r = 0; r < rows.size(); ++r) {
      sj.Js(static_cast<Eigen::Index>(r), c) =
          J[rows[r]][sj.column[c]] / sj.norms[c];
    }
  }
  return sj;
}

// Standard error and interval of a determined parameter from the standard
// error of its coordinate x.
void set_estimate(ParameterEstimate& e, const Parameter& p, double se_x,
                  double t) {
  const double x = to_scaled(p.scale, e.value);
  e.standard_error = std::fabs(se_x * unscaled_per_scaled(p.scale, x));
  if (p.scale == Scale::kLin) {
    e.lower95 = e.value - t * e.standard_error;
    e.upper95 = e.value + t * e.standard_error;
  } else {
    e.lower95 = from_scaled(p.scale, x - t * se_x);
    e.upper95 = from_scaled(p.scale, x + t * se_x);
  }
}

// Standard errors, intervals and correlations from C, the covariance of the
// scaled unknowns (the columns of Js: parameter active[c], norm norms[c]),
// for the parameters the data determine.
void standard_errors(const FitProblem& problem, const std::vector<int>& active,
                     const Eigen::VectorXd& norms, const Eigen::MatrixXd& C,
                     const std::vector<char>& determined, FitStatistics& st) {
  const auto q = static_cast<Eigen::Index>(active.size());
  for (Eigen::Index c = 0; c < q; ++c) {
    ParameterEstimate& e = st.parameters[active[c]];
    e.determined = determined[c] != 0;
    if (!e.determined || (!st.sigma_given && st.dof <= 0)) continue;
    const double s = st.sigma_given ? 1.0 : st.residual_standard_error;
    const double se_x = s * std::sqrt(C(c, c)) / norms[c];
    set_estimate(e, problem.parameters[active[c]], se_x, st.t_quantile);
  }
  for (Eigen::Index a = 0; a < q; ++a) {
    for (Eigen::Index b = a + 1; b < q; ++b) {
      if (!determined[a] || !determined[b]) continue;
      const double corr = C(a, b) / std::sqrt(C(a, a) * C(b, b));
      if (std::abs(corr) > kHighCorrelation) {
        st.correlated.push_back({active[a], active[b], corr});
      }
    }
  }
}

// From this many unknowns the decomposition of a tall scaled J starts with
// its QR (identifiability()); smaller problems keep the direct SVD.
constexpr Eigen::Index kTriangularFirst = 200;

// Rank, condition, flat directions, standard errors and correlations from
// the decomposition of the scaled J.
void identifiability(const FitProblem& problem, const ScaledJacobian& sj,
                     FitStatistics& st) {
  const Eigen::Index q = sj.Js.cols();
  Eigen::VectorXd sigma = Eigen::VectorXd::Zero(q);
  Eigen::MatrixXd V = Eigen::MatrixXd::Identity(q, q);
  if (q >= kTriangularFirst && sj.Js.rows() >= 2 * q) {
    // A tall J: the SVD of the triangle of its QR has the same singular
    // values and V, for half the work of bidiagonalising J itself.
    const Eigen::HouseholderQR<Eigen::MatrixXd> qr(sj.Js);
    const Eigen::MatrixXd R =
        qr.matrixQR().topRows(q).triangularView<Eigen::Upper>();
    Eigen::BDCSVD<Eigen::MatrixXd> svd(R, Eigen::ComputeFullV);
    sigma = svd.singularValues();
    V = svd.matrixV();
  } else if (q > 0) {
    Eigen::BDCSVD<Eigen::MatrixXd> svd(sj.Js, Eigen::ComputeFullV);
    sigma.head(svd.singularValues().size()) = svd.singularValues();
    V = svd.matrixV();
  }
  const double top = q > 0 ? sigma[0] : 0.0;
  const double tol =
      top * static_cast<double>(std::max<Eigen::Index>(sj.Js.rows(), q)) *
      std::numeric_limits<double>::epsilon();
  st.rank = static_cast<int>((sigma.array() > tol).count());
  st.condition = st.rank == st.free_parameters
                     ? top / sigma[q - 1]
                     : std::numeric_limits<double>::infinity();
  for (Eigen::Index i = 0; i < q; ++i) {
    if (sigma[i] > tol && top / sigma[i] <= kIllConditioned) continue;
    const double ratio = sigma[i] > tol ? sigma[i] / top : 0.0;
    st.flat.push_back(flat_direction(ratio, sj.active, V.col(i), sj.norms));
  }
  // Covariance of the scaled unknowns over the resolved directions, and the
  // share of each unknown in the unresolved ones.
  const Eigen::Index r = st.rank;
  const Eigen::MatrixXd Vr = V.leftCols(r);
  const Eigen::VectorXd inv2 =
      sigma.head(r).cwiseProduct(sigma.head(r)).cwiseInverse();
  const Eigen::MatrixXd C = Vr * inv2.asDiagonal() * Vr.transpose();
  std::vector<char> determined(q, 0);
  for (Eigen::Index c = 0; c < q; ++c) {
    determined[c] = V.row(c).tail(q - r).norm() <= kNullShare;
  }
  standard_errors(problem, sj.active, sj.norms, C, determined, st);
}

// A tall J of many unknowns or of a long table, every direction well
// resolved: the normal equations of Js (scaled_normal.h) give its singular
// values, the square roots of the eigenvalues of Ns, and the covariance
// Ns⁻¹ through the Cholesky factor, at a fraction of the cost (and, on a
// long table, of the memory) of the QR and the SVD. False,
// with nothing set, where those are needed (few unknowns, a zero column,
// cond(Js) above kNormalConditionLimit).
bool normal_identifiability(const FitProblem& problem, const Table& J,
                            const std::vector<int>& rows,
                            const std::vector<int>& free, FitStatistics& st) {
  const auto q = static_cast<Eigen::Index>(free.size());
  if ((q < kTriangularFirst && rows.size() < kLongTableResiduals) ||
      rows.size() < 2 * free.size()) {
    return false;
  }
  std::vector<double> gathered;
  const double* data = J.data();
  bool all_rows = rows.size() == J.rows();
  for (std::size_t k = 0; all_rows && k < rows.size(); ++k) {
    all_rows = rows[k] == static_cast<int>(k);
  }
  if (!all_rows) {
    gathered.reserve(rows.size() * free.size());
    for (int row : rows) {
      gathered.insert(gathered.end(), J[row], J[row] + free.size());
    }
    data = gathered.data();
  }
  Gram gram(static_cast<int>(q));
  const ScaledNormal normal = scaled_normal(gram, data, rows.size());
  if (!normal.usable) return false;
  const Eigen::SelfAdjointEigenSolver<Eigen::MatrixXd> eigen(
      normal.normal, Eigen::EigenvaluesOnly);
  if (eigen.info() != Eigen::Success) return false;
  const double smallest = eigen.eigenvalues()[0];
  const double condition = std::sqrt(eigen.eigenvalues()[q - 1] / smallest);
  if (!(smallest > 0.0) || !(condition <= kNormalConditionLimit)) return false;
  st.rank = static_cast<int>(q);
  st.condition = condition;
  const Eigen::MatrixXd C =
      normal.cholesky.solve(Eigen::MatrixXd::Identity(q, q));
  standard_errors(problem, free, normal.norms, C, std::vector<char>(q, 1), st);
  return true;
}

// The square root of the expected Fisher information of −2 ln L/2 at the
// objective's last evaluation: for each counted measurement m its location
// row (h'/σ)·∂y/∂x = ∂r/∂x + r·∂ln σ/∂x and, where σ varies, its scale row
// √2·∂ln σ/∂x (normal) or ∂ln σ/∂x (Laplace). `rows` receives the rows
// used.
Table fisher_root(const FitProblem& problem, Objective& objective,
                  const std::vector<int>& counted, std::vector<int>& rows) {
  const Table& J = objective.jacobian();
  const std::size_t n = objective.residual_count();
  const bool scale_rows = objective.has_sigma_rows();
  Table F(scale_rows ? 2 * n : n, J.cols());
  std::vector<Distribution> density(n, Distribution::kNormal);
  std::size_t m = 0;
  for (const Experiment& e : problem.experiments) {
    for (const Measurement& ms : e.measurements) {
      density[m++] = problem.noise_of(ms.observable).distribution;
    }
  }
  for (int row : counted) {
    const double r = objective.residuals()[row];
    const double weight =
        density[row] == Distribution::kNormal ? std::sqrt(2.0) : 1.0;
    for (std::size_t j = 0; j < J.cols(); ++j) {
      F[row][j] = J[row][j] + (scale_rows ? r * J[n + row][j] : 0.0);
      if (scale_rows) F[n + row][j] = weight * J[n + row][j];
    }
    rows.push_back(row);
    if (scale_rows) rows.push_back(static_cast<int>(n) + row);
  }
  return F;
}

}  // namespace

FitStatistics compute_fit_statistics(const FitProblem& problem, Model& model,
                                     std::span<const double> theta) {
  FitStatistics st;
  std::vector<int> free;
  for (int k = 0; k < problem.parameter_count(); ++k) {
    ParameterEstimate e;
    e.name = problem.parameters[k].name;
    e.value = theta[k];
    e.status = status_of(problem.parameters[k], e.value);
    e.standard_error = e.lower95 = e.upper95 = kNaN;
    if (e.status == ParameterStatus::kFree) free.push_back(k);
    st.parameters.push_back(e);
  }
  st.free_parameters = static_cast<int>(free.size());
  Objective objective(problem, model, free,
                      std::vector<double>(theta.begin(), theta.end()));
  objective.evaluate(objective.coordinates(theta));
  st.likelihood = !objective.is_sum_of_squares();
  std::vector<int> rows;  // the counted measurements
  double log_sigma = 0.0;
  int m = 0;
  for (const Experiment& e : problem.experiments) {
    for (const Measurement& ms : e.measurements) {
      if (ms.counted) {
        rows.push_back(m);
        if (!ms.sigma.is_constant() || ms.sigma.constant_value() != 1.0) {
          st.sigma_given = true;
        }
        const double r = objective.residuals()[m];
        st.ssr += r * r;
        const double sigma = objective.sigma(m, ms);
        const NoiseModel noise = problem.noise_of(ms.observable);
        log_sigma += std::log(2.0 * std::numbers::pi * sigma * sigma) +
                     transformation_term(noise.transformation, ms.value);
        st.minus_two_log_l += minus_two_log_density(noise, r, sigma, ms.value);
      }
      ++m;
    }
  }
  st.sigma_given = st.sigma_given || st.likelihood;
  st.residuals = static_cast<std::int64_t>(rows.size());
  residual_statistics(st, log_sigma);
  st.condition = kNaN;
  if (free.empty() || !std::isfinite(st.ssr)) return st;
  if (!st.likelihood) {
    if (normal_identifiability(problem, objective.jacobian(), rows, free, st)) {
      return st;
    }
    const ScaledJacobian sj =
        scale_columns(objective.jacobian(), rows, free, st);
    identifiability(problem, sj, st);
    return st;
  }
  std::vector<int> fisher_rows;
  const Table fisher = fisher_root(problem, objective, rows, fisher_rows);
  if (normal_identifiability(problem, fisher, fisher_rows, free, st)) {
    return st;
  }
  const ScaledJacobian sj = scale_columns(fisher, fisher_rows, free, st);
  identifiability(problem, sj, st);
  return st;
}

void cut_at_bounds(const FitProblem& problem, FitStatistics& stats) {
  for (std::size_t k = 0; k < stats.parameters.size(); ++k) {
    ParameterEstimate& e = stats.parameters[k];
    const Parameter& p = problem.parameters[k];
    if (e.lower95 < p.lower) {
      e.lower95 = p.lower;
      e.lower_cut = true;
    }
    if (e.upper95 > p.upper) {
      e.upper95 = p.upper;
      e.upper_cut = true;
    }
  }
}

}  // namespace identify
