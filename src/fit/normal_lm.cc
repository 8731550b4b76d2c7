// Levenberg–Marquardt in Ceres Solver's trust-region form, on the normal
// equations. With cost c(y) = ½‖r‖², N = JᵀJ and g = Jᵀr formed once per
// Jacobian (a symmetric rank-n update), each trial step solves
// (N + I/Δ)·δ = −g by Cholesky for the radius Δ, and the candidate is
// y + δ projected onto the box. The model decrease is
// m = −(Jδ)ᵀ(r + Jδ/2), the step quality ρ = (c(y) − c(candidate))/m; a step
// with ρ > 1e-3 is taken and Δ ← Δ / max(1/3, 1 − (2ρ − 1)³), ν ← 2,
// otherwise Δ ← Δ/ν, ν ← 2ν. A step that is not finite, whose Cholesky
// fails or that predicts no decrease is invalid and shrinks Δ the same way.
// The run converges when ‖Δy‖ ≤ tol·(‖y‖ + tol), when |Δc| ≤ tol·c, or when
// Δ falls below 1e-32, as Ceres' does. The first radius is
// 1/(1e-3·max diag N) rather than Ceres' fixed 1e4.
#include "fit/normal_lm.h"

#include <Eigen/Cholesky>
#include <Eigen/Core>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

#include "core/large_page_allocator.h"
#include "fit/gram.h"

namespace identify {

namespace {

using RowMajor =
    Eigen::Matrix<double, Eigen::Dynamic, Eigen::Dynamic, Eigen::RowMajor>;

constexpr double kInitialDamping = 1e-3;
constexpr double kCeresInitialRadius = 1e4;  // where JᵀJ has no scale
constexpr double kMaxRadius = 1e16;
constexpr double kMinRadius = 1e-32;
constexpr double kMinRelativeDecrease = 1e-3;
constexpr int kMaxInvalidSteps = 5;

std::string format(const char* pattern, double a, double b) {
  char text[160];
  std::snprintf(text, sizeof text, pattern, a, b);
  return text;
}

// The radius schedule of Ceres' Levenberg–Marquardt strategy.
struct Radius {
  double radius;
  double decrease = 2.0;
  void accepted(double quality) {
    const double shrink = 1.0 - std::pow(2.0 * quality - 1.0, 3);
    radius = std::min(kMaxRadius, radius / std::max(1.0 / 3.0, shrink));
    decrease = 2.0;
  }
  void rejected() {
    radius /= decrease;
    decrease *= 2.0;
  }
};

// The first radius, 1/μ₀ with μ₀ = τ·max diag(JᵀJ) and τ = 1e-3
// (Madsen, Nielsen and Tingleff): damping on the scale of the problem's
// own curvature, so that the first steps stay near the linearisation that
// produced them instead of jumping as far as Gauss–Newton would.
double initial_radius(const Eigen::MatrixXd& normal) {
  const double largest = normal.diagonal().maxCoeff();
  if (!(largest > 0.0) || !std::isfinite(largest)) return kCeresInitialRadius;
  return std::clamp(1.0 / (kInitialDamping * largest), kMinRadius, kMaxRadius);
}

// The normal equations of residuals given as r and J: the source of the
// overload that takes a residual function. It keeps J (n × q) and r of the
// last accepted point, and computes the model decrease from them.
class ResidualSource : public NormalEquations {
 public:
  ResidualSource(const NormalLmResiduals& residuals, int n, int q)
      : residuals_(residuals),
        r_(n),
        candidate_r_(n),
        jacobian_data_(static_cast<std::size_t>(n) * q),
        jacobian_(jacobian_data_.data(), n, q),
        gram_(q) {}

