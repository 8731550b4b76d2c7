// Bounded Levenberg–Marquardt through Ceres Solver (trust region, dense QR);
// problems of many unknowns and long tables take the same trust-region
// rules on the normal equations instead (normal_lm.h, objective_normal.h).
// Per step it takes min ‖r + J δ‖² + λ‖δ‖² in the scaled unknowns y, with
// J = ∂r/∂x·diag(s) from the Objective, and projects the step onto the box.
// The damping is the identity in y (the start scaling fixed for the run),
// not Marquardt's current column norms: where the residual is symmetric in
// two parameters (an unobserved compartment that feeds an observed one:
// exchanging the two rates leaves every sample unchanged) their columns
// coincide along the mirror plane, a column-norm damping is symmetric there
// too, and rounding alone would pick the branch; with a fixed diagonal the
// start scaling picks it, the same way on every build. A projected step
// stalls where the unconstrained step points out of the box, short of the
// bounded optimum, so the fit goes in rounds (see fit_lm).
//
// When the objective is −2 ln L with a σ that varies (an estimated noise
// parameter, a proportional or combined error), lm minimises it as a sum
// of squares with one extra residual per measurement, e = sqrt(2 ln σ + c)
// (scaled_unknowns.h): Σ r² + Σ e² is −2 ln L up to a constant, so the
// optimum is the maximum-likelihood estimate and the gradient Ceres sees
// is exact. c is re-centred at the start of every round so that e² is
// near 1, where the Gauss–Newton matrix of the e rows is the Fisher
// information of the noise; the rounds then go on while they lower −2 ln L.
#include "fit/lm.h"

#include <ceres/ceres.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "fit/gauss_newton_polish.h"
#include "fit/library_logging.h"
#include "fit/lm_noise_watch.h"
#include "fit/lm_words.h"
#include "fit/normal_lm.h"
#include "fit/objective_normal.h"
#include "fit/rounds.h"
#include "fit/scaled_unknowns.h"
#include "fit/wording.h"

namespace identify {

namespace {

// The unknowns that one Ceres run moves, and the full scaled point that the
// others keep their values in.
struct LmRound {
  std::vector<int> free;   // indices of the moving unknowns
  std::vector<double>* y;  // all unknowns, scaled
};

class LmCost : public ceres::CostFunction {
 public:
  LmCost(ScaledUnknowns& unknowns, const LmRound& round,
         LmNoiseWatch* watch = nullptr)
      : unknowns_(unknowns), round_(round), watch_(watch) {
    set_num_residuals(unknowns.residual_count());
    mutable_parameter_block_sizes()->push_back(
        static_cast<int>(round.free.size()));
  }

  // False (an invalid point to Ceres) where the residual norm is not
  // finite or the model was cut short by the stop flag.
  bool Evaluate(double const* const* parameters, double* residuals,
                double** jacobians) const override {
    if (!move_round(unknowns_, *round_.y, round_.free, parameters[0], end_)) {
      return false;
    }
    unknowns_.residuals(residuals);
    // An e row past its room (a σ shrunk too far within one round).
    if (!std::all_of(residuals, residuals + unknowns_.residual_count(),
                     [](double v) { return std::isfinite(v); })) {
      return false;
    }
    if (jacobians != nullptr && jacobians[0] != nullptr) {
      unknowns_.jacobian(round_.free, jacobians[0]);
      if (unknowns_.objective().stop_requested()) return false;
      const std::size_t size =
          static_cast<std::size_t>(unknowns_.residual_count()) *
          round_.free.size();
      end_.jacobian_not_finite =
          !std::all_of(jacobians[0], jacobians[0] + size,
                       [](double v) { return std::isfinite(v); });
      if (end_.jacobian_not_finite) return false;
      if (watch_ != nullptr) {
        watch_->evaluated(parameters[0], static_cast<int>(round_.free.size()),
                          residuals, jacobians[0]);
      }
    }
    return true;
  }

  const LmTrouble& trouble() const { return end_; }

