// What a population fit predicts for each measurement of one subject: the
// population prediction PRED (η = 0), the individual prediction IPRED
// (η = η̂) and the individual weighted residual IWRES = (h(v) − h(IPRED))/σ
// at η̂, on the observable's noise scale h, and the conditional weighted
// residual of the FOCE literature,
//
//   CWRES_i = C_i^(−1/2)·(h(v_i) − E_i),  E_i = h(IPRED_i) − G_i·η̂_i,
//   C_i = G_i·Ω·G_iᵀ + diag(σ_j²),      G_i = ∂h(y_i)/∂η at η̂_i,
//
// the residual of the model linearised about the conditional mode, C^(−1/2)
// the symmetric inverse square root (independent of the sample order).
#pragma once

#include <vector>

#include "fit/population/population_fit.h"
#include "problem/fit_problem.h"

namespace identify {

struct SubjectPredictions {
  std::vector<double> pred, ipred, iwres, cwres;  // per measurement, in order
};

// The predictions of subject `subject` at the estimates of `fit`.
SubjectPredictions subject_predictions(const FitProblem& problem,
                                       const PopulationFit& fit, int subject);

// The values of the problem's individual definitions for a subject: at the
// fit's θ with the effects' slots set to its η̂, in definition order.
std::vector<double> individual_values(const FitProblem& problem,
                                      const PopulationFit& fit, int subject);

}  // namespace identify
