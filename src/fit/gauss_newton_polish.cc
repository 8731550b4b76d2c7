// Gauss–Newton polish. With r the residuals at y, J = ∂r/∂y scaled to
// unit-norm columns, Js = J·D⁻¹ = U Σ Vᵀ, the step over the k directions
// kept (σ_i ≥ σ₁/kIllConditioned) is δ = −D⁻¹ Σ_{i≤k} v_i (u_iᵀr)/σ_i, and
// the decrease of S = |r|² it predicts is P = Σ_{i≤k} (u_iᵀr)². With
// v = S/(n − k) the noise variance, P/v is the step's squared length in the
// metric JᵀJ/v: no estimate moves by more than sqrt(P/v) of its standard
// error. A relative cost test ends a fit where S has stopped changing, which
// is where the estimates are still about sqrt(ε) of a standard error away;
// near the optimum Gauss–Newton converges linearly at the rate set by the
// residuals' curvature, so a few steps bring the estimates to rounding. S
// has standard deviation v·sqrt(2(n − k)) over repeated data sets; on a
// Jacobian with flat directions, a predicted decrease far below that buys
// nothing that the data could tell, and the polish stops there. A tall J
// of many unknowns whose every direction is well resolved takes the same
// step, all q directions kept, from the normal equations of Js
// (scaled_normal.h): Ns·z = Jsᵀr, δ = −D⁻¹z, P = (Jsᵀr)ᵀz.
#include "fit/gauss_newton_polish.h"

#include <Eigen/Core>
#include <Eigen/QR>
#include <Eigen/SVD>
#include <cmath>
#include <limits>
#include <optional>

#include "core/large_page_allocator.h"
#include "fit/fit_statistics.h"
#include "fit/gram.h"
#include "fit/normal_lm.h"
#include "fit/scaled_normal.h"
#include "fit/wording.h"

