// The fit report: a plain-text account of a finished run for the person who
// has to judge it: why the run stopped, how well the model fits the
// measurements, how sure each parameter (each entry of A, for the legacy
// files) is, and which combinations of them the data cannot resolve.
#pragma once

#include <cstdint>
#include <iosfwd>
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

// The parts the report of a problem file shares with this one.

// What the report calls the quantities fitted, in the singular and the
// plural, and the word for those that move: "entry", "entries", "free" for
// the legacy files, "parameter", "parameters", "estimated" for a problem
// file.
struct ReportNouns {
  const char* one;
  const char* many;
  const char* moving;
};
inline constexpr ReportNouns kEntryNouns{"entry", "entries", "free"};

// One "  label   value   note" line, the values in one column.
void report_line(std::ostream& out, const std::string& label,
                 const std::string& value, const std::string& note = "");

// The identifiability section: rank and condition of J, the combinations
// the data cannot tell apart, the highly correlated pairs.
void report_identifiability(std::ostream& out, const FitStatistics& stats,
                            const ReportNouns& nouns);

}  // namespace identify
