// Writing a population fit: Ω's SDs and correlations from its entries,
// ω_k = sqrt(Ω_kk) and ρ_kl = Ω_kl/(ω_k·ω_l); the shrinkages from the
// sample SDs (denominator n − 1) over the subjects with measurements.
#include "output/population_tables.h"

#include <Eigen/Core>
#include <cmath>
#include <cstdio>
#include <set>

#include "fit/population/omega.h"
#include "fit/population/predictions.h"
#include "problem/parameter.h"

namespace identify {

namespace {

std::string num(double v) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.10g", v);
  return buffer;
}

// The parameters that some measurement's sigma uses.
std::set<int> error_parameters(const FitProblem& problem) {
  std::set<int> out;
  for (const Experiment& e : problem.experiments) {
    for (const Measurement& m : e.measurements) {
      for (int k : m.sigma.parameters()) out.insert(k);
    }
  }
  return out;
}

double sample_sd(const std::vector<double>& v) {
  if (v.size() < 2) return NAN;
  double mean = 0.0;
  for (double x : v) mean += x;
  mean /= static_cast<double>(v.size());
  double ss = 0.0;
  for (double x : v) ss += (x - mean) * (x - mean);
  return std::sqrt(ss / static_cast<double>(v.size() - 1));
}

// The delta method: the standard error of a reported quantity q(x) is
// sqrt(∇qᵀ·C·∇q), C the covariance step's matrix over x; ∇q exact from the
// scales' slopes and ∂Ω/∂u_l (omega.h): ∂ω_a = ∂Ω_aa/(2ω_a) and
// ∂ρ_ij = ∂Ω_ij/(ω_i ω_j) − ρ_ij·(∂Ω_ii/(2Ω_ii) + ∂Ω_jj/(2Ω_jj)). The
// interval is q ± 1.959963985·SE.
class Uncertainty {
 public:
  Uncertainty(const FitProblem& problem, const PopulationFit& fit,
              const CovarianceStep& covariance, const OmegaParameters& omega)
      : problem_(problem), fit_(fit), c_(covariance) {
    if (!c_.available) return;
    for (int l = 0; l < omega.size(); ++l) {
      d_omega_.push_back(omega.omega_derivative(fit.omega_u, l));
    }
  }
  Eigen::VectorXd of_fixed(std::size_t f) const {
    Eigen::VectorXd g = zero();
    if (g.size() == 0) return g;
    const Scale scale = problem_.parameters[fit_.fitted[f]].scale;
    g[f] = unscaled_per_scaled(scale,
                               to_scaled(scale, fit_.theta[fit_.fitted[f]]));
    return g;
  }
  Eigen::VectorXd of_sd(int a) const {
    Eigen::VectorXd g = zero();
    const double sd = std::sqrt(fit_.omega(a, a));
    for (std::size_t l = 0; l < d_omega_.size(); ++l) {
      g[fit_.fitted.size() + l] = d_omega_[l](a, a) / (2.0 * sd);
    }
    return g;
  }
  Eigen::VectorXd of_correlation(int i, int j) const {
    Eigen::VectorXd g = zero();
    const Eigen::MatrixXd& w = fit_.omega;
    const double rho = w(i, j) / std::sqrt(w(i, i) * w(j, j));
    for (std::size_t l = 0; l < d_omega_.size(); ++l) {
      const Eigen::MatrixXd& d = d_omega_[l];
      g[fit_.fitted.size() + l] =
          d(i, j) / std::sqrt(w(i, i) * w(j, j)) -
          rho * (d(i, i) / (2.0 * w(i, i)) + d(j, j) / (2.0 * w(j, j)));
    }
    return g;
  }
  // "\tse\trse\tlower\tupper" for estimate q with gradient g; empty
  // fields without a covariance or for a quantity that is not estimated.
  std::string columns(double q, const Eigen::VectorXd& g) const {
    if (!c_.available || g.size() == 0 || g.isZero()) return "\t\t\t\t";
    const double se = std::sqrt(g.dot(c_.covariance * g));
    const double z = 1.959963984540054;
    return "\t" + num(se) + "\t" + num(100.0 * se / std::abs(q)) + "\t" +
           num(q - z * se) + "\t" + num(q + z * se);
  }

