// A population problem from fit to files: the FOCE-I fit
// (population_fit.h), its report on `out`, and its tables
// (population_tables.h) written to the named files.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <string>

#include "fit/population/covariance_kind.h"
#include "problem/fit_problem.h"

namespace identify {

struct PopulationRun {
  std::string parameters, individual, fit;  // table files
  std::string report;  // also to this file; "-": standard error; "": none
  std::string plot;    // the picture (population_plot.h); "": none
  int starts = 1;
  std::uint64_t seed = 1;
  int threads = 1;
  CovarianceKind covariance = CovarianceKind::kSandwich;
};

enum class PopulationOutcome {
  kFitted,        // the outer optimiser met its tolerance
  kLimitReached,  // it stopped at its evaluation limit
  kNotFinite,     // no start reached a finite OFV
  kOutputError,   // a table or the report could not be written
};

// Fits, reports and writes; a failure is said on `err` with the prefix
// "identify: ".
PopulationOutcome run_population(const FitProblem& problem,
                                 const PopulationRun& run, std::ostream& out,
                                 std::ostream& err);

}  // namespace identify