 private:
  ScaledUnknowns& unknowns_;
  const LmRound& round_;
  LmNoiseWatch* watch_;
  mutable LmTrouble end_;
};

// The cost function as r and J of its one parameter block.
ResidualFunction residual_function(const LmCost& cost) {
  return [&cost](const double* b, double* r, double* jacobian) {
    const double* const parameters[] = {b};
    double* jacobians[] = {jacobian};
    return cost.Evaluate(parameters, r,
                         jacobian == nullptr ? nullptr : jacobians);
  };
}

// Runs after every trust-region step with the parameter block already
// holding the current iterate.
class LmCallback : public ceres::IterationCallback {
 public:
  LmCallback(ScaledUnknowns& unknowns, Monitor& monitor, const LmRound& round,
             const double* block, LmNoiseWatch& watch)
      : unknowns_(unknowns),
        monitor_(monitor),
        round_(round),
        block_(block),
        watch_(watch),
        previous_(round.free.size()),
        iterate_(unknowns.objective().theta()) {}

  ceres::CallbackReturnType operator()(
      const ceres::IterationSummary& step) override {
    Objective& f = unknowns_.objective();
    if (f.stop_requested()) {
      monitor_.stop(Termination::kInterrupted);  // cut short: no line
      return ceres::SOLVER_TERMINATE_SUCCESSFULLY;
    }
    const std::size_t bytes = previous_.size() * sizeof(double);
    if (!has_previous_ || std::memcmp(previous_.data(), block_, bytes) != 0) {
      std::vector<double>& y = *round_.y;
      for (std::size_t f = 0; f < round_.free.size(); ++f) {
        y[round_.free[f]] = block_[f];
      }
      norm_ = unknowns_.evaluate(y.data());
      std::copy(f.theta().begin(), f.theta().end(), iterate_.begin());
      std::memcpy(previous_.data(), block_, bytes);
      has_previous_ = true;
    }
    const bool go_on =
        monitor_.iterate(norm_, iterate_, false) &&
        !watch_.after_step(step, norm_, block_, round_.free, monitor_);
    return go_on ? ceres::SOLVER_CONTINUE
                 : ceres::SOLVER_TERMINATE_SUCCESSFULLY;
  }

