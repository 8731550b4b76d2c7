// The fit report: a plain-text account of a finished run for the person who
// has to judge it: why the run stopped, how well the model fits the
// measurements, how sure each parameter (each entry of A, for the legacy
// files) is, and which combinations of them the data cannot resolve.
#pragma once

#include <cstdint>
#include <string>

#include "fit/fit_statistics.h"

namespace identify {

// What the report says about the run itself.
struct RunSummary {
  std::string method;  // "descent", "lm", "lbfgsb"
  std::string model;   // "grid", "exact"
  std::string stop;    // one line: why the run stopped, with numbers
  std::int64_t iterations = 0;
  double seconds = 0.0;  // wall time of the run
};

// The report text, every parameter under its own name. Numbers in %g with
// six significant digits; "n/a" with a reason where a value does not exist
// (no degrees of freedom, no residuals).
std::string format_fit_report(const FitStatistics& stats,
                              const RunSummary& run);

}  // namespace identify