namespace identify {

namespace {

using RowMajor =
    Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;

// A rise of S by this fraction or less is rounding.
constexpr double kRoundingRise = 64.0 * std::numeric_limits<double>::epsilon();

// A step longer than this fraction of the one before is taken to be set by
// rounding: Gauss–Newton no longer converges there.
constexpr double kRoundingFloor = 0.8;

struct StepFound {
  Eigen::VectorXd delta;
  int rank = 0;
  double predicted = 0.0;
};

// The singular values, right singular vectors and Uᵀ·r of Js (n×q). From
// kTriangularFirst unknowns on (and with n >= q) Js = Q·R first and the
// SVD is that of R (q×q), Uᵀ·r = U_Rᵀ·(Qᵀ·r): the same factors for a
// fraction of the work when n is many times q.
constexpr int kTriangularFirst = 200;

struct Decomposed {
  Eigen::VectorXd sigma;
  Eigen::MatrixXd V;
  Eigen::VectorXd projected;  // Uᵀ·r
};

Decomposed decompose(const Eigen::MatrixXd& Js,
                     const Eigen::Map<const Eigen::VectorXd>& residuals) {
  Decomposed d;
  const auto q = Js.cols();
  if (q < kTriangularFirst || Js.rows() < q) {
    const Eigen::JacobiSVD<Eigen::MatrixXd> svd(
        Js, Eigen::ComputeThinU | Eigen::ComputeThinV);
    d.sigma = svd.singularValues();
    d.V = svd.matrixV();
    d.projected = svd.matrixU().transpose() * residuals;
    return d;
  }
  const Eigen::HouseholderQR<Eigen::MatrixXd> qr(Js);
  const Eigen::MatrixXd R =
      qr.matrixQR().topRows(q).triangularView<Eigen::Upper>();
  Eigen::VectorXd rotated = residuals;
  rotated.applyOnTheLeft(qr.householderQ().adjoint());
  const Eigen::BDCSVD<Eigen::MatrixXd> svd(
      R, Eigen::ComputeThinU | Eigen::ComputeThinV);
  d.sigma = svd.singularValues();
  d.V = svd.matrixV();
  d.projected = svd.matrixU().transpose() * rotated.head(q);
  return d;
}

// The step from the normal equations of Js (scaled_normal.h): Ns·z = Jsᵀr,
// δ = −D⁻¹z, P = (Jsᵀr)ᵀz; false where they are not accurate enough.
bool normal_step(Gram& gram, const LargeBuffer& jacobian,
                 const std::vector<double>& r, int n, StepFound& s) {
  const ScaledNormal normal =
      scaled_normal(gram, jacobian.data(), static_cast<std::size_t>(n));
  if (!normal.usable) return false;
  const int q = gram.columns();
  const Eigen::Map<const RowMajor> J(jacobian.data(), n, q);
  const Eigen::Map<const Eigen::VectorXd> residuals(r.data(), n);
  const Eigen::VectorXd g =
      (J.transpose() * residuals).cwiseQuotient(normal.norms);
  const Eigen::VectorXd z = normal.cholesky.solve(g);
  s.rank = q;
  s.predicted = g.dot(z);
  s.delta = -z.cwiseQuotient(normal.norms);
  return s.delta.allFinite();
}

// `gram` is null where the problem is too small or too short for the
// normal equations.
StepFound gauss_newton_step(Gram* gram, const LargeBuffer& jacobian,
                            const std::vector<double>& r, int n, int q) {
  StepFound s;
  if (gram != nullptr && normal_step(*gram, jacobian, r, n, s)) return s;
  const Eigen::Map<const RowMajor> J(jacobian.data(), n, q);
  const Eigen::VectorXd norms = J.colwise().norm().transpose();
  Eigen::MatrixXd Js = Eigen::MatrixXd::Zero(n, q);
  for (int c = 0; c < q; ++c) {
    if (norms[c] > 0.0) Js.col(c) = J.col(c) / norms[c];
  }
  const Eigen::Map<const Eigen::VectorXd> residuals(r.data(), n);
  const Decomposed svd = decompose(Js, residuals);
  const Eigen::VectorXd& sigma = svd.sigma;
  s.rank = 0;
  for (Eigen::Index i = 0; i < sigma.size(); ++i) {
    if (sigma[i] > 0.0 && sigma[0] / sigma[i] <= kIllConditioned) ++s.rank;
  }
  const Eigen::VectorXd c = svd.projected.head(s.rank);
  s.predicted = c.squaredNorm();
  const Eigen::VectorXd scaled =
      -svd.V.leftCols(s.rank) * c.cwiseQuotient(sigma.head(s.rank));
  s.delta = Eigen::VectorXd::Zero(q);
  for (int j = 0; j < q; ++j) {
    if (norms[j] > 0.0) s.delta[j] = scaled[j] / norms[j];
  }
  return s;
}

double sum_of_squares(const std::vector<double>& r) {
  double s = 0.0;
  for (double v : r) s = v * v + s;
  return s;
}

// The statistics of the step found at a point with sum of squares `S`.
void describe(PolishEnd& end, const StepFound& step, double S, int n) {
  end.rank = step.rank;
  end.predicted = step.predicted;
  const int dof = n - step.rank;
  const double v = dof > 0 ? S / dof : std::numeric_limits<double>::quiet_NaN();
  end.spread = v * std::sqrt(2.0 * dof);
  end.length = step.predicted == 0.0 ? 0.0 : std::sqrt(step.predicted / v);
}

bool inside(const std::vector<double>& y, const std::vector<double>& lower,
            const std::vector<double>& upper) {
  for (std::size_t j = 0; j < y.size(); ++j) {
    if (!(y[j] >= lower[j] && y[j] <= upper[j])) return false;
  }
  return true;
}

// Where the polish stands: S at the current point and the step from it.
// A point whose step cannot be found there (nullopt) hands the polish
// over to another.
class PolishPoint {
 public:
  virtual ~PolishPoint() = default;
  // S and the derivatives at y; false where they are not usable.
  virtual bool move_to(const double* y, double& S) = 0;
  // S alone at y.
  virtual bool value_at(const double* y, double& S) = 0;
  virtual std::optional<StepFound> step() = 0;
};

// From a residual function: r and J copied at each point.
class ResidualPoint : public PolishPoint {
 public:
  ResidualPoint(const ResidualFunction& f, int n, int q)
      : f_(f),
        n_(n),
        q_(q),
        r_(n),
        trial_r_(n),
        jacobian_(static_cast<std::size_t>(n) * q) {
    // Buffers for the normal equations only where they may be used.
    if (q >= kTriangularFirst && n >= q) gram_.emplace(q);
  }
  bool move_to(const double* y, double& S) override {
    if (!f_(y, r_.data(), jacobian_.data())) return false;
    S = sum_of_squares(r_);
    return true;
  }
  bool value_at(const double* y, double& S) override {
    if (!f_(y, trial_r_.data(), nullptr)) return false;
    S = sum_of_squares(trial_r_);
    return true;
  }
  std::optional<StepFound> step() override {
    return gauss_newton_step(gram_ ? &*gram_ : nullptr, jacobian_, r_, n_, q_);
  }

 private:
  const ResidualFunction& f_;
  int n_, q_;
  std::vector<double> r_, trial_r_;
  LargeBuffer jacobian_;
  std::optional<Gram> gram_;
};

// From normal equations: N and g at each point, nothing per residual; the
// step only where the scaled normal equations are usable.
class NormalPoint : public PolishPoint {
 public:
  explicit NormalPoint(NormalEquations& source) : source_(source) {}
  bool move_to(const double* y, double& S) override {
    double c = 0.0;
    if (!source_.normal(y, c, normal_, gradient_)) return false;
    S = 2.0 * c;
    return true;
  }
  bool value_at(const double* y, double& S) override {
    double c = 0.0;
    if (!source_.cost(y, c)) return false;
    S = 2.0 * c;
    return true;
  }
  std::optional<StepFound> step() override {
    const ScaledNormal normal = scaled_normal(normal_);
    if (!normal.usable) return std::nullopt;
    StepFound s;
    const Eigen::VectorXd g = gradient_.cwiseQuotient(normal.norms);
    const Eigen::VectorXd z = normal.cholesky.solve(g);
    s.rank = static_cast<int>(g.size());
    s.predicted = g.dot(z);
    s.delta = -z.cwiseQuotient(normal.norms);
    if (!s.delta.allFinite()) return std::nullopt;
    return s;
  }

