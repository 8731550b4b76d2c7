// L-BFGS with the exact gradient (outer_gradient.h) where the jet model
// covers the problem, else BOBYQA, over x = (s_k = scale(θ_k) for the
// fitted fixed effects, u) with the OFV of focei_objective.h as its
// function; a point whose OFV is not finite counts as +inf (the optimiser
// then moves away from it). Where L-BFGS's line search gives up (rounding
// of the OFV near the optimum), BOBYQA finishes from its point. Each start's
// run stops when a step changes no coordinate of x by more than kStepTolerance
// or the OFV by less than kOfvTolerance. With several starts each first
// runs to the coarse tolerances, and only the best is then run to the full
// ones, from a short first step. The coarse runs of the starts share the
// threads among them; the single run, and the polish, share them among
// the subjects of each evaluation.
#include "fit/population/population_fit.h"

#include <nlopt.h>

#include <cmath>
#include <limits>
#include <memory>
#include <tuple>
#include <utility>

#include "fit/multistart/random_stream.h"
#include "fit/multistart/worker_pool.h"
#include "fit/population/focei_objective.h"
#include "fit/population/omega.h"
#include "fit/population/outer_gradient.h"

namespace identify {

namespace {

constexpr double kStepTolerance = 1e-7;
constexpr double kOfvTolerance = 1e-10;
// The coarse runs of several starts, and the first step of the polish.
constexpr double kCoarseStepTolerance = 1e-2;
constexpr double kCoarseOfvTolerance = 1e-2;
constexpr double kPolishStep = 0.02;
// The first step of BOBYQA where it finishes a run of L-BFGS.
constexpr double kFinishStep = 1e-3;

struct Outer {
  const FitProblem* problem;
  const std::vector<int>* fitted;
  const OmegaParameters* omega;
  FoceiObjective* objective;
  std::vector<double> theta;
  int evaluations = 0;
  bool gradient = false;  // L-BFGS on the exact gradient, else BOBYQA
  Eigen::VectorXd gradient_x;  // x of the last gradient
};

// θ and u from x.
void unpack(Outer& o, const double* x) {
  const std::vector<int>& f = *o.fitted;
  for (std::size_t k = 0; k < f.size(); ++k) {
    o.theta[f[k]] = from_scaled(o.problem->parameters[f[k]].scale, x[k]);
  }
}

double outer_value(unsigned n, const double* x, double* grad, void* data) {
  Outer& o = *static_cast<Outer*>(data);
  ++o.evaluations;
  unpack(o, x);
  const std::size_t nf = o.fitted->size();
  const Eigen::MatrixXd L =
      o.omega->factor(std::span<const double>(x + nf, n - nf));
  const Eigen::Map<const Eigen::VectorXd> here(x, n);
  if (o.gradient_x.size() == here.size()) {
    o.objective->predict_modes(here - o.gradient_x);
  }
  o.gradient_x.resize(0);
  const double v = o.objective->evaluate(o.theta, L);
  if (grad != nullptr) {
    std::fill(grad, grad + n, 0.0);
    const OuterPoint point =
        outer_point(*o.problem, *o.fitted, *o.omega,
                    std::span<const double>(x, n), o.theta);
    Eigen::VectorXd total;
    std::vector<Eigen::VectorXd> scores;
    if (std::isfinite(v) && o.objective->gradient(point, total, scores)) {
      std::copy(total.data(), total.data() + n, grad);
      o.gradient_x = here;
    }
  }
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
      return r > 0 ? "the optimiser met its tolerance" : "the optimiser failed";
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

// The bounds of x: the fitted fixed effects' on their scales, none on u.
struct Box {
  Box(const FitProblem& problem, const std::vector<int>& fitted, int u_size)
      : lower(fitted.size() + u_size, -HUGE_VAL),
        upper(fitted.size() + u_size, HUGE_VAL) {
    for (std::size_t k = 0; k < fitted.size(); ++k) {
      const Parameter& q = problem.parameters[fitted[k]];
      lower[k] = to_scaled(q.scale, q.lower);
      upper[k] = to_scaled(q.scale, q.upper);
    }
  }
  std::vector<double> lower, upper;
};

// One BOBYQA run's tolerances, first step and evaluation limit.
struct Run {
  double step_tolerance, ofv_tolerance, step;
  int max_evaluations;
};

// BOBYQA from x (updated to its end); the OFV there and NLopt's verdict.
std::pair<double, nlopt_result> minimise(Outer& outer, const Box& box,
                                         const Run& run,
                                         std::vector<double>& x) {
  const unsigned n = static_cast<unsigned>(x.size());
  if (n == 0) return {outer_value(0, x.data(), nullptr, &outer), NLOPT_SUCCESS};
  std::vector<double> step(n, run.step);
  for (unsigned k = 0; k < n; ++k) {
    const double width = box.upper[k] - box.lower[k];
    if (std::isfinite(width)) step[k] = std::min(run.step, 0.25 * width);
  }
  const auto run_with = [&](nlopt_algorithm algorithm) {
    nlopt_opt opt = nlopt_create(algorithm, n);
    nlopt_set_min_objective(opt, outer_value, &outer);
    nlopt_set_lower_bounds(opt, box.lower.data());
    nlopt_set_upper_bounds(opt, box.upper.data());
    nlopt_set_initial_step(opt, step.data());
    nlopt_set_xtol_abs1(opt, run.step_tolerance);
    nlopt_set_ftol_abs(opt, run.ofv_tolerance);
    nlopt_set_maxeval(opt, run.max_evaluations);
    double value = INFINITY;
    const nlopt_result r = nlopt_optimize(opt, x.data(), &value);
    nlopt_destroy(opt);
    return std::pair<double, nlopt_result>(value, r);
  };
  if (!outer.gradient) return run_with(NLOPT_LN_BOBYQA);
  const std::pair<double, nlopt_result> lbfgs = run_with(NLOPT_LD_LBFGS);
  if (lbfgs.second != NLOPT_FAILURE && lbfgs.second != NLOPT_ROUNDOFF_LIMITED) {
    return lbfgs;
  }
  // The line search of L-BFGS gave up (the OFV's rounding near the
  // optimum): BOBYQA finishes from its point with short first steps.
  std::fill(step.begin(), step.end(), kFinishStep);
  outer.gradient = false;
  const std::pair<double, nlopt_result> finish = run_with(NLOPT_LN_BOBYQA);
  outer.gradient = true;
  return finish;
}

constexpr Run kFull{kStepTolerance, kOfvTolerance, 0.3, 20000};
constexpr Run kCoarse{kCoarseStepTolerance, kCoarseOfvTolerance, 0.3, 20000};

// The coarse run of every start, the starts shared among the workers, each
// worker with an objective of its own that evaluates its subjects in turn:
// a start's run depends only on the start.
void coarse_runs(const FitProblem& problem, PopulationFit& fit,
                 const OmegaParameters& omega, const Box& box,
                 const PopulationSettings& settings,
                 std::vector<std::vector<double>>& ends,
                 std::vector<nlopt_result>& results) {
  const int starts = static_cast<int>(ends.size());
  WorkerPool pool(std::max(1, std::min(settings.threads, starts)));
  std::vector<std::unique_ptr<FoceiObjective>> objectives(pool.threads());
  std::vector<int> evaluations(starts, 0);
  Run coarse = kCoarse;
  coarse.max_evaluations = settings.max_evaluations;
  pool.run(starts, [&](int worker, int s) {
    if (!objectives[worker]) {
      objectives[worker] = std::make_unique<FoceiObjective>(problem, 1);
    }
    objectives[worker]->reset_modes();
    Outer outer{&problem, &fit.fitted, &omega, objectives[worker].get(),
                problem.values()};
    outer.gradient = objectives[worker]->enable_gradient(fit.fitted);
    ends[s] = start_point(problem, fit.fitted, omega, s, settings.seed);
    std::tie(fit.start_ofv[s], results[s]) =
        minimise(outer, box, coarse, ends[s]);
    evaluations[s] = outer.evaluations;
  });
  for (int e : evaluations) fit.evaluations += e;
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
  outer.gradient = objective.enable_gradient(fit.fitted);
  Box box(problem, fit.fitted, omega.size());
  const int starts = std::max(settings.starts, 1);
  Run full = kFull;
  full.max_evaluations = settings.max_evaluations;
  std::vector<std::vector<double>> ends(starts);
  std::vector<nlopt_result> results(starts, NLOPT_FAILURE);
  fit.start_ofv.assign(starts, INFINITY);
  if (starts == 1) {
    ends[0] = start_point(problem, fit.fitted, omega, 0, settings.seed);
    std::tie(fit.start_ofv[0], results[0]) =
        minimise(outer, box, full, ends[0]);
  } else {
    coarse_runs(problem, fit, omega, box, settings, ends, results);
  }
  std::vector<double> best_x;
  double best = INFINITY;
  nlopt_result best_result = NLOPT_FAILURE;
  for (int s = 0; s < starts; ++s) {
    if (fit.start_ofv[s] < best) {
      std::tie(best, best_x, fit.best_start, best_result) =
          std::tuple(fit.start_ofv[s], ends[s], s, results[s]);
    }
  }
  if (best_x.empty()) best_x = start_point(problem, fit.fitted, omega, 0, 0);
  if (starts > 1 && std::isfinite(best)) {
    Run polish = full;
    polish.step = kPolishStep;
    best_result = minimise(outer, box, polish, best_x).second;
  }
  fit.converged = best_result > 0 && best_result != NLOPT_MAXEVAL_REACHED;
  fit.stop = stop_text(best_result);
  fit.optimiser = outer.gradient ? "L-BFGS, exact gradient" : "BOBYQA";
  fit.evaluations += outer.evaluations;
  // The modes and OFV at the best point, from η = 0 as a fresh start.
  objective.reset_modes();
  fit.ofv = outer_value(static_cast<unsigned>(box.lower.size()), best_x.data(),
                        nullptr, &outer);
  if (fit.ofv == std::numeric_limits<double>::max()) fit.ofv = INFINITY;
  fit.theta = outer.theta;
  fit.omega_u.assign(best_x.begin() + fit.fitted.size(), best_x.end());
  fit.omega = OmegaTerms::from_factor(omega.factor(fit.omega_u)).omega;
  fit.modes = objective.modes();
  return fit;
}

}  // namespace identify
