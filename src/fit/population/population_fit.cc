// BOBYQA over x = (s_k = scale(θ_k) for the fitted fixed effects, u) with
// the OFV of focei_objective.h as its function; a point whose OFV is not
// finite counts as +inf (BOBYQA then moves away from it). Each start's run
// stops when a step changes no coordinate of x by more than kStepTolerance
// or the OFV by less than kOfvTolerance.
#include "fit/population/population_fit.h"

#include <nlopt.h>

#include <cmath>
#include <limits>

#include "fit/multistart/random_stream.h"
#include "fit/population/focei_objective.h"
#include "fit/population/omega.h"

namespace identify {

namespace {

constexpr double kStepTolerance = 1e-7;
constexpr double kOfvTolerance = 1e-10;

struct Outer {
  const FitProblem* problem;
  const std::vector<int>* fitted;
  const OmegaParameters* omega;
  FoceiObjective* objective;
  std::vector<double> theta;
  int evaluations = 0;
};

// θ and u from x.
void unpack(Outer& o, const double* x) {
  const std::vector<int>& f = *o.fitted;
  for (std::size_t k = 0; k < f.size(); ++k) {
    o.theta[f[k]] = from_scaled(o.problem->parameters[f[k]].scale, x[k]);
  }
}

double outer_value(unsigned n, const double* x, double*, void* data) {
  Outer& o = *static_cast<Outer*>(data);
  ++o.evaluations;
  unpack(o, x);
  const std::size_t nf = o.fitted->size();
  const Eigen::MatrixXd L =
      o.omega->factor(std::span<const double>(x + nf, n - nf));
  const double v = o.objective->evaluate(o.theta, L);
  return std::isfinite(v) ? v : std::numeric_limits<double>::max();
}

const char* stop_text(nlopt_result r) {
  switch (r) {
    case NLOPT_FTOL_REACHED:
      return "the OFV changed by less than its tolerance";
    case NLOPT_XTOL_REACHED:
      return "the steps became shorter than their tolerance";
    case NLOPT_MAXEVAL_REACHED:
      return "the evaluation limit was reached";
    case NLOPT_ROUNDOFF_LIMITED:
      return "rounding stopped further progress";
    default:
      return r > 0 ? "the optimiser met its tolerance"
                   : "the optimiser failed";
  }
}

// The start of start `s`: the problem's values for s = 0, else drawn.
std::vector<double> start_point(const FitProblem& p,
                                const std::vector<int>& fitted,
                                const OmegaParameters& omega, int s,
                                std::uint64_t seed) {
  std::vector<double> x;
  RandomStream random(seed, static_cast<std::uint64_t>(s));
  for (int k : fitted) {
    const Parameter& q = p.parameters[k];
    const double v = to_scaled(q.scale, q.value);
    const double lo = to_scaled(q.scale, q.lower);
    const double hi = to_scaled(q.scale, q.upper);
    if (s == 0) {
      x.push_back(v);
    } else if (std::isfinite(lo) && std::isfinite(hi)) {
      x.push_back(lo + (hi - lo) * random.uniform());
    } else {
      x.push_back(std::clamp(v + 2.0 * random.uniform() - 1.0, lo, hi));
    }
  }
  for (double u : omega.start()) x.push_back(u);
  return x;
}

}  // namespace

std::vector<int> population_fixed_effects(const FitProblem& problem) {
  std::vector<int> out;
  for (int k = 0; k < problem.parameter_count(); ++k) {
    const Parameter& p = problem.parameters[k];
    if (p.estimated && p.lower < p.upper && !problem.population.is_effect(k)) {
      out.push_back(k);
    }
  }
  return out;
}

PopulationFit fit_population(const FitProblem& problem,
                             const PopulationSettings& settings) {
  PopulationFit fit;
  fit.fitted = population_fixed_effects(problem);
  const OmegaParameters omega(problem.population);
  FoceiObjective objective(problem, std::max(settings.threads, 1));
  Outer outer{&problem, &fit.fitted, &omega, &objective, problem.values()};
  const unsigned n = static_cast<unsigned>(fit.fitted.size() + omega.size());
  std::vector<double> lower(n, -HUGE_VAL), upper(n, HUGE_VAL), step(n, 0.3);
  for (std::size_t k = 0; k < fit.fitted.size(); ++k) {
    const Parameter& q = problem.parameters[fit.fitted[k]];
    lower[k] = to_scaled(q.scale, q.lower);
    upper[k] = to_scaled(q.scale, q.upper);
    if (std::isfinite(upper[k] - lower[k])) {
      step[k] = std::min(0.3, 0.25 * (upper[k] - lower[k]));
    }
  }
  std::vector<double> best_x;
  fit.ofv = INFINITY;
  for (int s = 0; s < std::max(settings.starts, 1); ++s) {
    std::vector<double> x =
        start_point(problem, fit.fitted, omega, s, settings.seed);
    objective.reset_modes();
    nlopt_opt opt = nlopt_create(NLOPT_LN_BOBYQA, n);
    nlopt_set_min_objective(opt, outer_value, &outer);
    nlopt_set_lower_bounds(opt, lower.data());
    nlopt_set_upper_bounds(opt, upper.data());
    nlopt_set_initial_step(opt, step.data());
    nlopt_set_xtol_abs1(opt, kStepTolerance);
    nlopt_set_ftol_abs(opt, kOfvTolerance);
    nlopt_set_maxeval(opt, settings.max_evaluations);
    double value = INFINITY;
    const nlopt_result r = n == 0 ? NLOPT_SUCCESS
                                  : nlopt_optimize(opt, x.data(), &value);
    nlopt_destroy(opt);
    if (n == 0) value = outer_value(0, x.data(), nullptr, &outer);
    fit.start_ofv.push_back(value);
    if (value < fit.ofv) {
      fit.ofv = value;
      best_x = x;
      fit.best_start = s;
      fit.converged = r > 0 && r != NLOPT_MAXEVAL_REACHED;
      fit.stop = stop_text(r);
    }
  }
  fit.evaluations = outer.evaluations;
  if (best_x.empty()) best_x = start_point(problem, fit.fitted, omega, 0, 0);
  // The modes and OFV at the best point, from η = 0 as a fresh start.
  objective.reset_modes();
  fit.ofv = outer_value(n, best_x.data(), nullptr, &outer);
  if (fit.ofv == std::numeric_limits<double>::max()) fit.ofv = INFINITY;
  fit.theta = outer.theta;
  fit.omega_u.assign(best_x.begin() + fit.fitted.size(), best_x.end());
  fit.omega = OmegaTerms::from_factor(omega.factor(fit.omega_u)).omega;
  fit.modes = objective.modes();
  return fit;
}

}  // namespace identify