 private:
  Eigen::VectorXd zero() const {
    return c_.available ? Eigen::VectorXd::Zero(c_.covariance.rows())
                        : Eigen::VectorXd();
  }
  const FitProblem& problem_;
  const PopulationFit& fit_;
  const CovarianceStep& c_;
  std::vector<Eigen::MatrixXd> d_omega_;
};

}  // namespace

std::string population_parameters_table(const FitProblem& problem,
                                        const PopulationFit& fit,
                                        const CovarianceStep& covariance) {
  std::string t =
      "parameter\tkind\testimate\tvariance\tcv_percent\tse\trse_percent\t"
      "lower95\tupper95\n";
  const std::set<int> errors = error_parameters(problem);
  const OmegaParameters omega(problem.population);
  const Uncertainty u(problem, fit, covariance, omega);
  for (std::size_t f = 0; f < fit.fitted.size(); ++f) {
    const int k = fit.fitted[f];
    t += problem.parameters[k].name + "\t" +
         (errors.count(k) ? "error" : "fixed") + "\t" + num(fit.theta[k]) +
         "\t\t" + u.columns(fit.theta[k], u.of_fixed(f)) + "\n";
  }
  const Population& pop = problem.population;
  for (int a = 0; a < pop.effect_count(); ++a) {
    const double w2 = fit.omega(a, a);
    t += pop.effects[a].name + "\trandom sd\t" + num(std::sqrt(w2)) + "\t" +
         num(w2) + "\t" + num(100.0 * std::sqrt(std::expm1(w2))) +
         u.columns(std::sqrt(w2), u.of_sd(a)) + "\n";
  }
  for (const std::vector<int>& block : pop.correlated) {
    for (std::size_t r = 1; r < block.size(); ++r) {
      for (std::size_t c = 0; c < r; ++c) {
        const int i = block[r], j = block[c];
        const double rho =
            fit.omega(i, j) / std::sqrt(fit.omega(i, i) * fit.omega(j, j));
        t += "corr(" + pop.effects[j].name + "," + pop.effects[i].name +
             ")\tcorrelation\t" + num(rho) + "\t\t" +
             u.columns(rho, u.of_correlation(i, j)) + "\n";
      }
    }
  }
  return t;
}

std::string population_individual_table(const FitProblem& problem,
                                        const PopulationFit& fit) {
  const Population& pop = problem.population;
  std::string t = "subject";
  for (const RandomEffect& e : pop.effects) t += "\t" + e.name;
  for (const IndividualValue& v : pop.individual) t += "\t" + v.name;
  t += "\tofv\n";
  for (std::size_t i = 0; i < problem.experiments.size(); ++i) {
    t += problem.experiments[i].id;
    for (int k = 0; k < pop.effect_count(); ++k) {
      t += "\t" + num(fit.modes[i].eta[k]);
    }
    for (double v : individual_values(problem, fit, static_cast<int>(i))) {
      t += "\t" + num(v);
    }
    t += "\t" + num(fit.modes[i].ofv) + "\n";
  }
  return t;
}

std::string population_fit_table(const FitProblem& problem,
                                 const PopulationFit& fit) {
  std::string t =
      "experiment\tobservable\ttime\tmeasured\tPRED\tIPRED\tIWRES\tCWRES\n";
  for (std::size_t i = 0; i < problem.experiments.size(); ++i) {
    const Experiment& e = problem.experiments[i];
    const SubjectPredictions p =
        subject_predictions(problem, fit, static_cast<int>(i));
    for (std::size_t j = 0; j < e.measurements.size(); ++j) {
      const Measurement& m = e.measurements[j];
      t += e.id + "\t" + problem.observables[m.observable] + "\t" +
           num(m.time) + "\t" + num(m.value) + "\t" + num(p.pred[j]) + "\t" +
           num(p.ipred[j]) + "\t" + num(p.iwres[j]) + "\t" + num(p.cwres[j]) +
           "\n";
    }
  }
  return t;
}

