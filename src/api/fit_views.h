// The fitted model as the trajectory files and the plot show it: the states
// of the result at chosen times, the measurements beside them, the
// residuals and the norm traces of the fits.
#pragma once

#include <vector>

#include "api/fit_results.h"
#include "api/problem_fits.h"
#include "output/plot_file.h"
#include "output/trajectory_file.h"

namespace identify {

// The plot of a single fit whose observables each read one state as it is
// (every observable of the legacy files): `states` of the result at
// `times`, one panel per such observable with its counted measurements,
// the fit's norm trace and its search panels.
PlotData single_fit_plot(const ProblemFit& fit, std::vector<double> times,
                         Table states);

// The model of every experiment of every fit on a fine grid of 1001 times
// from 0 to its last measurement (the problem's end time, at least 1, for
// an experiment without any): states and observables.
std::vector<ExperimentTrajectory> fine_trajectories(
    std::vector<ProblemFit>& fits);

// The plot of the fits of a problem file: one series per observable and
// experiment with measurements, drawn along `curves`
// (fine_trajectories), the weighted residuals of `results`, the norm traces
// of the fits one after another, and their search panels.
PlotData problem_plot(bool log_y, const std::vector<ProblemFit>& fits,
                      const ResultViews& results,
                      const std::vector<ExperimentTrajectory>& curves);

}  // namespace identify
