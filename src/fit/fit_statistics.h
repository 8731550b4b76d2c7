// How good a fit is and how well the data determine each parameter: the
// residual statistics over the counted measurements, the Gauss–Newton
// covariance of the free parameters, and the directions in them that the
// data cannot resolve.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "model/model.h"
#include "problem/fit_problem.h"

namespace identify {

// Where a parameter stands in the result.
enum class ParameterStatus {
  kFree,          // estimated, inside its bounds
  kFixed,         // not estimated, or its bounds are one point
  kOnLowerBound,  // estimated and equal to its lower bound: counts as fixed
  kOnUpperBound,
};

struct ParameterEstimate {
  std::string name;
  double value = 0.0;  // unscaled
  ParameterStatus status = ParameterStatus::kFree;
  // For a free parameter: whether the data determine it (it has no share in
  // a rank-deficient direction of J), and then its standard error (in its
  // own units) and 95% interval. NaN where not available (no degrees of
  // freedom, a sum of squares that is not finite, not determined).
  bool determined = false;
  double standard_error = 0.0;
  double lower95 = 0.0;
  double upper95 = 0.0;
  // The interval crossed that bound and ends on it (cut_at_bounds).
  bool lower_cut = false;
  bool upper_cut = false;
};

// A direction d in the free parameters' fitting coordinates (the value
// itself, or its logarithm on a log scale) along which the residuals change
// by |J d| = ratio·|J|·|d| or less (columns of J scaled to unit norm):
// moving the parameters along d leaves the fit unchanged to first order
// (ratio 0: rank-deficient) or nearly so (ratio below 1e-8: ill-conditioned).
struct FlatDirection {
  double ratio = 0.0;           // smallest singular value / largest, scaled J
  std::vector<int> parameters;  // indices, largest |coefficient| first
  std::vector<double> coefficients;  // the largest is +1
};

struct Correlation {
  int first = 0;  // parameter indices, first < second
  int second = 0;
  double value = 0.0;
};

struct FitStatistics {
  std::int64_t residuals = 0;            // n: the counted measurements
  int free_parameters = 0;               // p: neither fixed nor on a bound
  std::int64_t dof = 0;                  // n − p
  double ssr = 0.0;                      // sum of squared (weighted) residuals
  double norm = 0.0;                     // sqrt(ssr)
  double rms = 0.0;                      // sqrt(ssr / n); NaN if n = 0
  double residual_standard_error = 0.0;  // s = sqrt(ssr / dof); NaN if dof <= 0
  // −2 log L + 2(p + 1) and + ln(n)·(p + 1), Gaussian errors of unknown σ
  // (NaN if n = 0); with sigma given, of known σ: −2 log L + 2p and
  // + ln(n)·p, −2 log L = ssr + Σ ln(2π·σ_m²) (+ the Jacobian terms of
  // log-transformed observables).
  double aic = 0.0;
  double bic = 0.0;
  // Some counted measurement has a sigma other than 1: the errors are taken
  // as known, the covariance is (JᵀJ)⁻¹ without s², and the intervals use
  // the normal quantile. Otherwise s² scales it and Student's t is used.
  bool sigma_given = false;
  // The objective is −2 ln L (a noise parameter is estimated, σ depends on
  // the model value, or a density is not normal; objective.h): the
  // covariance is the inverse of the expected Fisher information, noise
  // parameters included, and sigma_given holds.
  bool likelihood = false;
  // −2 ln L of the counted measurements (the densities of noise_model.h).
  double minus_two_log_l = 0.0;
  // With sigma given: P(χ² on dof degrees of freedom >= ssr), the
  // probability of a misfit at least this large if model and sigma are
  // right; NaN if dof <= 0.
  double chi_square_p = 0.0;
  // The 0.975 quantile of the intervals: t(0.975, dof), NaN if dof <= 0;
  // with sigma given the normal 1.95996 whatever dof is.
  double t_quantile = 0.0;
  std::vector<ParameterEstimate> parameters;  // every parameter, in order
  int rank = 0;            // numerical rank of J (free columns)
  double condition = 0.0;  // of J with unit-norm columns; inf if rank < p
  std::vector<FlatDirection> flat;      // rank-deficient and ill-conditioned
  std::vector<Correlation> correlated;  // |correlation| > 0.95
};

// Condition number above which a direction counts as not resolved.
inline constexpr double kIllConditioned = 1e8;
// Correlation magnitude above which a pair of parameters is reported.
inline constexpr double kHighCorrelation = 0.95;

// Statistics of θ (one value per parameter) as a fit of the problem's
// measurements by `model`: evaluates the model and the Jacobian of the
// weighted residuals (the Objective's, in the free parameters' fitting
// coordinates) at θ, over the counted measurements. The covariance of the
// free parameters is s²·(JᵀJ)⁻¹, computed through the singular value
// decomposition of J with unit-norm columns; in a rank-deficient J it is
// the pseudo-inverse, and only the parameters outside the deficient
// directions get standard errors. A standard error is turned into the
// parameter's own units by dθ/dx; the interval of a log-scaled parameter is
// x ∓ t·se mapped back, so it stays positive. With sigma given (see
// FitStatistics::sigma_given) the standard errors need no degrees of
// freedom. For −2 ln L (FitStatistics::likelihood) J is the square root of
// the expected Fisher information instead: per measurement a row
// (h'(y)/σ)·∂y/∂x for the location and a row √2·∂ln σ/∂x (normal) or
// ∂ln σ/∂x (Laplace) for the scale.
FitStatistics compute_fit_statistics(const FitProblem& problem, Model& model,
                                     std::span<const double> theta);

// Cuts every 95% interval that reaches beyond a bound of its parameter at
// that bound, and marks the side cut.
void cut_at_bounds(const FitProblem& problem, FitStatistics& stats);

}  // namespace identify
