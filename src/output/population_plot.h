// The picture of a population fit (plot_file.h draws it): the
// goodness-of-fit panels — measured against PRED and against IPRED with the
// identity line, CWRES against time and against PRED with the zero line, a
// normal QQ plot of each random effect's standardised EBEs η̂_k/ω_k with
// the identity line — then one panel per subject and observable with the
// measurements, the individual prediction (line) and the population
// prediction (dashed) on a fine time grid.
#pragma once

#include "fit/population/population_fit.h"
#include "output/plot_file.h"
#include "problem/fit_problem.h"

namespace identify {

PlotData population_plot_data(const FitProblem& problem,
                              const PopulationFit& fit);

// Φ⁻¹(p) for 0 < p < 1, the standard normal quantile.
double normal_quantile(double p);

}  // namespace identify
