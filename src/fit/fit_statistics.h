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
  double aic = 0.0;  // −2 log L + 2(p + 1), Gaussian errors of unknown σ
  double bic = 0.0;  // −2 log L + ln(n)·(p + 1); both NaN if n = 0
  double t_quantile = 0.0;                    // t(0.975, dof); NaN if dof <= 0
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
// x ∓ t·se mapped back, so it stays positive.
FitStatistics compute_fit_statistics(const FitProblem& problem, Model& model,
                                     std::span<const double> theta);

}  // namespace identify
