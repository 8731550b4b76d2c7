// How good a fit is and how well the data determine each entry of A: the
// residual statistics, the Gauss–Newton covariance of the free entries, and
// the directions in the entries that the data cannot resolve.
#pragma once

#include <cstdint>
#include <vector>

#include "input/records.h"
#include "model/matrix_model.h"

namespace identify {

// Where an entry of A stands in the result.
enum class EntryStatus { kFree, kFixed, kOnLowerBound, kOnUpperBound };

struct EntryEstimate {
  int row = 0;  // 0-based
  int col = 0;
  double value = 0.0;
  EntryStatus status = EntryStatus::kFree;
  // For a free entry: whether the data determine it (it has no share in a
  // rank-deficient direction of J), and then its standard error and 95%
  // interval value ± t·standard_error. NaN where not available (no degrees
  // of freedom, a sum of squares that is not finite, not determined).
  bool determined = false;
  double standard_error = 0.0;
  double lower95 = 0.0;
  double upper95 = 0.0;
};

// A direction d in the free entries along which the samples change by
// |J d| = ratio·|J|·|d| or less (columns of J scaled to unit norm): moving
// the entries by a multiple of d leaves the fit unchanged to first order
// (ratio 0: rank-deficient) or nearly so (ratio below 1e-8: ill-conditioned).
struct FlatDirection {
  double ratio = 0.0;        // smallest singular value / largest, scaled J
  std::vector<int> entries;  // i·N + j, largest |coefficient| first
  std::vector<double> coefficients;  // the largest is +1
};

struct Correlation {
  int first = 0;  // i·N + j, first < second
  int second = 0;
  double value = 0.0;
};

struct FitStatistics {
  std::int64_t residuals = 0;  // n: measured samples, the points at t = 0
                               // that stand for x0 not counted
  int free_entries = 0;        // p: neither fixed nor on a bound
  std::int64_t dof = 0;        // n − p
  double ssr = 0.0;            // sum of squared residuals
  double norm = 0.0;           // sqrt(ssr)
  double rms = 0.0;            // sqrt(ssr / n); NaN if n = 0
  double residual_standard_error = 0.0;  // s = sqrt(ssr / dof); NaN if dof <= 0
  double aic = 0.0;  // −2 log L + 2(p + 1), Gaussian errors of unknown σ
  double bic = 0.0;  // −2 log L + ln(n)·(p + 1); both NaN if n = 0
  double t_quantile = 0.0;             // t(0.975, dof); NaN if dof <= 0
  std::vector<EntryEstimate> entries;  // N×N, row-major
  int rank = 0;                        // numerical rank of J (free columns)
  double condition = 0.0;  // of J with unit-norm columns; inf if rank < p
  std::vector<FlatDirection> flat;      // rank-deficient and ill-conditioned
  std::vector<Correlation> correlated;  // |correlation| > 0.95
};

// Condition number above which a direction counts as not resolved.
inline constexpr double kIllConditioned = 1e8;
// Correlation magnitude above which a pair of entries is reported.
inline constexpr double kHighCorrelation = 0.95;

// Statistics of the matrix A as a fit of obs by `model`. Evaluates the model
// and its Jacobian at A (J has one row per measured sample, one column per
// free entry). The covariance of the free entries is s²·(JᵀJ)⁻¹, computed
// through the singular value decomposition of J with unit-norm columns; in a
// rank-deficient J it is the pseudo-inverse, and only the entries outside the
// deficient directions get standard errors.
FitStatistics compute_fit_statistics(const ProblemRecord& problem,
                                     const ObservationRecord& obs,
                                     MatrixModel& model, const Matrix& A);

}  // namespace identify