 private:
  NormalEquations& source_;
  Eigen::MatrixXd normal_;
  Eigen::VectorXd gradient_;
};

// The steps and stops of the polish from `point`, from y. nullopt where
// the point could not find a step (y then at the last point reached,
// `end.steps` counting the steps taken).
std::optional<PolishEnd> run_polish(PolishPoint& point, int residuals,
                                    std::vector<double>& y,
                                    const std::vector<double>& lower,
                                    const std::vector<double>& upper,
                                    const StepTaken& taken, PolishEnd& end) {
  const int q = static_cast<int>(y.size());
  end.unknowns = q;
  if (q == 0 || residuals == 0) return end;
  end.stop = PolishStop::kFailed;
  double S = 0.0;
  if (!point.move_to(y.data(), S)) return end;
  double previous = std::numeric_limits<double>::infinity();
  for (;;) {
    const std::optional<StepFound> found = point.step();
    if (!found) return std::nullopt;
    const StepFound& step = *found;
    describe(end, step, S, residuals);
    if (step.rank < q && step.predicted <= kFarBelowNoise * end.spread) {
      end.stop = PolishStop::kStatistical;
      return end;
    }
    if (end.length <= kPolishTarget) {
      end.stop = PolishStop::kConverged;
      return end;
    }
    if (step.predicted > kRoundingFloor * kRoundingFloor * previous) {
      end.stop = PolishStop::kRounding;
      return end;
    }
    if (end.steps == kPolishMaxSteps) {
      end.stop = PolishStop::kStepLimit;
      return end;
    }
    std::vector<double> trial(y);
    for (int j = 0; j < q; ++j) trial[j] += step.delta[j];
    if (!inside(trial, lower, upper)) {
      end.stop = PolishStop::kBounds;
      return end;
    }
    double trial_S = 0.0;
    if (!point.value_at(trial.data(), trial_S)) return end;
    if (!(trial_S <= S + kRoundingRise * S)) {
      end.stop = PolishStop::kRise;
      return end;
    }
    if (!point.move_to(trial.data(), S)) return end;
    y = trial;
    S = trial_S;
    previous = step.predicted;
    ++end.steps;
    if (!taken()) return end;
  }
}

}  // namespace

PolishEnd polish(const ResidualFunction& f, int residuals,
                 std::vector<double>& y, const std::vector<double>& lower,
                 const std::vector<double>& upper, const StepTaken& taken) {
  ResidualPoint point(f, residuals, static_cast<int>(y.size()));
  PolishEnd end;
  return *run_polish(point, residuals, y, lower, upper, taken, end);
}

PolishEnd polish(NormalEquations& source, const ResidualFunction& f,
                 int residuals, std::vector<double>& y,
                 const std::vector<double>& lower,
                 const std::vector<double>& upper, const StepTaken& taken) {
  PolishEnd end;
  {
    NormalPoint point(source);
    const std::optional<PolishEnd> done =
        run_polish(point, residuals, y, lower, upper, taken, end);
    if (done) return *done;
  }
  const int before = end.steps;
  ResidualPoint point(f, residuals, static_cast<int>(y.size()));
  PolishEnd rest;
  rest = *run_polish(point, residuals, y, lower, upper, taken, rest);
  rest.steps += before;
  return rest;
}

std::string polish_text(const PolishEnd& end) {
  if (end.stop == PolishStop::kNothing || end.stop == PolishStop::kFailed) {
    return "";
  }
  const std::string steps =
      count_text(end.steps, "Gauss–Newton step", "Gauss–Newton steps");
  if (end.stop == PolishStop::kStatistical) {
    std::string text = ", the Jacobian has rank " + std::to_string(end.rank) +
                       " of " + std::to_string(end.unknowns) + ": stopped";
    if (end.steps > 0) text += " after " + steps;
    return text + " where a Gauss–Newton step would lower the objective by " +
           number_text(end.predicted) + ", far below its noise spread " +
           number_text(end.spread);
  }
  const std::string size =
      std::isfinite(end.length)
          ? " of " + number_text(end.length) + " standard errors"
          : " (predicted to lower the objective by " +
                number_text(end.predicted) + ")";
  std::string text = end.steps > 0 ? ", then " + steps + ":" : ",";
  switch (end.stop) {
    case PolishStop::kRise:
      return text + " a further Gauss–Newton step" + size +
             " did not lower the objective";
    case PolishStop::kBounds:
      return text + " a further Gauss–Newton step" + size +
             " would leave the bounds";
    default:
      break;
  }
  if (!std::isfinite(end.length)) {
    return text + " a further step would lower the objective by " +
           number_text(end.predicted);
  }
  return text + " the estimates lie within " + number_text(end.length) +
         " standard errors of the optimum";
}

}  // namespace identify
