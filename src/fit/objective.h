// The objective of a fit as every method sees it. For parameters θ (the
// free ones moved by the method, the others held at a base vector) the
// weighted residual of measurement m is
//
//   r_m = (y_m(θ) − v_m) / σ_m(θ),
//
// y from the Model, v the measured value, σ its standard deviation (an
// expression, 1 when not given), and the objective is
//
//   S = Σ r_m²                      (+ Σ 2·ln σ_m when a σ depends on a free
//                                     parameter: then S is −2·ln L up to a
//                                     constant, and not a sum of squares).
//
// Methods work in coordinates x_j = scale_j(θ_{k_j}) of the free parameters
// k_j (lin: θ itself, log: ln θ, log10: log10 θ), with bounds mapped alike,
// and get r, S, ∂r/∂x and ∂S/∂x there. The last evaluation is kept, and a
// call at the same point (bit for bit) does not call the model again, since
// the libraries ask for values and derivatives at one point separately.
// A model call that the model's stop flag cut short is not kept: its
// results are incomplete, and stop_requested() says so. Working storage is
// sized in the constructor, but for the Jacobian's, which the first
// jacobian() sizes (the descent never asks for one, and for a large legacy
// problem it would be measurements × N²); no later call allocates.
#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <vector>

#include "core/table.h"
#include "model/model.h"
#include "problem/fit_problem.h"

namespace identify {

struct ObjectiveCounts {
  std::int64_t evaluations = 0;  // Model::evaluate
  std::int64_t jacobians = 0;    // Model::jacobian
  std::int64_t gradients = 0;    // Model::gradient
  double model_seconds = 0.0;    // wall time spent in those calls
};

class Objective {
 public:
  // `free`: the parameters the method moves (distinct indices); `base`: a
  // value for every parameter, used for the others. Keeps references to
  // `problem` and `model`.
  Objective(const FitProblem& problem, Model& model, std::vector<int> free,
            std::vector<double> base);

  const FitProblem& problem() const { return problem_; }
  Model& model() const { return model_; }
  // The model's stop flag is set: the last model call may have been cut
  // short, and its results were dropped.
  bool stop_requested() const { return model_.stop_requested(); }
  int size() const { return static_cast<int>(free_.size()); }
  const std::vector<int>& free() const { return free_; }
  std::size_t residual_count() const { return r_.size(); }
  // True when some σ depends on a free parameter (S has the ln σ terms).
  bool noise_is_estimated() const { return noise_estimated_; }

  // The bounds of free parameter j in x (a lower bound 0 on a log scale is
  // -inf).
  double lower(int j) const;
  double upper(int j) const;
  // x of the free parameters at θ.
  std::vector<double> coordinates(std::span<const double> theta) const;

  // S at x (the free parameters' coordinates).
  double evaluate(std::span<const double> x);
  // S at a full θ (every parameter; the free ones need not agree with any
  // x). For the descent, which steps on θ itself.
  double evaluate_theta(std::span<const double> theta);

  // At the last evaluation:
  double value() const { return value_; }
  const std::vector<double>& theta() const { return eval_.theta; }
  const std::vector<double>& residuals() const { return r_; }
  const Evaluation& evaluation() const { return eval_; }
  // σ_m at the last evaluation.
  const std::vector<double>& sigmas() const { return sigma_; }
  // ∂r/∂x: residual_count() × size().
  const Table& jacobian();
  // ∂S/∂x: size() entries.
  const std::vector<double>& gradient();
  // ∂S/∂θ_k for every parameter k: the descent's direction.
  const std::vector<double>& full_gradient();

  const ObjectiveCounts& counts() const { return counts_; }

 private:
  void run_model();
  // Adds the time since `start` to counts_.model_seconds.
  void add_model_time(std::chrono::steady_clock::time_point start);
  // ∂S/∂θ for every parameter, once per evaluation.
  void compute_full_gradient();

  const FitProblem& problem_;
  Model& model_;
  std::vector<int> free_;
  std::vector<double> theta_work_;  // θ for the next evaluation
  bool noise_estimated_ = false;
  // Every measurement's σ expression and value, in problem order.
  std::vector<const BoundExpression*> sigma_expr_;
  std::vector<double> values_;  // v_m
  std::vector<double> sigma_;
  std::vector<double> r_;
  Evaluation eval_;
  bool valid_ = false;
  double value_ = 0.0;
  Table model_jacobian_;  // ∂y/∂θ: measurements × parameters
  Table jacobian_;        // ∂r/∂x
  bool jacobian_valid_ = false;
  std::vector<double> weights_;        // 2·r/σ
  std::vector<double> full_gradient_;  // ∂S/∂θ
  std::vector<double> gradient_;       // ∂S/∂x
  bool gradient_valid_ = false;
  std::vector<double> sigma_grad_;  // scratch: ∂σ_m/∂θ of one σ
  std::vector<double> scratch_;     // expression evaluation
  ObjectiveCounts counts_;
};

}  // namespace identify
