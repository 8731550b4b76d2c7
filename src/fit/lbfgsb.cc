// Bounded limited-memory quasi-Newton through NLopt (LD_LBFGS, Lukšan's
// variable-metric method with simple bounds). It minimises S(y)/S(y0) over
// the scaled unknowns with the gradient (∂S/∂x)·s / S(y0) from the
// Objective; dividing by S(y0) turns NLopt's fixed absolute gradient
// tolerance into a relative one (S itself where 1/S(y0) is not a finite
// number). NLopt reports no iterations of its own, so every evaluation of S
// and its gradient counts as one.
#include "fit/lbfgsb.h"

#include <nlopt.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "fit/least_squares_check.h"
#include "fit/rounds.h"
#include "fit/scaled_unknowns.h"

namespace identify {

namespace {

struct QnState {
  ScaledUnknowns* unknowns = nullptr;
  Monitor* monitor = nullptr;
  nlopt_opt opt = nullptr;
  double cost_scale = 1.0;  // 1 / S(y0)
  // The scaled gradient at the point with the lowest cost so far.
  double best_cost = std::numeric_limits<double>::infinity();
  std::vector<double> best_y, best_gradient;
};

double qn_objective(unsigned n, const double* y, double* gradient, void* data) {
  QnState& s = *static_cast<QnState*>(data);
  if (s.monitor->stopped()) {
    if (gradient != nullptr) std::fill(gradient, gradient + n, 0.0);
    return HUGE_VAL;
  }
  Objective& f = s.unknowns->objective();
  const double norm = s.unknowns->evaluate(y);
  const double cost = s.unknowns->cost() * s.cost_scale;
  if (gradient != nullptr) {
    if (std::isfinite(norm)) {
      s.unknowns->gradient(s.cost_scale, gradient);
    } else {
      std::fill(gradient, gradient + n, 0.0);
    }
  }
  if (f.stop_requested()) {
    // Cut short by an interrupt: neither the value nor the gradient exist.
    s.monitor->stop(Termination::kInterrupted);
    nlopt_force_stop(s.opt);
    if (gradient != nullptr) std::fill(gradient, gradient + n, 0.0);
    return HUGE_VAL;
  }
  if (cost < s.best_cost && gradient != nullptr) {
    s.best_cost = cost;
    s.best_y.assign(y, y + n);
    s.best_gradient.assign(gradient, gradient + n);
  }
  if (!s.monitor->iterate(norm, f.theta(), true)) nlopt_force_stop(s.opt);
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

bool is_convergence(nlopt_result result) {
  return result == NLOPT_SUCCESS || result == NLOPT_FTOL_REACHED ||
         result == NLOPT_XTOL_REACHED;
}

// The verdict text of NLopt's result: the test that fired, with its
// numbers, or what ended a run that reached no optimum.
// `objective`: what S is called ("sum of squares", or "-2 ln L").
std::string qn_text(nlopt_result result, double g, int rounds,
                    const char* objective) {
  std::ostringstream text;
  text.precision(3);
  if (!std::isfinite(g) &&
      (result == NLOPT_FAILURE || result == NLOPT_ROUNDOFF_LIMITED)) {
    // No line search can work with it; saying so beats "gradient inf".
    return "NLopt stopped without converging: the gradient of the sum of "
           "squares is not finite at the best matrix";
  }
  switch (result) {
    case NLOPT_SUCCESS:
      // NLopt tests the point it ended on, which need not be the best one.
      text << "gradient tolerance reached: NLopt's scaled projected gradient "
              "<= 1e-08; at the best point its largest entry is "
           << g;
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
      text << "line search found no lower " << objective
           << " (NLopt FAILURE); largest scaled projected gradient " << g;
      break;
    default:
      text << "NLopt stopped without converging ("
           << nlopt_result_to_string(result) << ")";
      break;
  }
  if (rounds > 1 && is_convergence(result))
    text << " (" << rounds << " rounds)";
  return text.str();
}

// One NLopt run from the current point, scaled afresh there; `lower` and
// `upper` receive the scaled bounds. Returns NLopt's result.
nlopt_result run_round(QnState& state, const std::vector<double>& stand_in,
                       std::vector<double>& lower, std::vector<double>& upper) {
  ScaledUnknowns& unknowns = *state.unknowns;
  std::vector<double> y = unknowns.scale_at_current(stand_in);
  if (unknowns.objective().stop_requested()) {
    state.monitor->stop(Termination::kInterrupted);
    return NLOPT_FORCED_STOP;
  }
  const auto n = static_cast<unsigned>(unknowns.size());
  const std::unique_ptr<nlopt_opt_s, decltype(&nlopt_destroy)> opt(
      nlopt_create(NLOPT_LD_LBFGS, n), &nlopt_destroy);
  if (!opt) throw std::bad_alloc();
  for (unsigned j = 0; j < n; ++j) {
    lower[j] = unknowns.lower(static_cast<int>(j));
    upper[j] = unknowns.upper(static_cast<int>(j));
  }
  state.opt = opt.get();
  // S/S(y0) where 1/S(y0) is a finite number; else S itself.
  const double inverse_cost = 1.0 / unknowns.cost();
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
  const nlopt_result result = nlopt_optimize(opt.get(), y.data(), &f);
  if (result == NLOPT_OUT_OF_MEMORY) throw std::bad_alloc();
  return result;
}

}  // namespace

// Lukšan's gradient test is absolute on the scaled S/S(y0), so on data that
// the model fits closely it fires while S is still far above its floor. The
// fit therefore goes in rounds: a round that ended on the gradient test and
// lowered the best residual norm is followed by another from the best point,
// scaled afresh there (its Jacobian columns and S), so the test becomes
// relative to the residual that is left. A later round that ends without a
// test of its own (its line search finds nothing lower than the point the
// earlier round converged on) leaves that earlier convergence standing.
Summary fit_lbfgsb(Objective& objective, Monitor& monitor,
                   std::vector<double> start) {
  ScaledUnknowns unknowns(objective, std::move(start));
  if (std::optional<Summary> over =
          start_library_run("lbfgsb", unknowns, monitor)) {
    return *over;
  }
  const std::vector<double> stand_in = stand_in_columns(objective);
  std::vector<double> lower(unknowns.size()), upper(unknowns.size());
  QnState state;
  state.unknowns = &unknowns;
  state.monitor = &monitor;
  nlopt_result result = NLOPT_SUCCESS;
  const char* const what =
      objective.is_sum_of_squares() ? "sum of squares" : "-2 ln L";
  int rounds = 0;
  std::string converged;  // the text of the last round that converged
  run_rounds(
      [&] {
        if (rounds > 0) unknowns.evaluate(state.best_y.data());
        result = run_round(state, stand_in, lower, upper);
        if (monitor.stopped()) return false;
        ++rounds;
        if (is_convergence(result)) {
          converged = qn_text(result, projected_gradient(state, lower, upper),
                              rounds, what);
        }
        return result == NLOPT_SUCCESS && !state.best_y.empty();
      },
      [&] { return monitor.best_norm(); });
  std::string text =
      is_convergence(result) || converged.empty()
          ? qn_text(result, projected_gradient(state, lower, upper), rounds,
                    what)
          : converged + "; a further round found nothing lower (NLopt " +
                nlopt_result_to_string(result) + ")";
  // Said also where the iteration limit or the no-progress stop ended the
  // run; never after an interrupt.
  const std::optional<Termination>& stop = monitor.reason();
  const std::string left =
      !stop || *stop == Termination::kIterationLimit ||
              *stop == Termination::kNoProgress
          ? gauss_newton_left_text(unknowns, state.best_y, "lbfgsb")
          : "";
  Summary summary =
      finish_library_run("lbfgsb",
                         is_convergence(result) || !converged.empty()
                             ? Termination::kOptimumReached
                             : Termination::kLibraryFailure,
                         text + left, monitor, objective);
  if (stop && !left.empty()) summary.message = left.substr(2);
  return summary;
}

}  // namespace identify
