// Bounded Levenberg–Marquardt through Ceres Solver (trust region, dense QR).
// Per step it takes min ‖r + J δ‖² + λ‖δ‖² in the scaled unknowns y, with
// J = ∂M/∂A·diag(s) from MatrixModel::jacobian, and projects the step onto
// the box. The damping is the identity in y (the start scaling fixed for the
// run), not Marquardt's current column norms: where the residual is
// symmetric in two entries (an unobserved compartment that feeds an observed
// one: exchanging the two rates leaves every sample unchanged) their columns
// coincide along the mirror plane, a column-norm damping is symmetric there
// too, and rounding alone would pick the branch; with a fixed diagonal the
// start scaling picks it, the same way on every build. A projected step
// stalls where the unconstrained step points out of the box, short of the
// bounded optimum, so the fit goes in rounds (see run_lm).
#include "fit/lm_method.h"

#include <ceres/ceres.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "fit/least_squares.h"
#include "fit/library_logging.h"
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
  LmCost(Residuals& residuals, const LmRound& round)
      : residuals_(residuals), round_(round) {
    set_num_residuals(residuals.samples());
    mutable_parameter_block_sizes()->push_back(
        static_cast<int>(round.free.size()));
  }

  // False (an invalid point to Ceres) where the residual norm is not
  // finite or the model was cut short by the stop flag.
  bool Evaluate(double const* const* parameters, double* residuals,
                double** jacobians) const override {
    std::vector<double>& y = *round_.y;
    for (std::size_t f = 0; f < round_.free.size(); ++f) {
      y[round_.free[f]] = parameters[0][f];
    }
    const double norm = residuals_.evaluate(y.data());
    if (residuals_.stop_requested()) return false;
    if (!std::isfinite(norm)) {
      ++not_finite_in_a_row_;
      return false;
    }
    not_finite_in_a_row_ = 0;
    residuals_.residuals(residuals);
    if (jacobians != nullptr && jacobians[0] != nullptr) {
      residuals_.jacobian(round_.free, jacobians[0]);
      if (residuals_.stop_requested()) return false;
      const std::size_t size =
          static_cast<std::size_t>(residuals_.samples()) * round_.free.size();
      jacobian_not_finite_ =
          !std::all_of(jacobians[0], jacobians[0] + size,
                       [](double v) { return std::isfinite(v); });
      if (jacobian_not_finite_) return false;
    }
    return true;
  }

  // Whether the last Jacobian asked for had an entry that is inf or NaN.
  bool jacobian_not_finite() const { return jacobian_not_finite_; }

  // How many of the last points asked for had no finite residual norm.
  int not_finite_in_a_row() const { return not_finite_in_a_row_; }

 private:
  Residuals& residuals_;
  const LmRound& round_;
  mutable int not_finite_in_a_row_ = 0;
  mutable bool jacobian_not_finite_ = false;
};

// Runs after every trust-region step with the parameter block already
// holding the current iterate.
class LmCallback : public ceres::IterationCallback {
 public:
  LmCallback(Residuals& residuals, Tracker& tracker, const LmRound& round,
             const double* block)
      : residuals_(residuals),
        tracker_(tracker),
        round_(round),
        block_(block),
        previous_(round.free.size()),
        iterate_(residuals.matrix()) {}

  ceres::CallbackReturnType operator()(
      const ceres::IterationSummary&) override {
    if (residuals_.stop_requested()) {
      tracker_.interrupt();  // the step was cut short: no line for it
      return ceres::SOLVER_TERMINATE_SUCCESSFULLY;
    }
    const std::size_t bytes = previous_.size() * sizeof(double);
    if (!has_previous_ || std::memcmp(previous_.data(), block_, bytes) != 0) {
      std::vector<double>& y = *round_.y;
      for (std::size_t f = 0; f < round_.free.size(); ++f) {
        y[round_.free[f]] = block_[f];
      }
      norm_ = residuals_.evaluate(y.data());
      iterate_ = residuals_.matrix();
      std::memcpy(previous_.data(), block_, bytes);
      has_previous_ = true;
    }
    return tracker_.iterate(norm_, iterate_, false)
               ? ceres::SOLVER_CONTINUE
               : ceres::SOLVER_TERMINATE_SUCCESSFULLY;
  }

