// The residuals of a fit as the library methods see them: a function of
// scaled unknowns y, one per entry of A that is neither fixed nor confined to
// a single point, with u = scale·y in the units of A. Shared by the
// Levenberg–Marquardt and the quasi-Newton method (least_squares.cc).
#pragma once

#include <cstdint>
#include <vector>

#include "core/table.h"
#include "input/records.h"
#include "model/matrix_model.h"

namespace identify {

// Work done by one fit: calls of MatrixModel::evaluate, MatrixModel::jacobian
// (lm, and once at the start of either method to scale the unknowns) and
// MatrixModel::gradient (lbfgsb). A call at the matrix of the previous
// evaluate() reuses its result and is not counted again.
struct FitCounts {
  std::int64_t evaluations = 0;
  std::int64_t jacobians = 0;
  std::int64_t gradients = 0;
};

struct Unknown {
  int entry = 0;  // i·N + j
  bool bounded = false;
  double lower = 0.0;  // in units of A
  double upper = 0.0;
  double scale = 1.0;  // u = scale·y; always finite and above 0
};

// Sets the fixed entries of A, clamps the bounded ones into their intervals
// and returns the rest as unknowns, in row-major order of A.
std::vector<Unknown> prepare_unknowns(const ProblemRecord& problem, Matrix& A);

// sqrt(sum of v[k]²) over `count` values `stride` apart, without overflow or
// underflow in the squares: 1e300 and 1e-300 have norms 1e300 and 1e-300.
// Infinite if a value is, NaN if one is NaN. Where the plain sum of squares
// is a normal finite number it is used as it is, to the last bit.
double robust_norm(const double* v, std::size_t count, std::size_t stride);

// The scale of an unknown whose start value is `value` (see Residuals):
// reference / column, or 1 where that, the scaled start or a scaled bound
// would not be a finite nonzero number (a column or a reference that
// overflowed or underflowed), so that the scaled unknowns are never inf or
// NaN.
double usable_scale(double reference, double column, double value,
                    const Unknown& u);

// The residuals r(y) = M(A(y)) − d over every sample, with the model call
// skipped when the matrix is bit for bit the one last evaluated (the
// libraries ask for the value and then the derivative at one point). Works
// on the caller's A in place. After a call that the model's stop flag cut
// short, nothing is cached and the norm returned is NaN.
class Residuals {
 public:
  Residuals(const ObservationRecord& obs, MatrixModel& model, Matrix& A,
            std::vector<Unknown> unknowns, FitCounts& counts);

  int unknowns() const { return static_cast<int>(unknowns_.size()); }
  int samples() const { return static_cast<int>(data_.size()); }
  const Unknown& unknown(int j) const { return unknowns_[j]; }
  const Matrix& matrix() const { return A_; }
  // The model's stop flag is set: the last call may have been cut short.
  bool stop_requested() const { return model_.stop_requested(); }

  // Residual norm at the current A (the start before any call with y).
  double evaluate_current();

  // Sets A from y and returns its residual norm. A scaled bound in y gives
  // exactly the bound in A; every entry is clamped into its interval.
  double evaluate(const double* y);

  double cost() const { return cost_; }  // sum of squares at the last A
  void residuals(double* r) const;

  // dM/dA at the last evaluated A, all N² columns (unscaled).
  const Table& full_jacobian();

  // dr/dy_j for the unknowns j listed, at the last evaluated A: row-major,
  // samples × columns.size().
  void jacobian(const std::vector<int>& columns, double* out);

  // factor · dS/dy at the last evaluated A.
  void gradient(double factor, double* out);

  // Sets the scales from the Jacobian at the current A and returns the
  // scaled current point, within the scaled bounds: scale_j = r0 / c_j with
  // r0 the residual norm (1 if it is 0 or not finite) and c_j the norm of
  // column j of the Jacobian, or `stand_in[j]` where that column is zero or
  // not finite; usable_scale() keeps every scale and scaled value finite.
  std::vector<double> scale_at_current(const std::vector<double>& stand_in);

 private:
  const Table& data_;
  MatrixModel& model_;
  Matrix& A_;
  std::vector<Unknown> unknowns_;
  FitCounts& counts_;
  Table M_, H_;
  Matrix G_;
  Table J_;
  Matrix last_;                  // the A of M_
  bool valid_ = false;           // M_ belongs to last_
  bool jacobian_valid_ = false;  // J_ belongs to last_
  bool gradient_valid_ = false;  // G_ belongs to last_
  double norm_ = 0.0;
  double cost_ = 0.0;
};

// For each unknown A[i][j], the norm its Jacobian column would have at
// A = 0 if component i were observed at every sample and x_j kept its
// typical size m_j throughout: m_j·sqrt(sum of t² over the samples), with
// m_j the largest of |x0_j| and the measurements of x_j (1 if all are 0).
// Computed without overflow; may still be infinite for m_j near 1e308.
std::vector<double> stand_in_columns(const ProblemRecord& problem,
                                     const ObservationRecord& obs,
                                     const Residuals& residuals);

}  // namespace identify