std::string covariance_warning(const CovarianceStep& covariance) {
  return std::string(
             "the covariance step's R matrix (the Hessian of -ln L) "
             "is not positive definite; the standard errors are "
             "from S^-1 instead of ") +
         (covariance.requested == CovarianceKind::kR ? "R^-1" : "R^-1 S R^-1");
}

std::string mode_warning(const FitProblem& problem, const PopulationFit& fit) {
  std::string names;
  for (std::size_t i = 0; i < fit.modes.size(); ++i) {
    if (!fit.modes[i].stalled) continue;
    names += (names.empty() ? "" : ", ") + problem.experiments[i].id;
  }
  if (names.empty()) return names;
  return "the conditional modes of " + names +
         " stopped short of stationarity (iteration limit, or |df/deta| "
         "above " +
         num(kSettledGradient) + "): their EBEs and OFV terms are approximate";
}

std::string population_report(const FitProblem& problem,
                              const PopulationFit& fit,
                              const CovarianceStep& covariance) {
  const Population& pop = problem.population;
  const double p = static_cast<double>(fit.fitted.size() + fit.omega_u.size());
  const double n = static_cast<double>(problem.measurement_count());
  std::string r = "population fit (FOCE-I), " +
                  std::to_string(problem.experiments.size()) + " subjects, " +
                  num(n) + " measurements\n";
  r += "OFV (-2 ln L)\t" + num(fit.ofv) + "\n";
  r += "log-likelihood\t" + num(-0.5 * fit.ofv) + "\n";
  r += "AIC\t" + num(fit.ofv + 2.0 * p) + "\n";
  r += "BIC\t" + num(fit.ofv + p * std::log(n)) + "\n";
  std::vector<double> iwres;
  for (std::size_t i = 0; i < problem.experiments.size(); ++i) {
    const SubjectPredictions s =
        subject_predictions(problem, fit, static_cast<int>(i));
    iwres.insert(iwres.end(), s.iwres.begin(), s.iwres.end());
  }
  for (int k = 0; k < pop.effect_count(); ++k) {
    std::vector<double> etas;
    for (std::size_t i = 0; i < problem.experiments.size(); ++i) {
      if (!problem.experiments[i].measurements.empty()) {
        etas.push_back(fit.modes[i].eta[k]);
      }
    }
    r += "eta shrinkage " + pop.effects[k].name + "\t" +
         num(100.0 * (1.0 - sample_sd(etas) / std::sqrt(fit.omega(k, k)))) +
         " %\n";
  }
  r += "eps shrinkage\t" + num(100.0 * (1.0 - sample_sd(iwres))) + " %\n";
  r += "covariance step\t";
  if (covariance.available) {
    r += std::string(covariance.used == CovarianceKind::kSandwich
                         ? "sandwich R^-1 S R^-1"
                     : covariance.used == CovarianceKind::kR ? "R^-1"
                                                             : "S^-1") +
         ", condition number " + num(covariance.condition) + "\n";
  } else {
    r += "none (no positive definite matrix to invert, or no outer "
         "gradient for this model)\n";
  }
  if (covariance.r_not_positive)
    r += "warning\t" + covariance_warning(covariance) + "\n";
  r += "outer optimiser (" + fit.optimiser + ")\t" + fit.stop + ", " +
       std::to_string(fit.evaluations) + " evaluations over " +
       std::to_string(fit.start_ofv.size()) + " starts, best start " +
       std::to_string(fit.best_start + 1) + "\n";
  const std::string modes = mode_warning(problem, fit);
  if (!modes.empty()) r += "warning\t" + modes + "\n";
  return r;
}

}  // namespace identify