  bool cost(const double* y, double& c) override {
    if (!residuals_(y, candidate_r_.data(), nullptr)) return false;
    c = 0.5 * candidate_r_.squaredNorm();
    return true;
  }
  bool normal(const double* y, double& c, Eigen::MatrixXd& N,
              Eigen::VectorXd& g) override {
    if (!residuals_(y, r_.data(), jacobian_.data())) return false;
    gram_.compute(jacobian_.data(), static_cast<std::size_t>(r_.size()), N);
    g.noalias() = jacobian_.transpose() * r_;
    c = 0.5 * r_.squaredNorm();
    return true;
  }
  double model_decrease(const Eigen::VectorXd& delta, const Eigen::MatrixXd&,
                        const Eigen::VectorXd&) const override {
    const Eigen::VectorXd model = jacobian_ * delta;
    return -model.dot(r_ + 0.5 * model);
  }

 private:
  const NormalLmResiduals& residuals_;
  Eigen::VectorXd r_, candidate_r_;
  LargeBuffer jacobian_data_;  // J, row-major
  Eigen::Map<RowMajor> jacobian_;
  Gram gram_;
};

// The current iterate: its cost and normal equations.
struct Iterate {
  double cost = 0.0;
  Eigen::MatrixXd normal;  // JᵀJ, lower triangle
  Eigen::VectorXd gradient;
};

// The step for radius Δ and the cost decrease the linear model predicts; an
// empty step where it is unusable.
struct Step {
  Eigen::VectorXd delta;
  double model_decrease = 0.0;
  bool valid = false;
};

Step trial_step(const NormalEquations& source, const Iterate& at,
                double radius) {
  Step step;
  Eigen::MatrixXd damped = at.normal;
  damped.diagonal().array() += 1.0 / radius;
  const Eigen::LLT<Eigen::MatrixXd, Eigen::Lower> cholesky(damped);
  if (cholesky.info() != Eigen::Success) return step;
  step.delta = -cholesky.solve(at.gradient);
  if (!step.delta.allFinite()) return step;
  step.model_decrease =
      source.model_decrease(step.delta, at.normal, at.gradient);
  step.valid = step.model_decrease > 0.0;
  return step;
}

// Ends the run: the termination and its message.
void finish(ceres::Solver::Summary& summary, ceres::TerminationType type,
            std::string message) {
  summary.termination_type = type;
  summary.message = std::move(message);
}

// Records a step and runs the callback; false (with the summary finished)
// when the run is to end there.
bool close_step(const ceres::IterationSummary& step,
                ceres::IterationCallback& callback,
                ceres::Solver::Summary& summary) {
  summary.iterations.push_back(step);
  switch (callback(step)) {
    case ceres::SOLVER_TERMINATE_SUCCESSFULLY:
      finish(summary, ceres::USER_SUCCESS,
             "User callback returned SOLVER_TERMINATE_SUCCESSFULLY.");
      return false;
    case ceres::SOLVER_ABORT:
      finish(summary, ceres::USER_FAILURE,
             "User callback returned SOLVER_ABORT.");
      return false;
    default:
      break;
  }
  if (step.trust_region_radius < kMinRadius) {
    finish(summary, ceres::CONVERGENCE,
           format("Minimum trust region radius reached. Trust region radius: "
                  "%e <= %e",
                  step.trust_region_radius, kMinRadius));
    return false;
  }
  return true;
}

}  // namespace

double NormalEquations::model_decrease(const Eigen::VectorXd& delta,
                                       const Eigen::MatrixXd& N,
                                       const Eigen::VectorXd& g) const {
  const Eigen::VectorXd curvature = N.selfadjointView<Eigen::Lower>() * delta;
  return -(g.dot(delta) + 0.5 * delta.dot(curvature));
}

void normal_lm(const NormalLmResiduals& residuals, int n,
               std::vector<double>& y, const std::vector<double>& lower,
               const std::vector<double>& upper,
               const NormalLmSettings& settings,
               ceres::IterationCallback& callback,
               ceres::Solver::Summary& summary) {
  ResidualSource source(residuals, n, static_cast<int>(y.size()));
  normal_lm(source, y, lower, upper, settings, callback, summary);
}

void normal_lm(NormalEquations& source, std::vector<double>& y,
               const std::vector<double>& lower,
               const std::vector<double>& upper,
               const NormalLmSettings& settings,
               ceres::IterationCallback& callback,
               ceres::Solver::Summary& summary) {
  const auto q = static_cast<Eigen::Index>(y.size());
  summary.iterations.clear();
  Iterate at;
  if (!source.normal(y.data(), at.cost, at.normal, at.gradient)) {
    finish(summary, ceres::FAILURE,
           "Initial residual and Jacobian evaluation failed.");
    return;
  }
  Radius radius{initial_radius(at.normal)};
  ceres::IterationSummary zero;
  zero.cost = at.cost;
  zero.gradient_max_norm = at.gradient.lpNorm<Eigen::Infinity>();
  zero.trust_region_radius = radius.radius;
  if (!close_step(zero, callback, summary)) return;
  std::vector<double> candidate(y.size());
  int invalid = 0;
  for (int iteration = 1;; ++iteration) {
    ceres::IterationSummary s;
    s.iteration = iteration;
    s.cost = at.cost;
    const Step step = trial_step(source, at, radius.radius);
    if (!step.valid) {
      radius.rejected();
      s.trust_region_radius = radius.radius;
      if (++invalid >= kMaxInvalidSteps) {
        summary.iterations.push_back(s);
        finish(summary, ceres::FAILURE,
               "Number of consecutive invalid steps more than "
               "Solver::Options::max_num_consecutive_invalid_steps: " +
                   std::to_string(kMaxInvalidSteps));
        return;
      }
      if (!close_step(s, callback, summary)) return;
      continue;
    }
    invalid = 0;
    s.step_is_valid = true;
    double step_squared = 0.0, y_squared = 0.0;
    for (Eigen::Index k = 0; k < q; ++k) {
      const double moved = y[k] + step.delta[k];
      candidate[k] = std::clamp(moved, lower[k], upper[k]);
      step_squared += (y[k] - candidate[k]) * (y[k] - candidate[k]);
      y_squared += y[k] * y[k];
    }
    s.step_norm = std::sqrt(step_squared);
    double candidate_cost = 0.0;
    if (!source.cost(candidate.data(), candidate_cost)) {
      candidate_cost = std::numeric_limits<double>::max();
    }
    const double relative_step =
        s.step_norm / (std::sqrt(y_squared) + settings.parameter_tolerance);
    if (relative_step <= settings.parameter_tolerance) {
      finish(summary, ceres::CONVERGENCE,
             format("Parameter tolerance reached. Relative step_norm: %e <= "
                    "%e.",
                    relative_step, settings.parameter_tolerance));
      return;
    }
    s.cost_change = at.cost - candidate_cost;
    if (std::fabs(s.cost_change) <= settings.function_tolerance * at.cost) {
      finish(summary, ceres::CONVERGENCE,
             format("Function tolerance reached. |cost_change|/cost: %e <= %e",
                    std::fabs(s.cost_change) / at.cost,
                    settings.function_tolerance));
      return;
    }
    s.relative_decrease = s.cost_change / step.model_decrease;
    if (s.relative_decrease > kMinRelativeDecrease) {
      y = candidate;
      if (!source.normal(y.data(), at.cost, at.normal, at.gradient)) {
        finish(summary, ceres::FAILURE,
               "Residual and Jacobian evaluation failed.");
        return;
      }
      radius.accepted(s.relative_decrease);
      s.step_is_successful = true;
      s.cost = at.cost;
      s.gradient_max_norm = at.gradient.lpNorm<Eigen::Infinity>();
    } else {
      radius.rejected();
    }
    s.trust_region_radius = radius.radius;
    if (!close_step(s, callback, summary)) return;
  }
}

}  // namespace identify