 private:
  ScaledUnknowns& unknowns_;
  Monitor& monitor_;
  const LmRound& round_;
  const double* block_;
  LmNoiseWatch& watch_;
  // The iterate of the last call: scaled, as θ, and its residual norm. A
  // rejected step leaves it unchanged while the model was last evaluated at
  // the rejected point.
  std::vector<double> previous_;
  bool has_previous_ = false;
  std::vector<double> iterate_;
  double norm_ = 0.0;
};

// From this many moving unknowns, with at least kNormalRowsPerUnknown
// residuals each, the steps come from the normal equations (JᵀJ + λI)·δ =
// −Jᵀr by Cholesky (normal_lm.h) instead of Ceres' QR of J: JᵀJ is formed
// once per Jacobian and each trial damping costs one q³/3 factorisation,
// and squaring cond(J) costs no accuracy that matters on a tall Jacobian
// of the size of a whole matrix A (cond(J) near 1e3, its square far from
// 1/ε). Should the Cholesky fail, the step is invalid and the damping
// grows, which makes JᵀJ + λI better conditioned. Smaller problems keep
// the QR, whose results their tests pin.
constexpr std::size_t kNormalEquationsUnknowns = 200;

bool normal_equations(std::size_t unknowns, std::size_t residuals) {
  return unknowns >= kNormalEquationsUnknowns &&
         residuals >= kNormalRowsPerUnknown * unknowns;
}

// A long table of a plain sum of squares.
bool long_table(const Objective& objective, int unknowns) {
  return !objective.has_sigma_rows() &&
         long_table_fit(objective.is_sum_of_squares(),
                        objective.residual_count(),
                        static_cast<std::size_t>(unknowns));
}

// Whether a round over q of the m unknowns takes its normal equations from
// the objective itself (objective_normal.h), so that neither Ceres nor the
// loop copies r or J: a plain sum of squares that is a long table, or
// whose round takes the normal equations anyway.
bool from_objective(const Objective& objective, int m, std::size_t q) {
  if (objective.has_sigma_rows() || !objective.is_sum_of_squares()) {
    return false;
  }
  return long_table(objective, m) ||
         normal_equations(q, objective.residual_count());
}

// The fit's source of normal equations for a round over `free`, where
// from_objective() holds for it; null otherwise.
ObjectiveNormal* round_source(std::optional<ObjectiveNormal>& normal,
                              const Objective& objective,
                              const std::vector<int>& free) {
  return normal && from_objective(objective, objective.size(), free.size())
             ? &*normal
             : nullptr;
}

ceres::Solver::Options solver_options(LmCallback& callback, bool sigma_rows) {
  ceres::Solver::Options options;
  options.minimizer_type = ceres::TRUST_REGION;
  options.trust_region_strategy_type = ceres::LEVENBERG_MARQUARDT;
  options.linear_solver_type = ceres::DENSE_QR;
  // The damping is the identity in the scaled unknowns, not the current
  // column norms: see the top of the file.
  options.jacobi_scaling = false;
  options.min_lm_diagonal = 1.0;
  options.max_lm_diagonal = 1.0;
  // A step that leaves the box is projected onto it and then accepted or
  // rejected like any other; the bounds that stop progress are dealt with
  // between runs (see fit_lm).
  options.max_num_line_search_step_size_iterations = 0;
  options.max_num_iterations = std::numeric_limits<int>::max();
  options.max_solver_time_in_seconds = std::numeric_limits<double>::max();
  // The e rows' constant part inflates the cost that this tolerance is
  // relative to, and their Gauss–Newton matrix is only near the Hessian:
  // there the steps decide.
  options.function_tolerance = sigma_rows ? 0.0 : kLmFunctionTolerance;
  options.parameter_tolerance = kLmParameterTolerance;
  options.gradient_tolerance = 0.0;
  options.num_threads = 1;
  options.logging_type = ceres::SILENT;
  options.minimizer_progress_to_stdout = false;
  options.update_state_every_iteration = true;
  options.callbacks.push_back(&callback);
  return options;
}

// One run from y over the unknowns of `round`; y receives its end point.
// `source` is the objective's normal equations where from_objective()
// holds for the round.
LmTrouble solve_round(ScaledUnknowns& unknowns, Monitor& monitor,
                      const LmRound& round, LmNoiseWatch& watch,
                      ObjectiveNormal* source,
                      ceres::Solver::Summary& summary) {
  std::vector<double>& y = *round.y;
  std::vector<double> block(round.free.size());
  for (std::size_t f = 0; f < round.free.size(); ++f) {
    block[f] = y[round.free[f]];
  }
  LmCost cost(unknowns, round, &watch);
  LmCallback callback(unknowns, monitor, round, block.data(), watch);
  const bool sigma_rows = unknowns.objective().has_sigma_rows();
  const std::size_t residuals =
      static_cast<std::size_t>(unknowns.residual_count());
  LmTrouble trouble;
  if (source != nullptr || normal_equations(round.free.size(), residuals)) {
    std::vector<double> lower(block.size()), upper(block.size());
    for (std::size_t f = 0; f < round.free.size(); ++f) {
      lower[f] = unknowns.lower(round.free[f]);
      upper[f] = unknowns.upper(round.free[f]);
    }
    NormalLmSettings settings;
    settings.function_tolerance = sigma_rows ? 0.0 : kLmFunctionTolerance;
    settings.parameter_tolerance = kLmParameterTolerance;
    if (source != nullptr) {
      normal_lm(*source, block, lower, upper, settings, callback, summary);
      trouble = source->trouble();
    } else {
      normal_lm(residual_function(cost), cost.num_residuals(), block, lower,
                upper, settings, callback, summary);
      trouble = cost.trouble();
    }
  } else {
    ceres::Problem::Options problem_options;
    problem_options.cost_function_ownership = ceres::DO_NOT_TAKE_OWNERSHIP;
    ceres::Problem problem(problem_options);
    problem.AddResidualBlock(&cost, nullptr, block.data());
    for (std::size_t f = 0; f < round.free.size(); ++f) {
      const int j = round.free[f], index = static_cast<int>(f);
      if (std::isfinite(unknowns.lower(j))) {
        problem.SetParameterLowerBound(block.data(), index, unknowns.lower(j));
      }
      if (std::isfinite(unknowns.upper(j))) {
        problem.SetParameterUpperBound(block.data(), index, unknowns.upper(j));
      }
    }
    ceres::Solve(solver_options(callback, sigma_rows), &problem, &summary);
    trouble = cost.trouble();
  }
  for (std::size_t f = 0; f < round.free.size(); ++f) {
    y[round.free[f]] = block[f];
  }
  return trouble;
}

// After a round that converged: holds each unknown that rests on a bound
// which the gradient of S presses against, frees each held one that the
// gradient pulls inward. Returns whether the held set changed, or nullopt
// if the model was cut short by the stop flag.
std::optional<bool> update_held(ScaledUnknowns& unknowns,
                                std::vector<double>& y,
                                std::vector<char>& held) {
  Objective& f = unknowns.objective();
  // Without a finite bound nothing is ever held: no model call.
  bool bounded = false;
  for (int j = 0; j < unknowns.size(); ++j) {
    bounded = bounded || std::isfinite(f.lower(j)) || std::isfinite(f.upper(j));
  }
  if (!bounded) return false;
  unknowns.evaluate(y.data());
  const std::vector<double>& r = f.residuals();
  const Table& J = f.jacobian();
  if (f.stop_requested()) return std::nullopt;
  bool changed = false;
  const std::size_t n = f.residual_count();
  for (int j = 0; j < unknowns.size(); ++j) {
    const double lower = f.lower(j), upper = f.upper(j);
    if (!std::isfinite(lower) && !std::isfinite(upper)) continue;
    double g = 0.0;
    for (std::size_t row = 0; row < n; ++row) {
      g = J[row][j] * r[row] + g;
    }
    // The e rows: e·∂e/∂x = ∂ln σ/∂x.
    for (std::size_t row = n; row < J.rows(); ++row) g = J[row][j] + g;
    const double v = unknowns.x(j);
    const bool pressed = (v == lower && g > 0.0) || (v == upper && g < 0.0);
    if (pressed != static_cast<bool>(held[j])) {
      held[j] = pressed;
      changed = true;
    }
  }
  return changed;
}

// The end of the polish after the rounds, and the point it left as the
// result.
struct Polished {
  PolishEnd end;
  std::vector<double> theta;
  double norm = 0.0;
};

// Gauss–Newton steps (gauss_newton_polish.h) over the unknowns of `round`
// on the residuals lm minimised, from y, which receives the end point;
// from the normal equations of `source` while they serve, where it is not
// null. The steps are not monitor iterations: the verdict counts them
// apart.
Polished polish_round(ScaledUnknowns& unknowns, const LmRound& round,
                      ObjectiveNormal* source) {
  LmCost cost(unknowns, round);
  const std::size_t q = round.free.size();
  std::vector<double> block(q), lower(q), upper(q);
  for (std::size_t f = 0; f < q; ++f) {
    block[f] = (*round.y)[round.free[f]];
    lower[f] = unknowns.lower(round.free[f]);
    upper[f] = unknowns.upper(round.free[f]);
  }
  const ResidualFunction residuals = residual_function(cost);
  Polished p;
  const StepTaken taken = [&]() {
    p.norm = unknowns.evaluate_current();
    p.theta = unknowns.objective().theta();
    return !unknowns.objective().stop_requested();
  };
  if (source != nullptr) {
    p.end = polish(*source, residuals, cost.num_residuals(), block, lower,
                   upper, taken);
  } else {
    p.end = polish(residuals, cost.num_residuals(), block, lower, upper, taken);
  }
  for (std::size_t f = 0; f < q; ++f) (*round.y)[round.free[f]] = block[f];
  return p;
}

// The polish over the unknowns not held on a bound; an interrupt during it
// stops the monitor.
Polished polish_unheld(ScaledUnknowns& unknowns, Monitor& monitor,
                       LmRound& round, const std::vector<char>& held,
                       std::optional<ObjectiveNormal>& normal) {
  round.free.clear();
  for (int j = 0; j < unknowns.size(); ++j) {
    if (!held[j]) round.free.push_back(j);
  }
  Polished polished = polish_round(
      unknowns, round, round_source(normal, unknowns.objective(), round.free));
  if (unknowns.objective().stop_requested()) {
    monitor.stop(Termination::kInterrupted);
  }
  return polished;
}

}  // namespace

// A projected LM step stalls where the unconstrained step points out of the
// box: the run ends on its step tolerance short of the bounded optimum. So
// the fit goes in rounds: after a round that converged, every unknown that
// rests on a bound which the gradient of S presses against is held there,
// one that the gradient pulls away from its bound is freed, and the next
// round starts from the same point. The rounds end when that set no longer
// changes, or when a round fails to lower the best residual norm; with
// the e rows of a varying σ they go on while they lower −2 ln L, each from
// e re-centred.
Summary fit_lm(Objective& objective, Monitor& monitor,
               std::vector<double> start) {
  ScaledUnknowns unknowns(objective, std::move(start));
  if (std::optional<Summary> over =
          start_library_run("lm", unknowns, monitor)) {
    return *over;
  }
  silence_library_logging();
  std::vector<double> y =
      unknowns.scale_at_current(stand_in_columns(objective));
  if (objective.stop_requested()) monitor.stop(Termination::kInterrupted);
  const int m = unknowns.size();
  std::vector<char> held(m, 0);
  LmRound round;
  round.y = &y;
  Termination end = Termination::kOptimumReached;
  std::string text;
  int rounds = 0;
  // One source of normal equations for every round and the polish, so
  // that each starts from the normal equations where the last one ended.
  std::optional<ObjectiveNormal> normal;
  if (from_objective(objective, m, static_cast<std::size_t>(m))) {
    normal.emplace(unknowns, y, round.free);
  }
  LmNoiseWatch watch(unknowns, normal ? &*normal : nullptr);
  const auto one_round = [&] {
    if (monitor.stopped()) return false;
    round.free.clear();
    for (int j = 0; j < m; ++j) {
      if (!held[j]) round.free.push_back(j);
    }
    if (round.free.empty()) return false;
    ++rounds;
    if (objective.has_sigma_rows()) {
      unknowns.evaluate(y.data());
      unknowns.center_sigma_rows();
    }
    ceres::Solver::Summary summary;
    const LmTrouble trouble =
        solve_round(unknowns, monitor, round, watch,
                    round_source(normal, objective, round.free), summary);
    if (objective.stop_requested()) monitor.stop(Termination::kInterrupted);
    if (monitor.stopped()) return false;
    if (watch.fired()) {
      text = watch.text(monitor.settings().unknowns);
      return false;
    }
    if (summary.termination_type != ceres::CONVERGENCE) {
      end = Termination::kLibraryFailure;
      text = lm_failure_text(summary, trouble);
      return false;
    }
    text = lm_convergence_text(summary.message);
    return true;
  };
  // The next round holds and frees the unknowns on the bounds afresh.
  const auto rehold = [&] {
    const std::optional<bool> changed = update_held(unknowns, y, held);
    if (!changed) monitor.stop(Termination::kInterrupted);
    return changed && (*changed || objective.has_sigma_rows());
  };
  run_rounds(
      one_round, [&] { return monitor.best_norm(); }, rehold);
  const auto on_bounds =
      static_cast<int>(std::count(held.begin(), held.end(), 1));
  if (on_bounds > 0 && end == Termination::kOptimumReached) {
    text += (text.empty() ? "(" : " (") +
            count_text(rounds, "round", "rounds") + ", " +
            count_text(on_bounds, "entry", "entries") + " held on a bound)";
  }
  // The cost test leaves the estimates short of the optimum: polish them.
  Polished polished;
  if (end == Termination::kOptimumReached && !monitor.stopped() &&
      !watch.fired()) {
    polished = polish_unheld(unknowns, monitor, round, held, normal);
    text += polish_text(polished.end);
  }
  Summary summary = finish_library_run("lm", end, text, monitor, objective);
  // A step that lowered S by less than rounding is still the better point.
  if (polished.end.steps > 0 && std::isfinite(polished.norm) &&
      summary.termination == Termination::kOptimumReached) {
    summary.theta = polished.theta;
    summary.norm = polished.norm;
  }
  return summary;
}

}  // namespace identify