 private:
  Residuals& residuals_;
  Tracker& tracker_;
  const LmRound& round_;
  const double* block_;
  // The iterate of the last call: scaled, as A, and its residual norm. A
  // rejected step leaves it unchanged while the model was last evaluated at
  // the rejected point.
  std::vector<double> previous_;
  bool has_previous_ = false;
  Matrix iterate_;
  double norm_ = 0.0;
};

// Ceres' message "Function tolerance reached. |cost_change|/cost: a <= b"
// as "function tolerance reached: |cost_change|/cost: a <= b".
std::string reword(std::string message) {
  if (!message.empty()) {
    message[0] =
        static_cast<char>(std::tolower(static_cast<unsigned char>(message[0])));
  }
  const std::size_t stop = message.find(". ");
  if (stop != std::string::npos) {
    message.replace(stop, 2, ": ");
    if (stop + 2 < message.size()) {
      message[stop + 2] = static_cast<char>(
          std::tolower(static_cast<unsigned char>(message[stop + 2])));
    }
  }
  while (!message.empty() && (message.back() == '.' || message.back() == ' ')) {
    message.pop_back();
  }
  return message;
}

// How one Ceres run ended.
struct RoundEnd {
  ceres::Solver::Summary summary;
  int not_finite_in_a_row = 0;       // trial points without a finite norm, last
  bool jacobian_not_finite = false;  // the last Jacobian had inf or NaN
};

// One Ceres run from y over the unknowns of `round`; y receives its end
// point.
RoundEnd solve_round(Residuals& residuals, Tracker& tracker,
                     const LmRound& round) {
  std::vector<double>& y = *round.y;
  std::vector<double> block(round.free.size());
  for (std::size_t f = 0; f < round.free.size(); ++f) {
    block[f] = y[round.free[f]];
  }
  LmCost cost(residuals, round);
  ceres::Problem::Options problem_options;
  problem_options.cost_function_ownership = ceres::DO_NOT_TAKE_OWNERSHIP;
  ceres::Problem problem(problem_options);
  problem.AddResidualBlock(&cost, nullptr, block.data());
  for (std::size_t f = 0; f < round.free.size(); ++f) {
    const Unknown& u = residuals.unknown(round.free[f]);
    if (!u.bounded) continue;
    const int index = static_cast<int>(f);
    problem.SetParameterLowerBound(block.data(), index, u.lower / u.scale);
    problem.SetParameterUpperBound(block.data(), index, u.upper / u.scale);
  }
  LmCallback callback(residuals, tracker, round, block.data());

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
  // between runs (see run_lm).
  options.max_num_line_search_step_size_iterations = 0;
  options.max_num_iterations = std::numeric_limits<int>::max();
  options.max_solver_time_in_seconds = std::numeric_limits<double>::max();
  options.function_tolerance = kLmFunctionTolerance;
  options.parameter_tolerance = kLmParameterTolerance;
  options.gradient_tolerance = 0.0;
  options.num_threads = 1;
  options.logging_type = ceres::SILENT;
  options.minimizer_progress_to_stdout = false;
  options.update_state_every_iteration = true;
  options.callbacks.push_back(&callback);
  RoundEnd end;
  ceres::Solve(options, &problem, &end.summary);
  for (std::size_t f = 0; f < round.free.size(); ++f) {
    y[round.free[f]] = block[f];
  }
  end.not_finite_in_a_row = cost.not_finite_in_a_row();
  end.jacobian_not_finite = cost.jacobian_not_finite();
  return end;
}

