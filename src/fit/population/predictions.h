// What a population fit predicts for each measurement of one subject: the
// population prediction PRED (η = 0), the individual prediction IPRED
// (η = η̂) and the individual weighted residual IWRES = (h(v) − h(IPRED))/σ
// at η̂, on the observable's noise scale h.
#pragma once

#include <vector>

#include "fit/population/population_fit.h"
#include "problem/fit_problem.h"

namespace identify {

struct SubjectPredictions {
  std::vector<double> pred, ipred, iwres;  // per measurement, in order
};

// The predictions of subject `subject` at the estimates of `fit`.
SubjectPredictions subject_predictions(const FitProblem& problem,
                                       const PopulationFit& fit, int subject);

// The values of the problem's individual definitions for a subject: at the
// fit's θ with the effects' slots set to its η̂, in definition order.
std::vector<double> individual_values(const FitProblem& problem,
                                      const PopulationFit& fit, int subject);

}  // namespace identify
