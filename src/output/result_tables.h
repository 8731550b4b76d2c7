// The result tables of a problem file run: the parameter table
// (PROBLEM.parameters.tsv), the table of measurements with their model
// values and residuals (PROBLEM.fit.tsv), and the parameter table as the
// console shows it. The files are tab-separated with a header row, numbers
// with 17 significant digits so that they read back as the same doubles,
// "inf" and "-inf" for infinite bounds and an empty field where a value
// does not exist (the standard error of a fixed parameter).
#pragma once

#include <cstddef>
#include <functional>
#include <iosfwd>
#include <span>
#include <string>
#include <vector>

#include "fit/fit_statistics.h"
#include "output/bootstrap_table.h"
#include "output/search_report.h"
#include "problem/fit_problem.h"

namespace identify {

// One fit as the tables show it: of the whole problem, or with
// --separately of one experiment (`experiment` its id, and `problem` the
// problem of that experiment alone).
struct FitResultView {
  std::string experiment;  // empty: the fit of the whole problem
  const FitProblem* problem = nullptr;
  const FitStatistics* stats = nullptr;
  std::vector<int> parameters;  // the rows: indices into problem->parameters
  // Per measurement of `problem`, in problem order: the model value,
  // sigma, the measurement and the model value on the observable's
  // transformed scale, and the standardised residual there, at the result.
  // They view the columns of the evaluation at the result, which the
  // holder of the view keeps (a measurement's columns are never copied).
  // sigma may be empty where every σ is a constant (the measurement's own
  // sigma), and the transformed ones where no observable is transformed.
  std::span<const double> simulation;
  std::span<const double> sigma;
  std::span<const double> transformed_measurement;
  std::span<const double> transformed_simulation;
  std::span<const double> weighted;
  // The profile intervals of the fit; null when no profile ran.
  const ProfilesReport* profiles = nullptr;
  // The bootstrap of the fit; null when none ran.
  const BootstrapReport* bootstrap = nullptr;
};

// "estimated", "fixed", "at lower bound", "at upper bound" or "not
// determined" (estimated, but with a share in a direction the data leave
// flat; never said of a fit whose sum of squares is not finite).
std::string status_word(const FitStatistics& stats, int parameter);

// Header parameterId, estimate, standardError, lower95, upper95, scale,
// lowerBound, upperBound, status, profileLower, profileUpper, preceded by
// `experiment` when any fit is of one experiment; one row per parameter of
// each fit, fit after fit. An interval cut at a bound (cut_at_bounds) shows
// the bound. The profile columns are always there, each side of the
// profile interval (profile_interval_fields), empty for an open side, a
// parameter not profiled, or a run without --profile, "interrupted" for a
// side an interrupt cut short. When any fit was bootstrapped the columns
// bootstrapLower and bootstrapUpper follow, its percentile interval (empty
// where there is none).
std::string format_parameter_table(const std::vector<FitResultView>& fits);

// Header experiment, observable, time, measurement, simulation, sigma,
// residual, weightedResidual; one row per measurement, fit after fit, with
// residual = simulation − measurement and weightedResidual the standardised
// residual (h(simulation) − h(measurement))/sigma on the observable's scale
// h (residual/sigma for lin). When some observable is compared on a log
// scale, the columns transformation, transformedMeasurement and
// transformedSimulation follow.
std::string format_fit_table(const std::vector<FitResultView>& fits);

// The same table in pieces of about kFitTableChunk bytes, row by row, so
// that a table of millions of rows never stands whole in memory: `flush`
// gets the text so far, takes what it wants and leaves it cleared.
inline constexpr std::size_t kFitTableChunk = std::size_t{1} << 16;
void stream_fit_table(const std::vector<FitResultView>& fits,
                      const std::function<void(std::string&)>& flush);

// Writes the fit table to `path` (an OutputFile) as it is formatted.
// Returns "" or the system's reason.
std::string write_fit_table(const std::string& path,
                            const std::vector<FitResultView>& fits);

// The parameter table for people: name, estimate and standard error to six
// digits, status, in aligned columns (an experiment column first when any
// fit is of one experiment), ending with an empty line.
void print_parameter_table(std::ostream& out,
                           const std::vector<FitResultView>& fits);

}  // namespace identify
