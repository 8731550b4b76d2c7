// Bounded limited-memory quasi-Newton through NLopt (LD_LBFGS, Lukšan's
// variable-metric method with simple bounds). It minimises S(y)/S(y0) over
// the scaled unknowns with the gradient (∂S/∂A)·s / S(y0), ∂S/∂A from
// MatrixModel::gradient with H = 2r; dividing by S(y0) turns NLopt's fixed
// absolute gradient tolerance into a relative one (S itself where 1/S(y0) is
// not a finite number). NLopt reports no iterations of its own, so every
// evaluation of S and its gradient counts as one.
#include "fit/qn_method.h"

#include <nlopt.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <new>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

#include "fit/least_squares.h"

namespace identify {

namespace {

struct QnState {
  Residuals* residuals = nullptr;
  Tracker* tracker = nullptr;
  nlopt_opt opt = nullptr;
  double cost_scale = 1.0;  // 1 / S(y0)
  // The scaled gradient at the point with the lowest cost so far.
  double best_cost = std::numeric_limits<double>::infinity();
  std::vector<double> best_y, best_gradient;
};

double qn_objective(unsigned n, const double* y, double* gradient, void* data) {
  QnState& s = *static_cast<QnState*>(data);
  if (s.tracker->stopped()) {
    if (gradient != nullptr) std::fill(gradient, gradient + n, 0.0);
    return HUGE_VAL;
  }
  const double norm = s.residuals->evaluate(y);
  const double cost = s.residuals->cost() * s.cost_scale;
  if (gradient != nullptr) {
    if (std::isfinite(norm)) {
      s.residuals->gradient(s.cost_scale, gradient);
    } else {
      std::fill(gradient, gradient + n, 0.0);
    }
  }
  if (s.residuals->stop_requested()) {
    // Cut short by an interrupt: neither the value nor the gradient exist.
    s.tracker->interrupt();
    nlopt_force_stop(s.opt);
    if (gradient != nullptr) std::fill(gradient, gradient + n, 0.0);
    return HUGE_VAL;
  }
  if (cost < s.best_cost && gradient != nullptr) {
    s.best_cost = cost;
    s.best_y.assign(y, y + n);
    s.best_gradient.assign(gradient, gradient + n);
  }
  if (!s.tracker->iterate(norm, s.residuals->matrix(), true)) {
    nlopt_force_stop(s.opt);
  }
  return std::isfinite(cost) ? cost : HUGE_VAL;
}

// Largest |gradient| over the unknowns that the bounds do not hold back;
// NaN if an entry of the gradient is.
double projected_gradient(const QnState& s, const std::vector<double>& lower,
                          const std::vector<double>& upper) {
  double g_max = 0.0;
  for (std::size_t j = 0; j < s.best_gradient.size(); ++j) {
    const double g = s.best_gradient[j];
    if (std::isnan(g)) return g;
    if (s.best_y[j] <= lower[j] && g > 0.0) continue;
    if (s.best_y[j] >= upper[j] && g < 0.0) continue;
    g_max = std::max(g_max, std::fabs(g));
  }
  return g_max;
}

// The verdict text of NLopt's result: the test that fired, with its
// numbers; `reason` becomes kStalled for a result that is no convergence.
std::string qn_text(nlopt_result result, double g, int rounds,
                    StopReason& reason) {
  std::ostringstream text;
  text.precision(3);
  reason = StopReason::kMethodConverged;
  if (!std::isfinite(g) &&
      (result == NLOPT_FAILURE || result == NLOPT_ROUNDOFF_LIMITED)) {
    // No line search can work with it; saying so beats "gradient inf".
    reason = StopReason::kStalled;
    text << "NLopt stopped without converging: the gradient of the sum of "
            "squares is not finite at the best matrix";
    return text.str();
  }
  switch (result) {
    case NLOPT_SUCCESS:
      text << "gradient tolerance reached: largest scaled projected gradient "
           << g << " (NLopt's test: <= 1e-08)";
      break;
    case NLOPT_FTOL_REACHED:
      text << "function tolerance reached: relative change of the sum of "
              "squares <= "
           << kQnFunctionTolerance << " in two successive iterations";
      break;
    case NLOPT_XTOL_REACHED:
      text << "parameter tolerance reached: relative change of every scaled "
              "entry <= "
           << kQnParameterTolerance << " in two successive iterations";
      break;
    case NLOPT_ROUNDOFF_LIMITED:
      text << "rounding errors limit further progress; largest scaled "
              "projected gradient "
           << g;
      break;
    case NLOPT_FAILURE:
      // Lukšan's code returns this when its line search finds no lower sum
      // of squares along the quasi-Newton direction nor along the steepest
      // descent, typically where the model's derivative and its values no
      // longer agree to the precision that a further step needs.
      text << "line search found no lower sum of squares (NLopt FAILURE); "
              "largest scaled projected gradient "
           << g;
      break;
    default:
      reason = StopReason::kStalled;
      text << "NLopt stopped without converging ("
           << nlopt_result_to_string(result) << ")";
      break;
  }
  if (rounds > 1 && reason == StopReason::kMethodConverged) {
    text << " (" << rounds << " rounds)";
  }
  return text.str();
}

}  // namespace

// Lukšan's gradient test is absolute on the scaled S/S(y0), so on data that
// the model fits closely it fires while S is still far above its floor. The
// fit therefore goes in rounds: a round that ended on the gradient test and
// lowered the best residual norm is followed by another from the best point,
// scaled afresh there (its Jacobian columns and S), so the test becomes
// relative to the residual that is left.
IdentifyResult run_qn(Residuals& residuals, const std::vector<double>& stand_in,
                      Tracker& tracker, const FitCounts& counts, Matrix& A,
                      std::ostream& out) {
  const unsigned n = static_cast<unsigned>(residuals.unknowns());
  std::vector<double> lower(n), upper(n);
  QnState state;
  state.residuals = &residuals;
  state.tracker = &tracker;
  nlopt_result result = NLOPT_SUCCESS;
  int rounds = 0;
  double best_before = std::numeric_limits<double>::infinity();
  for (;;) {
    if (rounds > 0) residuals.evaluate(state.best_y.data());
    std::vector<double> y = residuals.scale_at_current(stand_in);
    if (residuals.stop_requested()) {
      tracker.interrupt();
      break;
    }
    ++rounds;
    const std::unique_ptr<nlopt_opt_s, decltype(&nlopt_destroy)> opt(
        nlopt_create(NLOPT_LD_LBFGS, n), &nlopt_destroy);
    if (!opt) throw std::bad_alloc();
    for (unsigned j = 0; j < n; ++j) {
      const Unknown& u = residuals.unknown(static_cast<int>(j));
      lower[j] = u.bounded ? u.lower / u.scale : -HUGE_VAL;
      upper[j] = u.bounded ? u.upper / u.scale : HUGE_VAL;
    }
    state.opt = opt.get();
    // S/S(y0) where 1/S(y0) is a finite number; else S itself.
    const double inverse_cost = 1.0 / residuals.cost();
    state.cost_scale =
        inverse_cost > 0.0 && std::isfinite(inverse_cost) ? inverse_cost : 1.0;
    state.best_cost = std::numeric_limits<double>::infinity();
    state.best_y.clear();
    nlopt_set_lower_bounds(opt.get(), lower.data());
    nlopt_set_upper_bounds(opt.get(), upper.data());
    nlopt_set_min_objective(opt.get(), qn_objective, &state);
    nlopt_set_ftol_rel(opt.get(), kQnFunctionTolerance);
    nlopt_set_xtol_rel(opt.get(), kQnParameterTolerance);
    // Twenty correction pairs: enough for the unknowns of these problems;
    // NLopt's own default sizes its work arrays for far more.
    nlopt_set_vector_storage(opt.get(), kQnCorrections);
    double f = 0.0;
    result = nlopt_optimize(opt.get(), y.data(), &f);
    if (result == NLOPT_OUT_OF_MEMORY) throw std::bad_alloc();
    if (tracker.stopped() || result != NLOPT_SUCCESS || state.best_y.empty()) {
      break;
    }
    const double best = tracker.monitor().best_norm();
    if (!(best < best_before)) break;
    best_before = best;
  }
  StopReason reason = StopReason::kMethodConverged;
  const std::string text =
      qn_text(result, projected_gradient(state, lower, upper), rounds, reason);
  return tracker.finish("lbfgsb", reason, text, counts, A, out);
}

}  // namespace identify
