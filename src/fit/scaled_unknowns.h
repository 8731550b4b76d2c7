// The unknowns as the library methods see them: y_j = x_j / s_j over the
// Objective's coordinates x of the free parameters, with scales s_j chosen
// so that every unknown has about the same effect on the residuals whatever
// its units (alpha-pinene's rates near 1e-5 per minute, theophylline's near
// 5 per hour). Shared by lm and lbfgsb.
//
// The least-squares view of the objective (for lm): the standardised
// residuals r, and, when S is −2 ln L with a σ that varies, one more
// residual per measurement, e_m = sqrt(2 ln σ_m + c_m), so that
// Σ r² + Σ e² = S + const. The c_m are set by center_sigma_rows() so that
// every e_m² is kSigmaRowStart at that point; a step that shrinks a σ by
// more than a factor exp(kSigmaRowStart/2) makes e_m NaN and is refused
// (lm re-centres at the start of every round). Its Jacobian row is
// ∂ln σ_m/∂y / e_m, whose Gauss–Newton term 1/e_m² per measurement makes,
// with e_m² near 1, the Gauss–Newton matrix the Fisher information of a
// pure scale parameter, as it is for the r rows.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "fit/monitor.h"
#include "fit/objective.h"
#include "fit/summary.h"

namespace identify {

// sqrt(sum of v[k]²) over `count` values `stride` apart, without overflow or
// underflow in the squares: 1e300 and 1e-300 have norms 1e300 and 1e-300.
// Infinite if a value is, NaN if one is NaN. Where the plain sum of squares
// is a normal finite number it is used as it is, to the last bit.
double robust_norm(const double* v, std::size_t count, std::size_t stride);

// The scale of an unknown whose start is `value` within [lower, upper] (in
// x; infinite bounds allowed): reference / column, or 1 where that, the
// scaled start or a finite scaled bound would not be a finite nonzero
// number (a column or a reference that overflowed or underflowed), so that
// the scaled unknowns are never inf or NaN.
double usable_scale(double reference, double column, double value, double lower,
                    double upper);

class ScaledUnknowns {
 public:
  // Scales 1; the current point is `start`, the coordinates x of the
  // objective's free parameters (one each, within their bounds).
  ScaledUnknowns(Objective& objective, std::vector<double> start);

  Objective& objective() { return f_; }
  int size() const { return f_.size(); }
  // Residuals of the least-squares view: r, then the e rows if any.
  int residual_count() const {
    const auto n = static_cast<int>(f_.residual_count());
    return f_.has_sigma_rows() ? 2 * n : n;
  }
  double scale(int j) const { return scale_[j]; }
  // Bounds of unknown j in y (infinite where the parameter has none).
  double lower(int j) const { return f_.lower(j) / scale_[j]; }
  double upper(int j) const { return f_.upper(j) / scale_[j]; }
  // x_j at the current point.
  double x(int j) const { return x_[j]; }

  // Residual norm sqrt(S) at the current point (−2 ln L when that is the
  // objective); NaN if the model call was cut short by the stop flag.
  double evaluate_current();

  // Moves the current point to x = s·y and returns its residual norm (or
  // −2 ln L). A
  // scaled bound in y gives exactly the bound in x; every unknown is
  // clamped into its interval.
  double evaluate(const double* y);

  // S at the last point evaluated.
  double cost() const { return f_.value(); }
  // The least-squares residuals at the last point evaluated.
  void residuals(double* r) const;
  // Sets c_m so that every e_m² is kSigmaRowStart at the last point
  // evaluated.
  void center_sigma_rows();

  // ∂r/∂y_j (and ∂e/∂y_j) for the unknowns j listed, at the last point
  // evaluated: row-major, residual_count() × columns.size().
  void jacobian(const std::vector<int>& columns, double* out);

  // factor·∂S/∂y at the last point evaluated.
  void gradient(double factor, double* out);

  // Sets the scales from the Jacobian at the current point and returns the
  // scaled current point, within the scaled bounds: s_j = r0 / c_j with r0
  // the residual norm (1 if it is 0 or not finite) and c_j the norm of
  // column j of ∂r/∂x, or `stand_in[j]` where that column is zero or not
  // finite; usable_scale() keeps every scale and scaled value finite.
  std::vector<double> scale_at_current(const std::vector<double>& stand_in);

 private:
  Objective& f_;
  std::vector<double> x_;
  std::vector<double> scale_;
  std::vector<double> sigma_offset_;  // c_m
};

inline constexpr double kSigmaRowStart = 1.0;

// For each free parameter that stands alone in a matrix entry A[i][j], the
// norm its Jacobian column would have at A = 0 if x_i were observed at
// every measurement and x_j kept its typical size m_j throughout:
// m_j·sqrt(sum of t² over the measurements), m_j the largest of |x0_j| and
// the measured values of the observables that read x_j (1 if all are 0).
// NaN for the other parameters (their scale falls back to 1). Computed
// without overflow; may still be infinite for m_j near 1e308.
std::vector<double> stand_in_columns(const Objective& objective);

// The start of a library run: evaluates the current point and hands it to
// the monitor as the start. Returns the end of a run that is over before
// the library is called: cut short by the stop flag (kInterrupted), a start
// whose residual norm is not finite (kDiverged, after its iteration), or no
// unknowns at all (kOptimumReached after one iteration: nothing to move),
// and nothing when the library is to run.
std::optional<Summary> start_library_run(const char* method,
                                         ScaledUnknowns& unknowns,
                                         Monitor& monitor);

// The summary of a library run that `method` ended with `end` and
// `message` (unless the monitor ended it): named, with its model calls.
Summary finish_library_run(const char* method, Termination end,
                           std::string message, const Monitor& monitor,
                           const Objective& objective);

}  // namespace identify