// Why a run that did not converge ended, in one line of our own: Ceres'
// messages can span lines and name memory addresses.
std::string failure_text(const RoundEnd& end) {
  const std::vector<ceres::IterationSummary>& steps = end.summary.iterations;
  const bool unusable = !steps.empty() && steps.back().iteration > 0 &&
                        !steps.back().step_is_valid;
  std::ostringstream s;
  s << "the solver stopped without converging";
  if (end.jacobian_not_finite) {
    s << ": the model's Jacobian is not finite at the current matrix";
  } else if (end.not_finite_in_a_row > 0) {
    s << ": its last "
      << count_text(end.not_finite_in_a_row, "trial step", "trial steps")
      << (end.not_finite_in_a_row == 1 ? " gave a residual norm that is"
                                       : " gave residual norms that are")
      << " not finite";
  } else if (unusable) {
    s << ": its last steps were unusable (the Jacobian at the current matrix "
         "predicts no lower sum of squares, or the step is not finite)";
  } else {
    s << " (Ceres "
      << ceres::TerminationTypeToString(end.summary.termination_type) << ")";
  }
  return s.str();
}

// After a round that converged: holds each bounded unknown that rests on a
// bound which the gradient of S presses against, frees each held one that
// the gradient pulls inward. Returns whether the held set changed, or
// nullopt if the model was cut short by the stop flag.
std::optional<bool> update_held(Residuals& residuals, std::vector<double>& y,
                                std::vector<double>& r,
                                std::vector<char>& held) {
  residuals.evaluate(y.data());
  residuals.residuals(r.data());
  const Table& J = residuals.full_jacobian();
  if (residuals.stop_requested()) return std::nullopt;
  bool changed = false;
  for (int j = 0; j < residuals.unknowns(); ++j) {
    const Unknown& u = residuals.unknown(j);
    if (!u.bounded) continue;
    double g = 0.0;
    for (std::size_t row = 0; row < J.rows(); ++row) {
      g = J[row][u.entry] * r[row] + g;
    }
    const double v = residuals.matrix().data()[u.entry];
    const bool pressed = (v == u.lower && g > 0.0) || (v == u.upper && g < 0.0);
    if (pressed != static_cast<bool>(held[j])) {
      held[j] = pressed;
      changed = true;
    }
  }
  return changed;
}

}  // namespace

// A projected LM step stalls where the unconstrained step points out of the
// box: the run ends on its step tolerance short of the bounded optimum. So
// the fit goes in rounds: after a round that converged, every unknown that
// rests on a bound which the gradient of S presses against is held there,
// one that the gradient pulls away from its bound is freed, and the next
// round starts from the same point. The rounds end when that set no longer
// changes, or when a round fails to lower the best residual norm.
IdentifyResult run_lm(Residuals& residuals, std::vector<double>& y,
                      Tracker& tracker, const FitCounts& counts, Matrix& A,
                      std::ostream& out) {
  silence_library_logging();
  const int m = residuals.unknowns();
  std::vector<char> held(m, 0);
  LmRound round;
  round.y = &y;
  std::vector<double> r(residuals.samples());
  StopReason reason = StopReason::kMethodConverged;
  std::string text;
  int rounds = 0;
  double best_before = std::numeric_limits<double>::infinity();
  for (;;) {
    round.free.clear();
    for (int j = 0; j < m; ++j) {
      if (!held[j]) round.free.push_back(j);
    }
    if (round.free.empty()) break;
    ++rounds;
    const RoundEnd end = solve_round(residuals, tracker, round);
    if (residuals.stop_requested()) tracker.interrupt();
    if (tracker.stopped()) break;
    if (end.summary.termination_type != ceres::CONVERGENCE) {
      reason = StopReason::kStalled;
      text = failure_text(end);
      break;
    }
    text = reword(end.summary.message);
    const double best = tracker.monitor().best_norm();
    if (!(best < best_before)) break;
    best_before = best;
    const std::optional<bool> changed = update_held(residuals, y, r, held);
    if (!changed) tracker.interrupt();
    if (!changed || !*changed) break;
  }
  const int on_bounds =
      static_cast<int>(std::count(held.begin(), held.end(), 1));
  if (on_bounds > 0 && reason == StopReason::kMethodConverged) {
    text += (text.empty() ? "(" : " (") +
            count_text(rounds, "round", "rounds") + ", " +
            count_text(on_bounds, "entry", "entries") + " held on a bound)";
  }
  return tracker.finish("lm", reason, text, counts, A, out);
}

}  // namespace identify
