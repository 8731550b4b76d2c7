// The result tables and the report of a population fit (TSV, one header
// line, numbers in %.10g):
//   parameters: parameter, kind, estimate, variance, cv_percent, se,
//     rse_percent, lower95, upper95 (the last four from the covariance
//     step by the delta method, empty without one) — the
//     fixed effects ("fixed", or "error" for those a sigma uses), each
//     random effect's SD ("random sd", with its variance and the CV% of a
//     log-normal parameter, 100·sqrt(exp(ω²) − 1)), and each correlation
//     of a correlated block ("correlation");
//   individual: subject, every η̂ (EBE), every individual value, ofv;
//   fit: experiment, observable, time, measured, PRED, IPRED, IWRES,
//     CWRES.
// The report states the OFV, −2 ln L, AIC = OFV + 2p and
// BIC = OFV + p·ln n (p fitted fixed effects and Ω entries, n
// measurements), the η-shrinkage 1 − SD(η̂_k)/ω_k of each effect and the
// ε-shrinkage 1 − SD(IWRES), how the outer optimiser ended, and the
// covariance step's kind and condition number (or why there is none).
#pragma once

#include <string>

#include "fit/population/covariance_step.h"
#include "fit/population/population_fit.h"
#include "problem/fit_problem.h"

namespace identify {

std::string population_parameters_table(
    const FitProblem& problem, const PopulationFit& fit,
    const CovarianceStep& covariance = CovarianceStep());
std::string population_individual_table(const FitProblem& problem,
                                        const PopulationFit& fit);
std::string population_fit_table(const FitProblem& problem,
                                 const PopulationFit& fit);
std::string population_report(
    const FitProblem& problem, const PopulationFit& fit,
    const CovarianceStep& covariance = CovarianceStep());
// What the report and the warning say when R was not positive definite.
std::string covariance_warning(const CovarianceStep& covariance);
// What they say when the conditional modes of some subjects stalled at the
// estimates (SubjectMode::stalled); empty when none did.
std::string mode_warning(const FitProblem& problem, const PopulationFit& fit);

}  // namespace identify
