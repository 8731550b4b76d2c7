// The objective of a fit as every method sees it. For parameters θ (the
// free ones moved by the method, the others held at a base vector) the
// standardised residual of measurement m is
//
//   r_m = (h(y_m(θ)) − h(v_m)) / σ_m(θ, y_m),
//
// y from the Model, v the measured value, h the transformation of its
// observable (lin, log, log10: problem/noise_model.h) and σ its standard
// deviation (or Laplace scale) on that scale: an expression of θ and of
// y_m itself, 1 when not given. Two kinds of objective:
//
//   a sum of squares  S = Σ r_m²  when every σ is fixed (no estimated
//     parameter and no model value in it) and every density normal; then
//     −2 ln L = S + constant(), and methods report the residual norm √S;
//   −2 ln L itself   S = Σ ρ(r_m) + Σ 2 ln σ_m + Σ c_m  otherwise, with
//     ρ(r) = r² (normal) or 2|r| (laplace) and c_m the terms free of θ
//     (ln 2π or 2 ln 2, and the transformation's Jacobian term): the
//     density of the measurements on their own scale, as in PEtab v1. It
//     may be negative, and methods report it as it is.
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
// problem it would be measurements × N²), and the gradient's weights, which
// the first gradient sizes (lm never asks for them); no later call
// allocates. Per measurement it keeps y and r, and σ, h(y) and h(v) only
// where they are not a constant and the measurement itself (see
// keep_columns()): a fit of a long table is mostly these columns.
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

// Whether the objective of `problem` is −2 ln L rather than a sum of
// squares: some density is not normal, or some σ depends on an estimated
// parameter or on the model value.
bool objective_is_likelihood(const FitProblem& problem);

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
  // The standardised residuals: one per measurement.
  std::size_t residual_count() const { return r_.size(); }
  // True when some σ depends on a free parameter.
  bool noise_is_estimated() const { return noise_estimated_; }
  // True when S is the plain sum of squares Σ r² (see the top of the file),
  // false when it is −2 ln L.
  bool is_sum_of_squares() const { return !likelihood_; }
  // True when jacobian() has the rows of ln σ: some σ varies in a
  // likelihood objective.
  bool has_sigma_rows() const { return sigma_rows_; }
  // What the methods report for S: √S for a sum of squares, S otherwise.
  double progress_value(double s) const;

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
  // −2 ln L − S: the terms a sum of squares leaves out (Σ ln(2π σ_m²) and
  // the transformations' Jacobian terms); 0 when S is −2 ln L.
  double constant() const;
  const std::vector<double>& theta() const { return eval_.theta; }
  const std::vector<double>& residuals() const { return r_; }
  const Evaluation& evaluation() const { return eval_; }
  // σ_m at the last evaluation of measurement m, whose row in the problem
  // is `row`.
  double sigma(std::size_t m, const Measurement& row) const {
    return sigma_.empty() ? row.sigma.constant_value() : sigma_[m];
  }
  // Keeps σ_m, h(y_m) and h(v_m) of every measurement as columns, from the
  // next evaluation on, for views of a result. A fit does not need them
  // where every σ is a constant and every observable untransformed, and
  // then holds only y and r per measurement.
  void keep_columns();
  // σ_m, h(y_m) and h(v_m) at the last evaluation: after keep_columns(),
  // and σ_m wherever some σ varies.
  const std::vector<double>& sigmas() const { return sigma_; }
  const std::vector<double>& transformed_simulation() const { return hy_; }
  const std::vector<double>& transformed_measurements() const {
    return values_;
  }
  // ∂r/∂x: residual_count() × size(); with has_sigma_rows() followed by as
  // many rows ∂ln σ_m/∂x (through θ and through y_m).
  const Table& jacobian();
  // ∂S/∂x: size() entries.
  const std::vector<double>& gradient();
  // ∂S/∂θ_k for every parameter k: the descent's direction.
  const std::vector<double>& full_gradient();

  const ObjectiveCounts& counts() const { return counts_; }

 private:
  void run_model();
  // σ_m of `row` at the last evaluation's θ and y_m.
  double sigma_at(std::size_t m, const Measurement& row);
  // ∂σ_m/∂θ into sigma_grad_ (for σ's parameters, the model value's slot
  // among them); needs sigma_theta_ filled.
  void sigma_gradient(std::size_t m, const Measurement& row);
  // Adds the time since `start` to counts_.model_seconds.
  void add_model_time(std::chrono::steady_clock::time_point start);
  // ∂S/∂θ for every parameter, once per evaluation.
  void compute_full_gradient();
  // ∂S/∂r_m.
  double residual_weight(std::size_t m, Distribution density) const;
  // s with 2 ln σ_m added for every measurement in turn.
  double add_log_sigmas(double s) const;
  // ∂r/∂x row by row from the model's ∂y/∂θ.
  void chain_jacobian();
  const NoiseModel& noise(const Measurement& row) const {
    return observable_noise_[row.observable];
  }

  const FitProblem& problem_;
  Model& model_;
  std::vector<int> free_;
  std::vector<double> theta_work_;  // θ for the next evaluation
  bool likelihood_ = false;
  bool noise_estimated_ = false;
  bool sigma_rows_ = false;
  bool varying_ = false;      // some σ is not a constant
  bool transformed_ = false;  // some observable's h is not the identity
  bool all_free_ = false;     // every parameter free, in order
  std::vector<NoiseModel> observable_noise_;
  double fixed_terms_ = 0.0;  // Σ c_m
  // Per measurement, in problem order: σ_m where some σ varies, h(v_m) and
  // h(y_m) where some observable is transformed, all three after
  // keep_columns(); empty otherwise.
  std::vector<double> sigma_;
  std::vector<double> values_;
  std::vector<double> hy_;
  std::vector<double> r_;
  std::vector<double> sigma_theta_;  // θ and then y_m: a σ's arguments
  Evaluation eval_;
  bool valid_ = false;
  double value_ = 0.0;
  // ∂y/∂θ: measurements × parameters; unused where jacobian_ is the
  // model's Jacobian divided in place (every parameter free and on a linear
  // scale, every σ a constant, no transformation).
  Table model_jacobian_;
  Table jacobian_;  // ∂r/∂x, then ∂ln σ/∂x
  bool jacobian_valid_ = false;
  std::vector<double> weights_;        // ∂S/∂y_m
  std::vector<double> full_gradient_;  // ∂S/∂θ
  std::vector<double> gradient_;       // ∂S/∂x
  bool gradient_valid_ = false;
  std::vector<double> sigma_grad_;  // scratch: ∂σ_m/∂θ of one σ
  std::vector<double> scratch_;     // expression evaluation
  ObjectiveCounts counts_;
};

}  // namespace identify
